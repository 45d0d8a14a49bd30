// What the end-to-end tests share: see harness.h.
#include "harness.h"

#include <grp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/xf86vmode.h>

const char MESSAGE[] = "Error setting graphics mode!";

pid_t spawn(const std::vector<std::string> &argv, const spawn_how &how)
{
	if (how.group)   // what a group leaves behind is still ours to wait for
		prctl(PR_SET_CHILD_SUBREAPER, 1);
	const pid_t pid = fork();
	if (pid != 0) {
		if (pid > 0 && how.group)
			setpgid(pid, 0);
		return pid;
	}
	if (how.group)
		setpgid(0, 0);
	const int null = open("/dev/null", O_RDWR);
	dup2(null, 0);
	dup2(how.out >= 0 ? how.out : null, 1);
	dup2(how.out >= 0 ? how.out : null, 2);
	if (how.keep >= 0)
		fcntl(how.keep, F_SETFD, 0);
	for (int sig : { SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE })
		signal(sig, SIG_DFL);
	sigset_t none;
	sigemptyset(&none);
	sigprocmask(SIG_SETMASK, &none, nullptr);
	if (how.clear)
		clearenv();
	for (const std::string &e : how.env)
		e.find('=') == std::string::npos ? unsetenv(e.c_str()) : putenv(strdup(e.c_str()));
	if ((!how.dir.empty() && chdir(how.dir.c_str()) != 0) ||
	    (how.user && (setgroups(0, nullptr) != 0 || setgid(how.user) != 0 || setuid(how.user) != 0)))
		_exit(127);
	prctl(PR_SET_PDEATHSIG, SIGKILL);   // after setuid, which clears it
	if (getppid() == 1)
		_exit(127);
	std::vector<char *> args;
	std::transform(argv.begin(), argv.end(), std::back_inserter(args), [](auto &a) { return (char *)a.c_str(); });
	args.push_back(nullptr);
	execvp(args[0], args.data());
	_exit(127);
}

run::run(const std::vector<std::string> &argv, spawn_how how)
{
	int fds[2];
	if (pipe2(fds, O_CLOEXEC) != 0)
		return;
	how.out = fds[1];
	pid = spawn(argv, how);
	close(fds[1]);
	output_pipe = fds[0];
	fcntl(output_pipe, F_SETFL, O_NONBLOCK);
}

run::~run()
{
	if (running()) {
		kill(pid, SIGKILL);
		waitpid(pid, nullptr, 0);
	}
	if (output_pipe >= 0)
		close(output_pipe);
}

bool run::running()
{
	if (status != -1 || pid <= 0)
		return false;
	// Read after its end, the output is all there; read before, it keeps a
	// full pipe from holding the program up.
	struct rusage usage;
	const bool ended = wait4(pid, &status, WNOHANG, &usage) == pid;
	char buf[4096];
	for (ssize_t n; output_pipe >= 0 && (n = read(output_pipe, buf, sizeof buf)) > 0;)
		output.append(buf, n);
	if (ended)
		peak_kb = usage.ru_maxrss;
	else
		status = -1;
	return !ended;
}

int run::exit_status(double seconds)
{
	wait_for(seconds, [&] { return !running(); });
	return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int tool(const std::vector<std::string> &argv, const std::vector<std::string> &env, std::string *output)
{
	run r(argv, { "/", env });
	const int status = r.exit_status();
	if (output)
		*output = r.output;
	return status;
}

std::vector<Window> children(Display *dpy, Window w, Window *parent)
{
	Window root = 0, up = 0, *kids = nullptr;
	unsigned n = 0;
	XQueryTree(dpy, w, &root, &up, &kids, &n);   // none where it fails
	const std::vector<Window> list(kids, kids + n);
	if (kids)
		XFree(kids);
	if (parent)
		*parent = up == root ? 0 : up;
	return list;
}

Window top_level(Display *dpy, Window w)
{
	Window parent = 0;
	for (children(dpy, w, &parent); parent; children(dpy, w, &parent))
		w = parent;
	return w;
}

static bool has_class(Display *dpy, Window w, const char *name)
{
	XClassHint hint;
	if (!XGetClassHint(dpy, w, &hint))
		return false;
	const bool same = strcmp(hint.res_class, name) == 0;
	XFree(hint.res_name);
	XFree(hint.res_class);
	return same;
}

// Whether a window shows anything: Wine maps an input-only window of a
// display's size over the area it confines the pointer to.
static bool shown(Display *dpy, Window w, XWindowAttributes *a = nullptr)
{
	XWindowAttributes own;
	a = a ? a : &own;
	return XGetWindowAttributes(dpy, w, a) && a->map_state == IsViewable && a->c_class == InputOutput;
}

Window find_window(Display *dpy, Window under, int width, int height, const char *cls, int frame)
{
	const bool at_root = under == DefaultRootWindow(dpy);
	const std::vector<Window> kids = children(dpy, under);
	for (Window kid : std::vector<Window>(kids.rbegin(), kids.rend())) {   // the one in front first
		XWindowAttributes a;
		if (!shown(dpy, kid, &a))
			continue;
		// A class is looked for inside a window manager's frame too.
		if (Window inside = cls && has_class(dpy, kid, cls) ? kid : find_window(dpy, kid, width, height, cls, frame))
			return inside;
		if (!cls && fits(a.width, a.height, width, height, frame) && (a.width == width || at_root))
			return kid;
	}
	return 0;
}

XRectangle geometry(Display *dpy, Window w)
{
	Window root, child;
	int x = 0, y = 0;
	unsigned width = 0, height = 0, border, depth;
	XGetGeometry(dpy, w, &root, &x, &y, &width, &height, &border, &depth);
	XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), 0, 0, &x, &y, &child);
	return { (short)x, (short)y, (unsigned short)width, (unsigned short)height };
}

