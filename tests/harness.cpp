// The end-to-end tests' shared harness: see harness.h.
#include "harness.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

const char MESSAGE[] = "Error setting graphics mode!";
#ifdef DOTFALL_WINE
// Wine cannot change the mode of an Xvfb screen, so full screen works only
// at the screen's own size; it is small, for speed (see e2e_test.cpp).
const int SCREEN_WIDTH = 192, SCREEN_HEIGHT = 144;
const int FRAME = 32;
const double START_SECONDS = 60, DRAW_SECONDS = 240;
#else
const int SCREEN_WIDTH = 1024, SCREEN_HEIGHT = 768;
const int FRAME = 0;
const double START_SECONDS = 10, DRAW_SECONDS = 60;
#endif

xserver::xserver(int width, int height, bool window_manager)
{
	int fds[2];
	if (pipe(fds) != 0)
		return;
	pid = fork();
	if (pid == 0) {
		prctl(PR_SET_PDEATHSIG, SIGTERM);   // no server outlives its test
		close(fds[0]);
		std::string fd = std::to_string(fds[1]);
		std::string size = std::to_string(width) + "x" + std::to_string(height) + "x24";
		int null = open("/dev/null", O_WRONLY);
		dup2(null, 1);
		dup2(null, 2);
		execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", size.c_str(),
		       "-nolisten", "tcp", (char *)nullptr);
		_exit(127);
	}
	close(fds[1]);
	// Xvfb writes the number and then a newline, and gives up if the pipe
	// closes in between: read up to the newline.
	std::string number;
	char c;
	while (read(fds[0], &c, 1) == 1 && c != '\n')
		number += c;
	close(fds[0]);
	if (!number.empty()) {
		name = ":" + number;
		dpy = XOpenDisplay(name.c_str());
	}
	// Windows come and go under the tests' feet; a request on one that has
	// gone must not end the test process, as Xlib's default handler would.
	XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
	if (dpy && window_manager) {
		wm = fork();
		if (wm == 0) {
			prctl(PR_SET_PDEATHSIG, SIGTERM);
			int null = open("/dev/null", O_WRONLY);
			dup2(null, 1);
			dup2(null, 2);
			setenv("DISPLAY", name.c_str(), 1);
			execlp("openbox", "openbox", "--sm-disable", (char *)nullptr);
			_exit(127);
		}
		wait_for(START_SECONDS, [&] { return managed(); });
	}
}

bool xserver::managed()
{
	// A window manager that follows the desktop conventions names a window
	// of its own on the root window.
	Atom check = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False), type;
	int format;
	unsigned long n, left;
	unsigned char *data = nullptr;
	bool found = XGetWindowProperty(dpy, DefaultRootWindow(dpy), check, 0, 1, False, XA_WINDOW, &type, &format,
	                                &n, &left, &data) == Success && n == 1;
	if (data)
		XFree(data);
	return found;
}

xserver::~xserver()
{
	if (wm > 0) {
		kill(wm, SIGTERM);
		waitpid(wm, nullptr, 0);
	}
	if (dpy)
		XCloseDisplay(dpy);
	if (pid > 0) {
		kill(pid, SIGTERM);
		waitpid(pid, nullptr, 0);
	}
}

run::run(const fs::path &dir, const std::vector<std::string> &env, uid_t user,
         const std::string &program)
{
	if (program.size() > 4 && program.compare(program.size() - 4, 4, ".exe") == 0) {
#ifdef WINE_PREFIX
		wine_prefix = WINE_PREFIX;
#endif
		for (const std::string &e : env)
			if (e.compare(0, 11, "WINEPREFIX=") == 0)
				wine_prefix = e.substr(11);
	}
	int fds[2];
	if (pipe(fds) != 0)
		return;
	pid = fork();
	if (pid == 0) {
		dup2(fds[1], 1);
		dup2(fds[1], 2);
		close(fds[0]);
		// Start as from a terminal, whatever the test runner inherited
		// (nohup, a background job): signals at their default actions.
		for (int sig : { SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE })
			signal(sig, SIG_DFL);
		sigset_t none;
		sigemptyset(&none);
		sigprocmask(SIG_SETMASK, &none, nullptr);
		close(fds[1]);
		if (chdir(dir.c_str()) != 0 || (user && (setgid(user) != 0 || setuid(user) != 0)))
			_exit(127);
		for (const std::string &e : env) {
			size_t eq = e.find('=');
			if (eq == std::string::npos)
				unsetenv(e.c_str());
			else
				setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
		}
		if (!wine_prefix.empty()) {
			setenv("WINEPREFIX", wine_prefix.c_str(), 1);
			setenv("WINEDEBUG", "-all", 0);
			execlp("wine", "wine", program.c_str(), (char *)nullptr);
		}
		execl(program.c_str(), program.c_str(), (char *)nullptr);
		_exit(127);
	}
	close(fds[1]);
	out = fds[0];
	fcntl(out, F_SETFL, O_NONBLOCK);
}

