// The end-to-end tests' shared harness: see harness.h.
#include "harness.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/xf86vmode.h>
#include <systemd/sd-bus.h>

const char MESSAGE[] = "Error setting graphics mode!";
const int SCREEN_WIDTH = 1024, SCREEN_HEIGHT = 768;
#ifdef DOTFALL_WINE
const int FRAME = 32;
const double START_SECONDS = 20, DRAW_SECONDS = 30;
#else
const int FRAME = 0;
const double START_SECONDS = 10, DRAW_SECONDS = 60;
#endif

std::vector<Window> children(Display *dpy, Window w, Window *parent)
{
	Window root = 0, up = 0, *kids = nullptr;
	unsigned n = 0;
	std::vector<Window> list;
	// A query that fails (the window has just gone) gives no children and
	// no parent.
	if (XQueryTree(dpy, w, &root, &up, &kids, &n))
		list.assign(kids, kids + n);
	if (kids)
		XFree(kids);
	if (parent)
		*parent = up == root ? 0 : up;
	return list;
}

Window parent_of(Display *dpy, Window w)
{
	Window parent = 0;
	children(dpy, w, &parent);
	return parent;
}

Window top_level(Display *dpy, Window w)
{
	while (Window parent = parent_of(dpy, w))
		w = parent;
	return w;
}

// Xorg's configuration for the tests: the dummy video driver, its virtual
// core devices only (XTest drives them), and the usual modes of a 1920x1080
// monitor.
static const char XORG_CONFIG[] =
	"Section \"ServerFlags\"\n"
	"\tOption \"AutoAddDevices\" \"false\"\n\tOption \"AutoEnableDevices\" \"false\"\n"
	"\tOption \"AutoAddGPU\" \"false\"\n\tOption \"DontVTSwitch\" \"true\"\nEndSection\n"
	"Section \"Device\"\n\tIdentifier \"card\"\n\tDriver \"dummy\"\n\tVideoRam 256000\nEndSection\n"
	"Section \"Monitor\"\n\tIdentifier \"monitor\"\n\tHorizSync 28-80\n\tVertRefresh 48-75\n"
	"\tModeline \"1920x1080\" 148.50 1920 2008 2052 2200 1080 1084 1089 1125 +hsync +vsync\n"
	"\tModeline \"1280x720\" 74.25 1280 1390 1430 1650 720 725 730 750 +hsync +vsync\n"
	"\tModeline \"1024x768\" 65.00 1024 1048 1184 1344 768 771 777 806 -hsync -vsync\n"
	"\tModeline \"800x600\" 40.00 800 840 968 1056 600 601 605 628 +hsync +vsync\n"
	"\tModeline \"640x480\" 25.18 640 656 752 800 480 490 492 525 -hsync -vsync\nEndSection\n"
	"Section \"Screen\"\n\tIdentifier \"screen\"\n\tDevice \"card\"\n\tMonitor \"monitor\"\n"
	"\tDefaultDepth 24\n\tSubSection \"Display\"\n\t\tDepth 24\n"
	"\t\tModes \"1920x1080\" \"1280x720\" \"1024x768\" \"800x600\" \"640x480\"\n"
	"\tEndSubSection\nEndSection\n";

// Starts the server, which writes its display number to a pipe, and
// connects to it.
void xserver::start(std::vector<std::string> argv)
{
	int fds[2];
	if (pipe(fds) != 0)
		return;
	argv.insert(argv.begin() + 1, { "-displayfd", std::to_string(fds[1]) });
	pid = fork();
	if (pid == 0) {
		prctl(PR_SET_PDEATHSIG, SIGTERM);   // no server outlives its test
		close(fds[0]);
		int null = open("/dev/null", O_WRONLY);
		dup2(null, 1);
		dup2(null, 2);
		std::vector<char *> args;
		for (std::string &a : argv)
			args.push_back(a.data());
		args.push_back(nullptr);
		execvp(args[0], args.data());
		_exit(127);
	}
	close(fds[1]);
	// The server writes the number and then a newline, and gives up if the
	// pipe closes in between: read up to the newline.
	std::string number;
	char c;
	while (read(fds[0], &c, 1) == 1 && c != '\n')
		number += c;
	close(fds[0]);
	if (!number.empty()) {
		name += ":" + number;
		dpy = XOpenDisplay(name.c_str());
	}
	// Windows come and go under the tests' feet; a request on one that has
	// gone must not end the test process, as Xlib's default handler would.
	XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
}

