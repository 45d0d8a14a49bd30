// The built program, run for real: its own X server (Xvfb), real key and
// pointer events (XTest), and the picture read back from its window.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <signal.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <gtest/gtest.h>
// Xlib defines macros (None, Bool, Status) that gtest must not see.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

namespace {

const char MESSAGE[] = "Error setting graphics mode!";
const int SCREEN_WIDTH = 1024, SCREEN_HEIGHT = 768;

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Waits for a condition, checking every 20 ms, for at most `seconds`.
template <typename F>
bool wait_for(double seconds, F done)
{
	auto end = clock_type::now() + std::chrono::duration<double>(seconds);
	while (!done()) {
		if (clock_type::now() > end)
			return false;
		pause_ms(20);
	}
	return true;
}

// A private X server on a free display number, for one test.
struct xserver {
	pid_t pid = -1;
	std::string name;
	Display *dpy = nullptr;

	xserver()
	{
		int fds[2];
		if (pipe(fds) != 0)
			return;
		pid = fork();
		if (pid == 0) {
			prctl(PR_SET_PDEATHSIG, SIGTERM);   // no server outlives its test
			close(fds[0]);
			std::string fd = std::to_string(fds[1]);
			std::string size = std::to_string(SCREEN_WIDTH) + "x" + std::to_string(SCREEN_HEIGHT) + "x24";
			int null = open("/dev/null", O_WRONLY);
			dup2(null, 1);
			dup2(null, 2);
			execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", size.c_str(),
			       "-nolisten", "tcp", (char *)nullptr);
			_exit(127);
		}
		close(fds[1]);
		// Xvfb writes the number and then a newline, and gives up if the
		// pipe closes in between: read up to the newline.
		std::string number;
		char c;
		while (read(fds[0], &c, 1) == 1 && c != '\n')
			number += c;
		close(fds[0]);
		if (!number.empty()) {
			name = ":" + number;
			dpy = XOpenDisplay(name.c_str());
		}
		// Windows come and go under the tests' feet; a request on one that
		// has gone must not end the test process.
		XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
	}
	~xserver()
	{
		if (dpy)
			XCloseDisplay(dpy);
		if (pid > 0) {
			kill(pid, SIGTERM);
			waitpid(pid, nullptr, 0);
		}
	}
};

// A run of dotfall in a folder of its own, its output gathered from one pipe.
struct run {
	pid_t pid = -1;
	int out = -1;
	std::string output;
	int status = -1;

	// env: NAME=VALUE to set, or NAME alone to unset.
	run(const fs::path &dir, std::vector<std::string> env)
	{
		int fds[2];
		if (pipe(fds) != 0)
			return;
		pid = fork();
		if (pid == 0) {
			dup2(fds[1], 1);
			dup2(fds[1], 2);
			close(fds[0]);
			close(fds[1]);
			if (chdir(dir.c_str()) != 0)
				_exit(127);
			for (std::string &e : env) {
				size_t eq = e.find('=');
				if (eq == std::string::npos)
					unsetenv(e.c_str());
				else
					setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
			}
			execl(DOTFALL, DOTFALL, (char *)nullptr);
			_exit(127);
		}
		close(fds[1]);
		out = fds[0];
		fcntl(out, F_SETFL, O_NONBLOCK);
	}
	~run()
	{
		if (running()) {
			kill(pid, SIGKILL);
			waitpid(pid, nullptr, 0);
		}
		if (out >= 0)
			close(out);
	}

	void drain()
	{
		char buf[4096];
		ssize_t n;
		while ((n = read(out, buf, sizeof buf)) > 0)
			output.append(buf, n);
	}
	bool running()
	{
		if (status != -1 || pid <= 0)
			return false;
		drain();
		if (waitpid(pid, &status, WNOHANG) == pid) {
			drain();
			return false;
		}
		status = -1;
		return true;
	}
	// The exit status, or -1 after a signal or no exit within `seconds`.
	int exit_status(double seconds)
	{
		wait_for(seconds, [&] { return !running(); });
		return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	}
};

bool has_class(Display *dpy, Window w, const char *name)
{
	XClassHint hint;
	if (!XGetClassHint(dpy, w, &hint))
		return false;
	bool same = strcmp(hint.res_class, name) == 0;
	XFree(hint.res_name);
	XFree(hint.res_class);
	return same;
}

// The deepest viewable window of the given size, or of the given class
// among the top-level windows when width is 0.
Window find_window(Display *dpy, Window under, int width, int height, const char *cls = nullptr)
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
		if (!found && a.width == width && a.height == height)
			found = kids[i];
	}
	if (kids)
		XFree(kids);
	return found;
}

Window wait_window(Display *dpy, int width, int height, const char *cls = nullptr)
{
	Window w = 0;
	wait_for(10, [&] { return (w = find_window(dpy, DefaultRootWindow(dpy), width, height, cls)) != 0; });
	return w;
}