run::~run()
{
	if (running()) {
		kill(pid, SIGKILL);
		waitpid(pid, nullptr, 0);
	}
	if (out >= 0)
		close(out);
	// Wine's server outlives its programs for a while, tied to their X
	// display; the next run may be on another one. End it, and with it
	// whatever a killed run left behind.
	if (!wine_prefix.empty()) {
		pid_t k = fork();
		if (k == 0) {
			setenv("WINEPREFIX", wine_prefix.c_str(), 1);
			execlp("wineserver", "wineserver", "-k", (char *)nullptr);
			_exit(127);
		}
		waitpid(k, nullptr, 0);
	}
}

bool run::running()
{
	if (status != -1 || pid <= 0)
		return false;
	auto drain = [&] {
		char buf[4096];
		ssize_t n;
		while ((n = read(out, buf, sizeof buf)) > 0)
			output.append(buf, n);
	};
	drain();
	struct rusage usage;
	if (wait4(pid, &status, WNOHANG, &usage) == pid) {
		peak_kb = usage.ru_maxrss;
		drain();
		return false;
	}
	status = -1;
	return true;
}

int run::exit_status(double seconds)
{
	wait_for(seconds, [&] { return !running(); });
	return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Whether the window's class is `name`, or with no name, whether it is a
// window of Wine's (classed by the program's file name).
static bool has_class(Display *dpy, Window w, const char *name)
{
	XClassHint hint;
	if (!XGetClassHint(dpy, w, &hint))
		return false;
	const size_t n = strlen(hint.res_class);
	bool same = name ? strcmp(hint.res_class, name) == 0 : n > 4 && strcmp(hint.res_class + n - 4, ".exe") == 0;
	XFree(hint.res_name);
	XFree(hint.res_class);
	return same;
}

Window find_window(Display *dpy, Window under, int width, int height, const char *cls)
{
	Window root, parent, *kids = nullptr, found = 0;
	unsigned n = 0;
	if (!XQueryTree(dpy, under, &root, &parent, &kids, &n))
		return 0;
	for (unsigned i = 0; i < n && !found; i++) {
		XWindowAttributes a;
		if (!XGetWindowAttributes(dpy, kids[i], &a) || a.map_state != IsViewable)
			continue;
		if (cls) {
			if (has_class(dpy, kids[i], cls))
				found = kids[i];
			continue;
		}
		found = find_window(dpy, kids[i], width, height);
		int fw = a.width - width, fh = a.height - height;
		if (!found && fw >= 0 && fh >= 0 && fw <= FRAME && fh <= FRAME && (fw == 0 || under == root))
			found = kids[i];
	}
	if (kids)
		XFree(kids);
	return found;
}

Window wait_window(Display *dpy, int width, int height, const char *cls)
{
	Window w = 0;
	wait_for(START_SECONDS, [&] { return (w = find_window(dpy, DefaultRootWindow(dpy), width, height, cls)) != 0; });
	return w;
}

Window top_level(Display *dpy, Window w)
{
	Window root, parent, *kids = nullptr;
	unsigned n;
	while (XQueryTree(dpy, w, &root, &parent, &kids, &n) && parent != root) {
		if (kids)
			XFree(kids);
		w = parent;
	}
	if (kids)
		XFree(kids);
	return w;
}

// The window's parent, or 0 for the root.
static Window parent_of(Display *dpy, Window w)
{
	Window root, parent = 0, *kids = nullptr;
	unsigned n;
	if (!XQueryTree(dpy, w, &root, &parent, &kids, &n) || parent == root)
		parent = 0;
	if (kids)
		XFree(kids);
	return parent;
}

Window any_window(Display *dpy)
{
	Window root, parent, *kids = nullptr, found = 0;
	unsigned n = 0;
	if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &kids, &n))
		return 0;
	for (unsigned i = 0; i < n && !found; i++) {
		XWindowAttributes a;
		if (XGetWindowAttributes(dpy, kids[i], &a) && a.map_state == IsViewable)
			found = kids[i];
	}
	if (kids)
		XFree(kids);
	return found;
}