// Forks a child that leads a process group of its own, for a server or
// window manager and everything it starts. This process becomes their
// subreaper, so that what they leave behind (xfwm4's settings daemon, which
// D-Bus starts detached) is still its to wait for.
static pid_t fork_group()
{
	prctl(PR_SET_CHILD_SUBREAPER, 1);
	const pid_t pid = fork();
	if (pid >= 0)
		setpgid(pid == 0 ? 0 : pid, 0);
	return pid;
}

// Ends the group and waits for all of it, for what its processes write on
// their way out goes into the test's folder, removed next (xfwm4's settings
// daemon saves its settings there): a group still there after the start-up
// time is killed.
static void end_group(pid_t leader, int sig)
{
	kill(-leader, sig);
	const bool ended = wait_for(START_SECONDS, [&] {
		pid_t p;
		while ((p = waitpid(-leader, nullptr, WNOHANG)) > 0)
			;
		return p < 0;
	});
	if (!ended) {
		kill(-leader, SIGKILL);
		while (waitpid(-leader, nullptr, 0) > 0 || errno == EINTR)
			;
	}
}

// Starts the window manager, in a process group of its own (xfwm4 comes with
// a D-Bus session and its settings daemon), and waits until it is ready:
// openbox names itself on the root window before it has read its settings
// and theme and takes its first request, and a program that maps its window
// in between can stay unmapped for good (seen under load, always the first
// program after the start). Ready is when it has framed a window of the
// harness's own.
void xserver::manage(const std::string &window_manager)
{
	wm_pid = fork_group();
	if (wm_pid == 0) {
		prctl(PR_SET_PDEATHSIG, SIGTERM);
		int null = open("/dev/null", O_WRONLY);
		dup2(null, 1);
		dup2(null, 2);
		setenv("DISPLAY", name.c_str(), 1);
		if (window_manager == "xfwm4") {
			// Its settings go in a folder of the test's, not the user's.
			setenv("HOME", files.c_str(), 1);
			setenv("XDG_CONFIG_HOME", files.c_str(), 1);
			setenv("NO_AT_BRIDGE", "1", 1);
			execlp("dbus-run-session", "dbus-run-session", "--", "xfwm4", "--compositor=on", "--sm-client-disable",
			       (char *)nullptr);
		}
		execlp("openbox", "openbox", "--sm-disable", (char *)nullptr);
		_exit(127);
	}
	Window probe = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
	wm_ready = wait_for(START_SECONDS, [&] {
		XMapWindow(dpy, probe);
		XSync(dpy, False);
		return parent_of(dpy, probe) != 0;
	});
	XDestroyWindow(dpy, probe);
	XSync(dpy, False);
}

xserver::xserver(int width, int height, bool window_manager)
{
	std::string size = std::to_string(width) + "x" + std::to_string(height) + "x24";
	start({ "Xvfb", "-screen", "0", size, "-nolisten", "tcp" });
	if (dpy && window_manager)
		manage("openbox");
}

xserver::xserver(int count, const std::string &window_manager, bool remote)
{
	char tmpl[] = "/tmp/dotfall-xorg-XXXXXX";
	if (!mkdtemp(tmpl))
		return;
	files = tmpl;
	std::ofstream(files / "xorg.conf") << XORG_CONFIG;
	if (remote)
		name = "localhost";
	start({ "Xorg", "-noreset", remote ? "-listen" : "-nolisten", "tcp", "-config", (files / "xorg.conf").string(),
	        "-logfile", (files / "xorg.log").string() });
	if (!dpy)
		return;
	const std::vector<std::string> env{ "DISPLAY=" + name };
	laid_out = count == 1 ||
	           (run(files, env, 0, "xrandr", { "--addmode", "DUMMY1", "1920x1080" }).exit_status(START_SECONDS) == 0 &&
	            run(files, env, 0, "xrandr",
	                { "--fb", "3840x1080", "--output", "DUMMY0", "--mode", "1920x1080", "--pos", "0x0", "--primary",
	                  "--output", "DUMMY1", "--mode", "1920x1080", "--pos", "1920x0" })
	                    .exit_status(START_SECONDS) == 0 &&
	            monitors(dpy).size() == 2);
	if (laid_out && !window_manager.empty())
		manage(window_manager);
}