Window focused(Display *dpy)
{
	Window f;
	int revert;
	XGetInputFocus(dpy, &f, &revert);
	return f > PointerRoot ? top_level(dpy, f) : f;
}

Window other_window(Display *dpy, XRectangle at, bool managed)
{
	Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), at.x, at.y, at.width, at.height, 0, 0, 0x808080);
	XSizeHints hints = {};
	hints.flags = USPosition | USSize;
	hints.x = at.x, hints.y = at.y, hints.width = at.width, hints.height = at.height;
	XSetWMNormalHints(dpy, w, &hints);
	// A window manager reparents the window, frames and maps it; a map request
	// taken before it was ready can go unanswered for good: ask again.
	wait_for(managed ? START_SECONDS : 0, [&] {
		XMapRaised(dpy, w);
		XSync(dpy, False);
		return !managed || (top_level(dpy, w) != w && shown(dpy, w));
	});
	return w;
}

void send_message(Display *dpy, Window to, Window about, const char *type, long data, long mask)
{
	XEvent e = {};
	e.xclient = { ClientMessage, 0, False, dpy, about, XInternAtom(dpy, type, False), 32, {} };
	e.xclient.data.l[0] = data;
	XSendEvent(dpy, to, False, mask, &e);
	XSync(dpy, False);
}

std::vector<XRectangle> monitors(Display *dpy, int *primary)
{
	std::vector<XRectangle> found;
	int n = 0;
	XRRMonitorInfo *m = XRRGetMonitors(dpy, DefaultRootWindow(dpy), True, &n);
	for (int i = 0; i < n; i++) {
		found.push_back({ (short)m[i].x, (short)m[i].y, (unsigned short)m[i].width, (unsigned short)m[i].height });
		if (primary && m[i].primary)
			*primary = i;
	}
	if (m)
		XRRFreeMonitors(m);
	return found;
}

std::string video_mode(Display *dpy)
{
	int event, error, clock = 0;
	XF86VidModeModeLine line = {};
	if (!XF86VidModeQueryExtension(dpy, &event, &error) || !XF86VidModeGetModeLine(dpy, DefaultScreen(dpy), &clock, &line))
		return "";
	if (line.privsize > 0)
		XFree(line.c_private);
	return std::to_string(line.hdisplay) + "x" + std::to_string(line.vdisplay) + " " + std::to_string(clock) + " kHz";
}

std::vector<uint32_t> grab(Display *dpy, Window w, XRectangle area)
{
	std::vector<uint32_t> pixels;
	XImage *img = XGetImage(dpy, w, area.x, area.y, area.width, area.height, AllPlanes, ZPixmap);
	if (!img)
		return pixels;
	for (int y = 0; y < area.height; y++)
		for (int x = 0; x < area.width; x++)
			pixels.push_back(XGetPixel(img, x, y) & 0xffffff);
	XDestroyImage(img);
	return pixels;
}

XRectangle inside_frame(Display *dpy, Window w, int width, int height)
{
	const XRectangle g = geometry(dpy, w);
	const int side = (g.width - width) / 2;
	return { (short)side, (short)(g.height - height - side), (unsigned short)width, (unsigned short)height };
}

void point_at(Display *dpy, Window w, int x, int y)
{
	const XRectangle g = geometry(dpy, w);
	XTestFakeMotionEvent(dpy, DefaultScreen(dpy), g.x + x, g.y + y, 0);
	XSync(dpy, False);
}

figure chaos_figure(int width, int height, const int (&pts)[3][2])
{
	int x0 = width / 2, x1 = width / 2, y0 = height / 2, y1 = height / 2;
	for (auto &p : pts) {
		x0 = std::min(x0, p[0]), x1 = std::max(x1, p[0]);
		y0 = std::min(y0, p[1]), y1 = std::max(y1, p[1]);
	}
	const int bw = x1 - x0 + 1, bh = y1 - y0 + 1;   // every position stays in this box
	std::vector<bool> now(bw * bh), seen(bw * bh);
	now[(height / 2 - y0) * bw + width / 2 - x0] = true;
	for (int step = 0; step < 200; step++) {
		std::vector<bool> next(bw * bh);
		for (int i = 0; i < bw * bh; i++)
			if (now[i])
				for (auto &p : pts)
					next[((i / bw + y0 + p[1]) / 2 - y0) * bw + (i % bw + x0 + p[0]) / 2 - x0] = true;
		for (int i = 0; i < bw * bh; i++)
			seen[i] = seen[i] || next[i];
		if (std::exchange(now, next) == next)   // settled
			break;
	}
	figure f{ width, height, std::vector<bool>(width * height), std::vector<bool>(width * height) };
	for (int i = 0; i < bw * bh; i++) {
		const int x = i % bw + x0, y = i / bw + y0;
		if (x >= 0 && y >= 0 && x < width && y < height)
			f.reachable[y * width + x] = seen[i], f.recurrent[y * width + x] = now[i];
	}
	return f;
}

std::string screen_settings(int fullscreen, int width, int height)
{
	return "[screen]\nfullscreen = " + std::to_string(fullscreen) + "\nscreenw = " + std::to_string(width) +
	       "\nscreenh = " + std::to_string(height) + "\n";
}

folder_state snapshot(const fs::path &dir)
{
	folder_state s;
	for (auto &e : fs::directory_iterator(dir))
		s[e.path().filename()] = std::to_string(e.last_write_time().time_since_epoch().count()) + " " +
		                         (e.is_regular_file() ? std::to_string(e.file_size()) + " " + slurp(e.path()) : "");
	return s;
}