std::vector<uint32_t> grab(Display *dpy, Window w, int width, int height)
{
	// A frame is as wide on the left, right and bottom; the rest is on top.
	std::vector<uint32_t> pixels;
	XWindowAttributes a;
	if (!XGetWindowAttributes(dpy, w, &a))
		return pixels;
	const int side = (a.width - width) / 2;
	XImage *img = XGetImage(dpy, w, side, a.height - height - side, width, height, AllPlanes, ZPixmap);
	if (!img)
		return pixels;
	for (int y = 0; y < height; y++)
		for (int x = 0; x < width; x++)
			pixels.push_back(XGetPixel(img, x, y) & 0xffffff);
	XDestroyImage(img);
	return pixels;
}

void point_at(Display *dpy, Window w, int x, int y)
{
	int rx, ry;
	Window child;
	XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), x, y, &rx, &ry, &child);
	XTestFakeMotionEvent(dpy, DefaultScreen(dpy), rx, ry, 0);
	XSync(dpy, False);
}

void press_key(Display *dpy, Window over, KeySym sym)
{
	XWindowAttributes a = {};
	XGetWindowAttributes(dpy, over, &a);
	point_at(dpy, over, a.width / 2, a.height / 2);   // inside any frame
	// Wine gives its window the focus itself once it has activated it; a
	// key before that goes nowhere. A window manager puts Wine's window in a
	// frame of its own, and the focus on the window inside.
	Window wine = over;
	while (wine && !has_class(dpy, wine, nullptr) && wine != top_level(dpy, wine))
		wine = parent_of(dpy, wine);
	if (wine && has_class(dpy, wine, nullptr))
		wait_for(START_SECONDS, [&] {
			Window focus;
			int revert;
			XGetInputFocus(dpy, &focus, &revert);
			return focus > PointerRoot && top_level(dpy, focus) == top_level(dpy, over);
		});
	KeyCode code = XKeysymToKeycode(dpy, sym);
	XTestFakeKeyEvent(dpy, code, True, 0);
	XSync(dpy, False);
	pause_ms(20);
	XTestFakeKeyEvent(dpy, code, False, 0);
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
		bool settled = next == now;
		now = next;
		for (int i = 0; i < bw * bh; i++)
			seen[i] = seen[i] || now[i];
		if (settled)
			break;
	}
	figure f{ std::vector<bool>(width * height), std::vector<bool>(width * height) };
	for (int y = 0; y < height; y++)
		for (int x = 0; x < width; x++)
			if (x >= x0 && x <= x1 && y >= y0 && y <= y1) {
				f.reachable[y * width + x] = seen[(y - y0) * bw + x - x0];
				f.recurrent[y * width + x] = now[(y - y0) * bw + x - x0];
			}
	return f;
}

std::string trimmed(const std::string &output)
{
	return output.substr(0, output.find_last_not_of("\r\n") + 1);
}

folder_state snapshot(const fs::path &dir)
{
	folder_state s;
	for (auto &e : fs::directory_iterator(dir)) {
		std::string name = e.path().filename();
		s.files[name] = { e.is_regular_file() ? e.file_size() : 0, e.last_write_time() };
		if (e.is_regular_file()) {
			std::ifstream in(e.path(), std::ios::binary);
			s.bytes[name].assign(std::istreambuf_iterator<char>(in), {});
		}
	}
	return s;
}

void OnXvfb::SetUp()
{
	ASSERT_NE(x.dpy, nullptr) << "Xvfb did not start";
	char tmpl[] = "/tmp/dotfall-test-XXXXXX";
	ASSERT_NE(mkdtemp(tmpl), nullptr);
	dir = tmpl;
}

void OnXvfb::TearDown() { fs::remove_all(dir); }

void OnXvfb::settings_file(const std::string &text)
{
	std::ofstream(dir / "dotfall.ini", std::ios::binary) << text;
}

void OnXvfb::expect_failure(const std::vector<std::string> &vars)
{
	run r(dir, vars);
	EXPECT_EQ(r.exit_status(20), 1) << "status " << r.status;
	EXPECT_EQ(r.output, std::string(MESSAGE) + "\n");
}

std::vector<std::string> OnXvfb::env(std::vector<std::string> more)
{
	more.insert(more.begin(), "DISPLAY=" + x.name);
	return more;
}