xserver::~xserver()
{
	if (wm_pid > 0)
		end_group(wm_pid, SIGTERM);
	if (dpy)
		XCloseDisplay(dpy);
	if (pid > 0) {
		kill(pid, SIGTERM);
		waitpid(pid, nullptr, 0);
	}
	std::error_code ignored;   // a folder left in /tmp is no reason to end the tests
	if (!files.empty())
		fs::remove_all(files, ignored);
}

run::run(const fs::path &dir, const std::vector<std::string> &env, uid_t user,
         const std::string &program, const std::vector<std::string> &args)
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
		std::vector<char *> argv;
		if (!wine_prefix.empty()) {
			setenv("WINEPREFIX", wine_prefix.c_str(), 1);
			setenv("WINEDEBUG", "-all", 0);
			// Wine's device service now and then crashes as it starts a bus
			// driver (in IoCreateDevice, as it lists wineusb's or winebus's
			// root devices), and Wine's report of that lands in the run's
			// output. No test uses USB or the game controllers of winebus
			// (the keyboard and mouse come through the X11 driver): Wine
			// starts without those two.
			setenv("WINEDLLOVERRIDES", "wineusb.sys,winebus.sys=d", 0);
			argv.push_back(const_cast<char *>("wine"));
		}
		argv.push_back(const_cast<char *>(program.c_str()));
		for (const std::string &a : args)
			argv.push_back(const_cast<char *>(a.c_str()));
		argv.push_back(nullptr);
		execvp(argv[0], argv.data());
		_exit(127);
	}
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
		while ((n = read(output_pipe, buf, sizeof buf)) > 0)
			output.append(buf, n);
	};
	drain();
	struct rusage usage;
	if (wait4(pid, &status, WNOHANG, &usage) == pid) {
		peak_kb = usage.ru_maxrss;
		drain();
		// A crash under Wine: its debugger's report (the tests' prefix has
		// it written to this file), for the test's output to show.
		const fs::path crash = fs::path(wine_prefix) / "drive_c" / "dotfall-crash.txt";
		if (!wine_prefix.empty() && fs::exists(crash)) {
			std::ifstream in(crash);
			output += std::string(std::istreambuf_iterator<char>(in), {});
			fs::remove(crash);
		}
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

std::string run::threads()
{
	if (wine_prefix.empty())
		return "";
	std::string cmd = "WINEPREFIX='" + wine_prefix + "' winedbg --command 'bt all' 2>&1";
	FILE *p = popen(cmd.c_str(), "r");
	if (!p)
		return "";
	std::string text, line;
	bool ours = false;
	for (char buf[512]; fgets(buf, sizeof buf, p);) {
		line += buf;
		if (line.back() != '\n')
			continue;
		if (line.compare(0, 16, "Backtracing for ") == 0)
			ours = line.find(".exe)") != std::string::npos && line.find("\\windows\\") == std::string::npos;
		if (ours)
			text += line.size() > 140 ? line.substr(0, 139) + "\n" : line;
		line.clear();
	}
	pclose(p);
	return text;
}

bool wine_registry(const std::string &prefix, const std::vector<std::string> &args)
{
	// Wine's server keeps the registry and writes it out as it ends: wait for
	// that, so that the next program's server reads the change (and is one
	// started on the program's display: this one has none), even when reg
	// failed.
	bool done = false;
	for (bool reg : { true, false }) {
		pid_t k = fork();
		if (k == 0) {
			int null = open("/dev/null", O_WRONLY);
			dup2(null, 1);
			dup2(null, 2);
			setenv("WINEPREFIX", prefix.c_str(), 1);
			setenv("WINEDEBUG", "-all", 1);
			unsetenv("DISPLAY");
			std::vector<char *> argv{ const_cast<char *>("wine"), const_cast<char *>("reg") };
			for (const std::string &a : args)
				argv.push_back(const_cast<char *>(a.c_str()));
			argv.push_back(nullptr);
			if (reg)
				execvp("wine", argv.data());
			else
				execlp("wineserver", "wineserver", "-w", (char *)nullptr);
			_exit(127);
		}
		int status;
		if (k > 0 && waitpid(k, &status, 0) == k && reg)
			done = WIFEXITED(status) && WEXITSTATUS(status) == 0;
	}
	return done;
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

// Whether a window shows anything. Wine maps an input-only window over the
// area it confines the pointer to (a full screen's, the whole screen), which
// has a display's size but no picture.
static bool shown(Display *dpy, Window w, XWindowAttributes *a)
{
	return XGetWindowAttributes(dpy, w, a) && a->map_state == IsViewable && a->c_class == InputOutput;
}

Window find_window(Display *dpy, Window under, int width, int height, const char *cls)
{
	const bool at_root = under == DefaultRootWindow(dpy);
	for (Window kid : children(dpy, under)) {
		XWindowAttributes a;
		if (!shown(dpy, kid, &a))
			continue;
		if (cls) {   // inside a window manager's frame, or not
			if (Window found = has_class(dpy, kid, cls) ? kid : find_window(dpy, kid, 0, 0, cls))
				return found;
			continue;
		}
		if (Window inside = find_window(dpy, kid, width, height))
			return inside;
		const int fw = a.width - width, fh = a.height - height;
		if (fw >= 0 && fh >= 0 && fw <= FRAME && fh <= FRAME && (fw == 0 || at_root))
			return kid;
	}
	return 0;
}

Window wait_window(Display *dpy, int width, int height, const char *cls)
{
	Window w = 0;
	wait_for(START_SECONDS, [&] { return (w = find_window(dpy, DefaultRootWindow(dpy), width, height, cls)) != 0; });
	return w;
}

Window any_window(Display *dpy)
{
	for (Window kid : children(dpy, DefaultRootWindow(dpy))) {
		XWindowAttributes a;
		if (shown(dpy, kid, &a))
			return kid;
	}
	return 0;
}

std::string window_tree(Display *dpy, Window under, int depth)
{
	std::string text;
	if (depth > 3)
		return text;
	for (Window kid : children(dpy, under ? under : DefaultRootWindow(dpy))) {
		XWindowAttributes a;
		XClassHint hint = {};
		if (!XGetWindowAttributes(dpy, kid, &a))
			continue;
		const bool named = XGetClassHint(dpy, kid, &hint);
		text += "\n" + std::string(depth * 2, ' ') + (named ? hint.res_class : "-") + " " +
		        std::to_string(a.width) + "x" + std::to_string(a.height) +
		        (a.map_state == IsViewable ? "" : " unmapped") + (a.c_class == InputOnly ? " input only" : "");
		if (named) {
			XFree(hint.res_name);
			XFree(hint.res_class);
		}
		text += window_tree(dpy, kid, depth + 1);
	}
	return text;
}

XRectangle geometry(Display *dpy, Window w)
{
	XWindowAttributes a = {};
	int x = 0, y = 0;
	Window child;
	XGetWindowAttributes(dpy, w, &a);
	XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), 0, 0, &x, &y, &child);
	return { (short)x, (short)y, (unsigned short)a.width, (unsigned short)a.height };
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

XRectangle primary_monitor(Display *dpy)
{
	int primary = -1;
	const std::vector<XRectangle> all = monitors(dpy, &primary);
	return primary >= 0 ? all[primary] : XRectangle{};
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

std::string randr_layout(const std::string &display)
{
	run xrandr("/", { "DISPLAY=" + display }, 0, "xrandr", { "--current" });
	return xrandr.exit_status(START_SECONDS) == 0 ? xrandr.output : "xrandr failed: " + xrandr.output;
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
	// A key goes nowhere before Wine has activated its window. Wine may then
	// give the window the focus itself, or leave it following the pointer
	// (PointerRoot, as with no window manager here): both take the key. A
	// window manager puts Wine's window in a frame of its own, and the focus
	// on the window inside. Any window a window manager manages (one not
	// over everything on its own) gets the focus when the manager gets to
	// it, which on a busy machine can come after the window is drawn.
	Window wine = over;
	while (wine && !has_class(dpy, wine, nullptr))
		wine = parent_of(dpy, wine);
	XWindowAttributes top = {};
	XGetWindowAttributes(dpy, top_level(dpy, over), &top);
	if (wine || !top.override_redirect)
		wait_for(START_SECONDS, [&] {
			Window focus;
			int revert;
			XGetInputFocus(dpy, &focus, &revert);
			return focus == PointerRoot || (focus > PointerRoot && top_level(dpy, focus) == top_level(dpy, over));
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

std::string screen_settings(int fullscreen, int width, int height)
{
	return "[screen]\nfullscreen = " + std::to_string(fullscreen) + "\nscreenw = " + std::to_string(width) +
	       "\nscreenh = " + std::to_string(height) + "\n";
}

void settings_file(const fs::path &dir, const std::string &text)
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

const char *wm_name(wm kind)
{
	return kind == wm::sway ? "sway" : "mutter";
}

// Reads a whole file, or "".
static std::string slurp(const fs::path &file)
{
	std::ifstream in(file, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), {});
}

// mutter's RemoteDesktop session, kept by a process of the compositor's
// user (the session bus takes no one else, and the session ends with the
// connection that made it): it presses and releases each keysym read from
// `in`. A new virtual keyboard loses its first event: Shift goes first.
static void remote_desktop(const std::string &address, int in)
{
	const char *service = "org.gnome.Mutter.RemoteDesktop";
	sd_bus *bus = nullptr;
	sd_bus_message *reply = nullptr;
	const char *session = nullptr;
	if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, address.c_str()) < 0 ||
	    sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0)
		_exit(1);
	wait_for(START_SECONDS, [&] {
		return sd_bus_call_method(bus, service, "/org/gnome/Mutter/RemoteDesktop", service, "CreateSession",
		                          nullptr, &reply, "") >= 0;
	});
	if (!reply || sd_bus_message_read(reply, "o", &session) < 0)
		_exit(1);
	const std::string path = session;
	const std::string iface = std::string(service) + ".Session";
	if (sd_bus_call_method(bus, service, path.c_str(), iface.c_str(), "Start", nullptr, nullptr, "") < 0)
		_exit(1);
	uint32_t sym = XK_Shift_L;
	do {
		for (int down : { 1, 0 })
			if (sd_bus_call_method(bus, service, path.c_str(), iface.c_str(), "NotifyKeyboardKeysym", nullptr,
			                       nullptr, "ub", sym, down) < 0)
				_exit(1);
	} while (read(in, &sym, sizeof sym) == sizeof sym);
	_exit(0);
}

compositor::compositor(wm k, uid_t u) : kind(k), user(u)
{
	char tmpl[] = "/tmp/dotfall-wayland-XXXXXX";
	if (!mkdtemp(tmpl)) {
		failure = "no runtime folder";
		return;
	}
	runtime = tmpl;
	if (user && chown(tmpl, user, user) != 0) {
		failure = "cannot give the runtime folder to user " + std::to_string(user);
		return;
	}
	const fs::path log = runtime / "log", names = runtime / "names";
	if (kind == wm::sway)
		// Its children get its WAYLAND_DISPLAY and DISPLAY: one of them
		// writes them down, once XWayland is up (force: not on demand).
		std::ofstream(runtime / "config") << "xwayland force\noutput HEADLESS-1 resolution " << OUTPUT_WIDTH << "x"
		                                  << OUTPUT_HEIGHT << "\nexec sh -c 'echo $WAYLAND_DISPLAY $DISPLAY >"
		                                  << names.string() << ".new && mv " << names.string() << ".new "
		                                  << names.string() << "'\n";
	pid = fork_group();
	if (pid == 0) {
		int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		dup2(fd, 1);
		dup2(fd, 2);
		if (user && (fchown(fd, user, user) != 0 || setgroups(0, nullptr) != 0 || setgid(user) != 0 ||
		             setuid(user) != 0))
			_exit(127);
		prctl(PR_SET_PDEATHSIG, SIGTERM);   // after setuid, which clears it
		clearenv();
		setenv("PATH", "/usr/bin:/bin", 1);
		setenv("HOME", runtime.c_str(), 1);
		setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
		if (kind == wm::sway) {
			setenv("WLR_BACKENDS", "headless", 1);
			setenv("WLR_LIBINPUT_NO_DEVICES", "1", 1);
			setenv("WLR_RENDERER", "pixman", 1);
			execlp("sway", "sway", "-c", (runtime / "config").c_str(), (char *)nullptr);
		} else {
			std::string size = std::to_string(OUTPUT_WIDTH) + "x" + std::to_string(OUTPUT_HEIGHT);
			std::string script = "echo \"$DBUS_SESSION_BUS_ADDRESS\" >" + (runtime / "bus").string() +
			                     "; exec mutter --headless --wayland --virtual-monitor " + size;
			execlp("dbus-run-session", "dbus-run-session", "--", "sh", "-c", script.c_str(), (char *)nullptr);
		}
		_exit(127);
	}

	// sway writes its names down; mutter logs them, and its X authority
	// file is the one in the runtime folder.
	auto up = [&] {
		if (waitpid(pid, nullptr, WNOHANG) == pid) {
			pid = -1;
			return true;
		}
		if (kind == wm::sway) {
			std::istringstream(slurp(names)) >> wayland >> display;
			return !display.empty();
		}
		const std::string text = slurp(log);
		size_t x = text.find("Using public X11 display "), w = text.find("Using Wayland display name '");
		if (x == std::string::npos || w == std::string::npos)
			return false;
		display = text.substr(x + 25, text.find_first_of(",\n", x) - x - 25);
		wayland = text.substr(w + 28, text.find('\'', w + 28) - w - 28);
		bus = trimmed(slurp(runtime / "bus"));
		for (auto &e : fs::directory_iterator(runtime))
			if (e.path().filename().string().rfind(".mutter-Xwaylandauth.", 0) == 0)
				xauthority = e.path();
		return !bus.empty() && !xauthority.empty();
	};
	if (!wait_for(START_SECONDS * 2, up) || pid < 0) {
		failure = std::string(wm_name(kind)) + " did not come up: " + slurp(log);
		return;
	}

	// XWayland takes clients of the compositor's user (and, on mutter, the
	// holders of its cookie): connect as that user.
	if (xauthority.size())
		setenv("XAUTHORITY", xauthority.c_str(), 1);
	wait_for(START_SECONDS, [&] {
		if (user && seteuid(user) != 0)
			return false;
		dpy = XOpenDisplay(display.c_str());
		if (user && seteuid(0) != 0)
			abort();
		return dpy != nullptr;
	});
	unsetenv("XAUTHORITY");
	if (!dpy) {
		failure = "no connection to " + std::string(wm_name(kind)) + "'s XWayland " + display + ": " + slurp(log);
		return;
	}
	XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });

	if (kind == wm::mutter) {
		int fds[2];
		if (pipe(fds) != 0)
			return;
		keyboard_pid = fork();
		if (keyboard_pid == 0) {
			close(fds[1]);
			if (user && (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0))
				_exit(127);
			remote_desktop(bus, fds[0]);
		}
		close(fds[0]);
		keys_pipe = fds[1];
	}
}