Window top_level(Display *dpy, Window w)
{
	Window root, parent, *kids;
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

// The window's pixels as 0xRRGGBB, row by row.
std::vector<uint32_t> grab(Display *dpy, Window w, int width, int height)
{
	std::vector<uint32_t> pixels;
	XImage *img = XGetImage(dpy, w, 0, 0, width, height, AllPlanes, ZPixmap);
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
	point_at(dpy, over, 5, 5);   // with no window manager the focus follows the pointer
	KeyCode code = XKeysymToKeycode(dpy, sym);
	XTestFakeKeyEvent(dpy, code, True, 0);
	XTestFakeKeyEvent(dpy, code, False, 0);
	XSync(dpy, False);
}

// Where the chaos game can go from `start` with these points, worked out by
// a search over positions rather than by playing it: every position
// reachable at all, and the ones it keeps coming back to.
struct figure {
	int width, height;
	std::vector<bool> reachable, recurrent;   // over the display, row by row
};

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
	figure f{ width, height, std::vector<bool>(width * height), std::vector<bool>(width * height) };
	for (int y = 0; y < height; y++)
		for (int x = 0; x < width; x++)
			if (x >= x0 && x <= x1 && y >= y0 && y <= y1) {
				f.reachable[y * width + x] = seen[(y - y0) * bw + x - x0];
				f.recurrent[y * width + x] = now[(y - y0) * bw + x - x0];
			}
	return f;
}

struct folder_state {
	std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> files;
	std::map<std::string, std::string> bytes;
	bool operator==(const folder_state &o) const { return files == o.files && bytes == o.bytes; }
};

folder_state snapshot(const fs::path &dir)
{
	folder_state s;
	for (auto &e : fs::directory_iterator(dir)) {
		std::string name = e.path().filename();
		s.files[name] = { e.file_size(), e.last_write_time() };
		std::ifstream in(e.path(), std::ios::binary);
		s.bytes[name].assign(std::istreambuf_iterator<char>(in), {});
	}
	return s;
}

struct Dotfall : ::testing::Test {
	xserver x;
	fs::path dir;

	void SetUp() override
	{
		ASSERT_NE(x.dpy, nullptr) << "Xvfb did not start";
		char tmpl[] = "/tmp/dotfall-e2e-XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		dir = tmpl;
	}
	void TearDown() override { fs::remove_all(dir); }

	void settings_file(const std::string &text) { std::ofstream(dir / "dotfall.ini") << text; }
	std::vector<std::string> env(std::vector<std::string> more = {})
	{
		more.insert(more.begin(), "DISPLAY=" + x.name);
		return more;
	}

	// Runs dotfall and checks that it draws exactly the chaos-game figure of
	// these points on a width by height display, in these colours, until a key.
	void expect_figure(int width, int height, const int (&pts)[3][2], uint32_t fg, uint32_t bg,
	                   bool fullscreen)
	{
		const figure f = chaos_figure(width, height, pts);
		const folder_state before = snapshot(dir);
		run r(dir, env());
		Window w = wait_window(x.dpy, width, height);
		ASSERT_NE(w, 0u) << "no " << width << "x" << height << " window";
		XWindowAttributes top;
		XGetWindowAttributes(x.dpy, top_level(x.dpy, w), &top);
		if (fullscreen)
			EXPECT_TRUE(top.width == SCREEN_WIDTH && top.height == SCREEN_HEIGHT) << "not full screen";
		else
			EXPECT_TRUE(top.width == width && top.height == height) << "not a window of its own";

		// Every lit pixel must be reachable, and every pixel one of the two
		// colours once the palette is loaded; wait until most of the figure is in.
		int foreign = 0, stray = 0, drawn = 0, wanted = 0;
		wait_for(60, [&] {
			std::vector<uint32_t> px = grab(x.dpy, w, width, height);
			foreign = stray = drawn = wanted = 0;
			for (size_t i = 0; i < px.size(); i++) {
				foreign += px[i] != fg && px[i] != bg;
				stray += px[i] == fg && !f.reachable[i];
				drawn += px[i] == fg && f.recurrent[i];
				wanted += f.recurrent[i];
			}
			return stray > 0 || (foreign == 0 && drawn >= wanted * 0.98);
		});
		EXPECT_EQ(foreign, 0) << "pixels in neither colour";
		EXPECT_EQ(stray, 0) << "pixels lit that the chaos game cannot reach";
		EXPECT_GT(wanted, 1000);
		EXPECT_GE(drawn, wanted * 0.98) << drawn << " of " << wanted << " figure pixels drawn";

		press_key(x.dpy, w, XK_space);
		EXPECT_EQ(r.exit_status(10), 0);
		EXPECT_EQ(r.output, "");
		EXPECT_TRUE(snapshot(dir) == before) << "the run changed its folder";
	}

	// Runs dotfall and checks that it ends with the display failure.
	void expect_failure(std::vector<std::string> vars)
	{
		run r(dir, vars);
		EXPECT_EQ(r.exit_status(10), 1) << "status " << r.status;
		EXPECT_EQ(r.output.substr(0, r.output.find_last_not_of('\n') + 1), MESSAGE);
	}
};