compositor::~compositor()
{
	if (keys_pipe >= 0)
		close(keys_pipe);
	if (keyboard_pid > 0)
		waitpid(keyboard_pid, nullptr, 0);
	kill_now();
	std::error_code ignored;
	if (!runtime.empty())
		fs::remove_all(runtime, ignored);
}

void compositor::kill_now()
{
	if (dpy) {   // or Xlib ends this process when the server goes
		XCloseDisplay(dpy);
		dpy = nullptr;
	}
	if (pid > 0) {
		end_group(pid, SIGKILL);
		pid = -1;
	}
}

std::vector<std::string> compositor::env(std::vector<std::string> more) const
{
	std::vector<std::string> vars{ "XDG_RUNTIME_DIR=" + runtime.string(), "WAYLAND_DISPLAY=" + wayland,
	                               "DISPLAY=" + display, "HOME=" + runtime.string() };
	vars.push_back(xauthority.empty() ? "XAUTHORITY" : "XAUTHORITY=" + xauthority);
	vars.insert(vars.end(), more.begin(), more.end());
	return vars;
}

bool compositor::type(KeySym sym)
{
	if (kind == wm::mutter) {
		uint32_t s = sym;
		return keys_pipe >= 0 && write(keys_pipe, &s, sizeof s) == sizeof s;
	}
	// wtype's keyboard is new each time, and loses its first event.
	run wtype(runtime, env(), user, "wtype", { "-k", "Shift_L", "-s", "100", "-k", XKeysymToString(sym) });
	return wtype.exit_status(START_SECONDS) == 0;
}

std::vector<uint32_t> compositor::screenshot()
{
	std::vector<uint32_t> pixels;
	const fs::path shot = runtime / "shot.ppm";
	run grim(runtime, env(), user, "grim", { "-t", "ppm", shot.string() });
	if (grim.exit_status(START_SECONDS) != 0)
		return pixels;
	std::string data = slurp(shot);
	std::istringstream in(data);
	std::string magic;
	int w = 0, h = 0, max = 0;
	in >> magic >> w >> h >> max;
	const size_t at = (size_t)in.tellg() + 1;
	if (magic != "P6" || w != OUTPUT_WIDTH || h != OUTPUT_HEIGHT || max != 255 || data.size() < at + 3u * w * h)
		return pixels;
	for (size_t i = 0; i < (size_t)w * h; i++) {
		const unsigned char *p = (const unsigned char *)data.data() + at + 3 * i;
		pixels.push_back(p[0] << 16 | p[1] << 8 | p[2]);
	}
	return pixels;
}

figure_match match_figure(const std::vector<uint32_t> &px, int picture_w, int x0, int y0, const figure &f,
                          int width, int height, uint32_t fg, uint32_t bg)
{
	figure_match m;
	for (size_t i = 0; i < px.size(); i++) {
		const int x = (int)(i % picture_w) - x0, y = (int)(i / picture_w) - y0;
		if (x < 0 || y < 0 || x >= width || y >= height) {
			m.foreign += px[i] != 0;
			continue;
		}
		const size_t j = (size_t)y * width + x;
		m.foreign += px[i] != fg && px[i] != bg;
		m.stray += px[i] == fg && !f.reachable[j];
		m.drawn += px[i] == fg && f.recurrent[j];
	}
	for (int y = std::max(0, -y0); y < height && y + y0 < (int)(px.size() / picture_w); y++)
		for (int x = std::max(0, -x0); x < width && x + x0 < picture_w; x++)
			m.wanted += f.recurrent[(size_t)y * width + x];
	return m;
}