const uint32_t WHITE = 0xffffff, BLACK = 0;

TEST_F(Dotfall, WithoutSettingsDrawsTheFigureFullScreenWhiteOnBlack)
{
	expect_figure(640, 480, { { 320, 0 }, { 0, 480 }, { 640, 480 } }, WHITE, BLACK, true);
}

TEST_F(Dotfall, PointsDefaultToTheDisplaySize)
{
	settings_file("[screen]\nfullscreen = 0\nscreenw = 320\nscreenh = 241\n");
	expect_figure(320, 241, { { 160, 0 }, { 0, 241 }, { 320, 241 } }, WHITE, BLACK, false);
}

TEST_F(Dotfall, SettingsFileSetsPointsAndColours)
{
	settings_file("[screen]\nfullscreen = 0\nscreenw = 300\nscreenh = 200\n"
	              "[points]\npoint_1_x = 150\npoint_1_y = -40\npoint_2_x = -60\npoint_2_y = 260\n"
	              "point_3_x = 360\npoint_3_y = 190\n"
	              "[colors]\nforeground_color_r = 63\nforeground_color_g = 32\nforeground_color_b = 319\n"
	              "background_color_r = 0\nbackground_color_g = 16\nbackground_color_b = 256\n");
	// 6-bit components on screen: 63 is 0xff, 32 is 0x82, 16 is 0x41; 319 and
	// 256 keep their low 8 bits, 63 and 0.
	expect_figure(300, 200, { { 150, -40 }, { -60, 260 }, { 360, 190 } }, 0xff82ff, 0x004100, false);
}

TEST_F(Dotfall, PointerAndCloseButtonDoNotEndTheRunButAKeyDoes)
{
	settings_file("[screen]\nfullscreen = 0\n");
	run r(dir, env());
	Window w = wait_window(x.dpy, 640, 480);
	ASSERT_NE(w, 0u);
	for (int i = 0; i < 20; i++) {
		point_at(x.dpy, w, 30 * i, 20 * i);
		pause_ms(10);
	}
	for (unsigned button = 1; button <= 5; button++) {   // held as long as a hand would
		XTestFakeButtonEvent(x.dpy, button, True, 0);
		XSync(x.dpy, False);
		pause_ms(50);
		XTestFakeButtonEvent(x.dpy, button, False, 0);
		XSync(x.dpy, False);
	}
	// What a window manager sends when the close button is clicked.
	XEvent close = {};
	close.xclient.type = ClientMessage;
	close.xclient.window = top_level(x.dpy, w);
	close.xclient.message_type = XInternAtom(x.dpy, "WM_PROTOCOLS", False);
	close.xclient.format = 32;
	close.xclient.data.l[0] = XInternAtom(x.dpy, "WM_DELETE_WINDOW", False);
	XSendEvent(x.dpy, close.xclient.window, False, NoEventMask, &close);
	XSync(x.dpy, False);
	pause_ms(500);
	EXPECT_TRUE(r.running());

	press_key(x.dpy, w, XK_Escape);
	EXPECT_EQ(r.exit_status(10), 0);
}

TEST_F(Dotfall, WithoutAUsableDisplayItFailsCleanly)
{
	expect_failure({ "DISPLAY", "PATH=/nonexistent" });
	expect_failure({ "DISPLAY=:4095", "PATH=/nonexistent" });
}

TEST_F(Dotfall, SizesNoDisplayCanTakeFailCleanly)
{
	const char *sizes[][2] = { { "0", "480" }, { "640", "0" }, { "-1", "480" }, { "640", "-1" },
	                           { "100000", "480" }, { "2147483647", "2" }, { "16385", "16384" } };
	for (const char *fullscreen : { "0", "1" })
		for (auto &size : sizes) {
			SCOPED_TRACE(std::string(fullscreen) + " " + size[0] + "x" + size[1]);
			settings_file(std::string("[screen]\nfullscreen = ") + fullscreen + "\nscreenw = " + size[0] +
			              "\nscreenh = " + size[1] + "\n");
			expect_failure(env({ "PATH=/nonexistent" }));
		}
}

TEST_F(Dotfall, FailureMessageIsShownInADialog)
{
	if (access("/usr/bin/xmessage", X_OK) != 0)
		GTEST_SKIP() << "xmessage is not installed";
	settings_file("[screen]\nscreenw = 0\n");
	run r(dir, env({ "PATH=/usr/bin:/bin" }));
	Window dialog = wait_window(x.dpy, 0, 0, "Xmessage");
	ASSERT_NE(dialog, 0u) << "no message dialog";
	EXPECT_EQ(find_window(x.dpy, DefaultRootWindow(x.dpy), 0, 0, "Allegro"), 0u) << "a display was shown";
	EXPECT_TRUE(r.running()) << "the message waits to be dismissed";
	press_key(x.dpy, dialog, XK_Return);
	EXPECT_EQ(r.exit_status(10), 1);
	EXPECT_EQ(r.output, "");
}

} // namespace