void OnWayland::SetUp()
{
	const bool sway = GetParam() == wm::sway;
	for (const char *tool : { sway ? "sway" : "mutter", sway ? "wtype" : "dbus-run-session", sway ? "grim" : "mutter",
	                          "Xwayland" })
		if (access(("/usr/bin/" + std::string(tool)).c_str(), X_OK) != 0)
			GTEST_SKIP() << tool << " is not installed";
	c = std::make_unique<compositor>(GetParam(), user);
	ASSERT_EQ(c->failure, "");
	dir = c->runtime / "run";
	program = c->runtime / "dotfall";
	fs::create_directory(dir);
	fs::copy_file(DOTFALL, program);
	ASSERT_EQ(chmod(program.c_str(), 0755), 0);
	if (user) {
		ASSERT_EQ(chown(dir.c_str(), user, user), 0);
	}
}

Window OnWayland::wait_display(int width, int height, int outer_w, int outer_h)
{
	Window w = 0;
	wait_for(START_SECONDS, [&] {
		w = find_window(c->dpy, DefaultRootWindow(c->dpy), width, height);
		XWindowAttributes a;
		return w && XGetWindowAttributes(c->dpy, parent_of(c->dpy, w), &a) && a.width == outer_w &&
		       a.height == outer_h;
	});
	return w;
}

bool OnWayland::wait_focus(Window w)
{
	return wait_for(START_SECONDS, [&] {
		Window focus;
		int revert;
		XGetInputFocus(c->dpy, &focus, &revert);
		return focus > PointerRoot && top_level(c->dpy, focus) == top_level(c->dpy, w);
	});
}

int OnWayland::key_status(run &r, KeySym sym)
{
	for (int i = 0; i < 3 && r.running(); i++) {
		EXPECT_TRUE(c->type(sym)) << "the key could not be typed";
		r.exit_status(i < 2 ? 3 : 10);
	}
	return r.status != -1 && WIFEXITED(r.status) ? WEXITSTATUS(r.status) : -1;
}
