// The built program, run for real: its own X server (Xvfb), real key and
// pointer events (XTest), and the picture read back from its window.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace {

// Waits until the picture that `take` gives (of picture_w columns, with the
// display's top left corner at x0, y0) settles, and checks that it shows the
// figure exactly: every lit pixel reachable, every pixel one of the two
// colours once the palette is loaded (black outside the display), and most
// of the figure in.
template <typename F>
void expect_drawn(F take, int picture_w, int x0, int y0, const figure &f, int width, int height, uint32_t fg,
                  uint32_t bg)
{
	figure_match m;
	wait_for(DRAW_SECONDS, [&] {
		std::vector<uint32_t> px = take();
		m = figure_match();
		if (px.empty())   // not readable (yet)
			return false;
		m = match_figure(px, picture_w, x0, y0, f, width, height, fg, bg);
		return m.settled();
	});
	EXPECT_EQ(m.foreign, 0) << "pixels in neither colour";
	EXPECT_EQ(m.stray, 0) << "pixels lit that the chaos game cannot reach";
	EXPECT_GT(m.wanted, 1000);
	EXPECT_GE(m.drawn, m.wanted * 0.98) << m.drawn << " of " << m.wanted << " figure pixels drawn";
}

struct Dotfall : OnXvfb {
	using OnXvfb::OnXvfb;

	// For a run that did not end on a key: whether its display was still up.
	std::string still_shown(run &r, int width, int height)
	{
		if (!r.running())
			return "";
		return find_window(x.dpy, DefaultRootWindow(x.dpy), width, height)
		               ? "the display is still shown"
		               : "the display has gone, the process not\n" + r.threads();
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
			EXPECT_TRUE(top.width == DisplayWidth(x.dpy, 0) && top.height == DisplayHeight(x.dpy, 0))
			        << "not full screen";
		else
			EXPECT_TRUE(top.width >= width && top.width - width <= FRAME && top.height >= height &&
			            top.height - height <= FRAME) << "not a window of its own";

		expect_drawn([&] { return grab(x.dpy, w, width, height); }, width, 0, 0, f, width, height, fg, bg);

		press_key(x.dpy, w, XK_space);
		EXPECT_EQ(r.exit_status(10), 0) << still_shown(r, width, height);
		EXPECT_EQ(r.output, "");
		EXPECT_TRUE(snapshot(dir) == before) << "the run changed its folder";
	}
};

const uint32_t WHITE = 0xffffff, BLACK = 0;

// Widths that are multiples of 4, as the library's DirectX window driver
// needs.
const int SMALL_W = 320, SMALL_H = 241, WIDE_W = 300, WIDE_H = 200;

// Wine cannot change the mode of an Xvfb screen (its RandR offers the one
// mode it started with), so its full screen works only at the screen's own
// size: the default display gets a screen of that size there.
struct DefaultDisplay : Dotfall {
#ifdef DOTFALL_WINE
	DefaultDisplay() : Dotfall(640, 480, false) {}
#endif
};

TEST_F(DefaultDisplay, WithoutSettingsDrawsTheFigureFullScreenWhiteOnBlack)
{
	expect_figure(640, 480, { { 320, 0 }, { 0, 480 }, { 640, 480 } }, WHITE, BLACK, true);
}

TEST_F(Dotfall, FullScreenAtTheScreenSize)
{
	const int w = SCREEN_WIDTH, h = SCREEN_HEIGHT;
	settings_file(dir, screen_settings(1, w, h));
	expect_figure(w, h, { { w / 2, 0 }, { 0, h }, { w, h } }, WHITE, BLACK, true);
}

TEST_F(Dotfall, PointsDefaultToTheDisplaySize)
{
	const int w = SMALL_W, h = SMALL_H;
	settings_file(dir, screen_settings(0, w, h));
	expect_figure(w, h, { { w / 2, 0 }, { 0, h }, { w, h } }, WHITE, BLACK, false);
}

TEST_F(Dotfall, SettingsFileSetsPointsAndColours)
{
	// At 300x200: (150, -40), (-60, 260), (360, 190).
	const int w = WIDE_W, h = WIDE_H;
	const int pts[3][2] = { { w / 2, -h / 5 }, { -w / 5, h * 13 / 10 }, { w * 6 / 5, h * 19 / 20 } };
	std::string points = "[points]\n";
	for (int i = 0; i < 3; i++)
		points += "point_" + std::to_string(i + 1) + "_x = " + std::to_string(pts[i][0]) + "\npoint_" +
		          std::to_string(i + 1) + "_y = " + std::to_string(pts[i][1]) + "\n";
	settings_file(dir, screen_settings(0, w, h) + points +
	                   "[colors]\nforeground_color_r = 63\nforeground_color_g = 32\nforeground_color_b = 319\n"
	                   "background_color_r = 0\nbackground_color_g = 16\nbackground_color_b = 256\n");
	// 6-bit components on screen: 63 is 0xff, 32 is 0x82, 16 is 0x41; 319 and
	// 256 keep their low 8 bits, 63 and 0.
	expect_figure(w, h, pts, 0xff82ff, 0x004100, false);
}

TEST_F(Dotfall, ExampleSettingsFileDrawsWhatItSays)
{
	fs::copy_file(EXAMPLE_SETTINGS, dir / "dotfall.ini");
	// An 800x600 window, the tip lifted to (400, -100), red (63, 10, 10) on
	// dark blue (0, 0, 20): 10 shows as 0x28 and 20 as 0x51.
	expect_figure(800, 600, { { 400, -100 }, { 0, 600 }, { 800, 600 } }, 0xff2828, 0x000051, false);
}

TEST_F(Dotfall, PointerAndCloseButtonDoNotEndTheRunButAKeyDoes)
{
	settings_file(dir, screen_settings(0, SMALL_W, SMALL_H));
	run r(dir, env());
	Window w = wait_window(x.dpy, SMALL_W, SMALL_H);
	ASSERT_NE(w, 0u);
	for (int i = 0; i < 20; i++) {
		point_at(x.dpy, w, SMALL_W * i / 20, SMALL_H * i / 20);
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

	// A modifier alone puts nothing in the library's key buffer.
	press_key(x.dpy, w, XK_Shift_L);
	pause_ms(500);
	EXPECT_TRUE(r.running()) << "a modifier alone ended the run";

#ifdef DOTFALL_WINE
	// Nor does Alt+F4, Alt held as a hand holds it: the library makes it a
	// request to close, which the run ignores as it does the close button.
	const KeyCode alt = XKeysymToKeycode(x.dpy, XK_Alt_L);
	XTestFakeKeyEvent(x.dpy, alt, True, 0);
	XSync(x.dpy, False);
	pause_ms(300);
	press_key(x.dpy, w, XK_F4);
	pause_ms(300);
	XTestFakeKeyEvent(x.dpy, alt, False, 0);
	XSync(x.dpy, False);
	pause_ms(500);
	EXPECT_TRUE(r.running()) << "Alt+F4 ended the run";
#else
	// Nor does a dead key, which waits for the key it accents: a spare
	// keycode given one, as a German or French layout has.
	int lo, hi, per;
	XDisplayKeycodes(x.dpy, &lo, &hi);
	KeySym *map = XGetKeyboardMapping(x.dpy, lo, hi - lo + 1, &per);
	int spare = 0;
	for (int c = hi; c >= lo && !spare; c--)
		if (std::all_of(map + (c - lo) * per, map + (c - lo + 1) * per, [](KeySym k) { return k == NoSymbol; }))
			spare = c;
	XFree(map);
	ASSERT_NE(spare, 0) << "no spare keycode";
	KeySym dead[2] = { XK_dead_circumflex, XK_dead_circumflex };
	XChangeKeyboardMapping(x.dpy, spare, 2, dead, 1);
	XSync(x.dpy, False);
	pause_ms(200);
	ASSERT_EQ(XKeysymToKeycode(x.dpy, XK_dead_circumflex), spare);
	press_key(x.dpy, w, XK_dead_circumflex);
	pause_ms(500);
	EXPECT_TRUE(r.running()) << "a dead key alone ended the run";
#endif

	press_key(x.dpy, w, XK_a);
	EXPECT_EQ(r.exit_status(10), 0) << still_shown(r, SMALL_W, SMALL_H);
}

TEST_F(Dotfall, SizesNoDisplayCanTakeFailCleanly)
{
#ifdef DOTFALL_WINE
	GTEST_SKIP() << "on Windows every failure is a message box: see FailureMessageIsShownInADialog";
#endif
	const char *sizes[][2] = { { "0", "480" }, { "640", "0" }, { "-1", "480" }, { "640", "-1" },
	                           { "100000", "480" }, { "2147483647", "2" }, { "16385", "16384" } };
	for (const char *fullscreen : { "0", "1" })
		for (auto &size : sizes) {
			SCOPED_TRACE(std::string(fullscreen) + " " + size[0] + "x" + size[1]);
			settings_file(dir, std::string("[screen]\nfullscreen = ") + fullscreen + "\nscreenw = " + size[0] +
			                   "\nscreenh = " + size[1] + "\n");
			expect_failure(env({ "PATH=/nonexistent" }));
		}
}

TEST_F(Dotfall, FailureMessageIsShownInADialog)
{
#ifdef DOTFALL_WINE
	// The DirectX window driver takes only widths that are multiples of 4;
	// the message is a message box of the program's own.
	settings_file(dir, screen_settings(0, 150, 120));
	run r(dir, env());
	Window dialog = wait_window(x.dpy, 0, 0, "dotfall.exe");
	ASSERT_NE(dialog, 0u) << "no message box";
	EXPECT_EQ(find_window(x.dpy, DefaultRootWindow(x.dpy), 150, 120), 0u) << "a display was shown";
#else
	if (access("/usr/bin/xmessage", X_OK) != 0)
		GTEST_SKIP() << "xmessage is not installed";
	settings_file(dir, "[screen]\nscreenw = 0\n");
	run r(dir, env({ "PATH=/usr/bin:/bin" }));
	Window dialog = wait_window(x.dpy, 0, 0, "Xmessage");
	ASSERT_NE(dialog, 0u) << "no message dialog";
	EXPECT_EQ(find_window(x.dpy, DefaultRootWindow(x.dpy), 0, 0, "dotfall"), 0u) << "a display was shown";
#endif
	EXPECT_TRUE(r.running()) << "the message waits to be dismissed";
	press_key(x.dpy, dialog, XK_Return);
	EXPECT_EQ(r.exit_status(10), 1);
	EXPECT_EQ(r.output, "");
}

#ifndef DOTFALL_WINE
// On X11 alone: the program's own windows, full screen on X11 desktops, and
// under Wayland compositors.

// Task bars and window switchers know a program by its managed window: its
// class, and its icon at each size, the pictures the menu shows too.
TEST_F(Dotfall, ItsWindowCarriesDotfallsClassAndIcon)
{
	settings_file(dir, screen_settings(0, SMALL_W, SMALL_H));
	run r(dir, env());
	Window top = wait_window(x.dpy, 0, 0, "dotfall");
	ASSERT_NE(top, 0u) << "no window of class dotfall: " << r.output;
	XClassHint hint = {};
	ASSERT_TRUE(XGetClassHint(x.dpy, top, &hint));
	EXPECT_STREQ(hint.res_name, "dotfall");
	EXPECT_STREQ(hint.res_class, "dotfall");
	XFree(hint.res_name);
	XFree(hint.res_class);

	// The icon images as the package installs them, as RGBA.
	auto image = [](int side) {
		run pam("/", {}, 0, "pngtopam", { "-alphapam", ICONS_DIR "/dotfall-" + std::to_string(side) + ".png" });
		pam.exit_status(START_SECONDS);
		return pam.output.substr(pam.output.find("ENDHDR\n") + 7);
	};
	Atom type;
	int format;
	unsigned long n, after;
	unsigned char *data = nullptr;
	XGetWindowProperty(x.dpy, top, XInternAtom(x.dpy, "_NET_WM_ICON", False), 0, 1 << 20, False, XA_CARDINAL,
	                   &type, &format, &n, &after, &data);
	ASSERT_NE(data, nullptr) << "no _NET_WM_ICON";
	const unsigned long *v = (const unsigned long *)data;
	std::vector<int> sides;
	for (unsigned long i = 0; i + 2 <= n && i + 2 + v[i] * v[i + 1] <= n; i += 2 + v[i] * v[i + 1]) {
		SCOPED_TRACE("icon of " + std::to_string(v[i]));
		ASSERT_EQ(v[i], v[i + 1]);
		const std::string rgba = image((int)v[i]);
		ASSERT_EQ(rgba.size(), 4 * v[i] * v[i]);
		int differ = 0;
		for (unsigned long p = 0; p < v[i] * v[i]; p++) {
			const unsigned char *c = (const unsigned char *)rgba.data() + 4 * p;
			// Xlib hands 32-bit items over as longs, sign-extended.
			differ += (v[i + 2 + p] & 0xffffffff) != ((unsigned long)c[3] << 24 | c[0] << 16 | c[1] << 8 | c[2]);
		}
		EXPECT_EQ(differ, 0) << "pixels unlike the installed icon's";
		sides.push_back((int)v[i]);
	}
	XFree(data);
	EXPECT_EQ(sides, (std::vector<int>{ 16, 32, 48, 128 }));

	// The older icon of WM_HINTS, for window managers that know no other.
	XWMHints *wm = XGetWMHints(x.dpy, top);
	ASSERT_NE(wm, nullptr);
	EXPECT_TRUE(wm->flags & IconPixmapHint);
	Window root;
	int px, py;
	unsigned pw = 0, ph = 0, border, depth;
	XGetGeometry(x.dpy, wm->icon_pixmap, &root, &px, &py, &pw, &ph, &border, &depth);
	EXPECT_TRUE(pw == 48 && ph == 48) << pw << "x" << ph;
	if (pw == 48 && ph == 48) {
		const std::string rgba = image(48);
		XImage *img = XGetImage(x.dpy, wm->icon_pixmap, 0, 0, 48, 48, AllPlanes, ZPixmap);
		ASSERT_NE(img, nullptr);
		int differ = 0;
		for (int p = 0; p < 48 * 48; p++) {
			const unsigned char *c = (const unsigned char *)rgba.data() + 4 * p;
			differ += (XGetPixel(img, p % 48, p / 48) & 0xffffff) != (unsigned long)(c[0] << 16 | c[1] << 8 | c[2]);
		}
		XDestroyImage(img);
		EXPECT_EQ(differ, 0) << "pixels unlike the installed icon's";
	}
	XFree(wm);

	press_key(x.dpy, top, XK_space);
	EXPECT_EQ(r.exit_status(10), 0);
}

// Full screen on a real Xorg desktop, with one monitor and with two: the
// window manager's own, never a mode switch (which on most drivers moves
// every monitor and window), the exact figure in the middle of the one
// monitor the window fills, a key ends it, and nothing else on the desktop
// has moved, the monitors' layout included. The pointer starts on the last
// monitor, where new windows go.
TEST_F(Dotfall, FullScreenOnAnXorgDesktopFillsOneMonitorAndMovesNothing)
{
	const int w = 640, h = 480;
	const figure f = chaos_figure(w, h, { { w / 2, 0 }, { 0, h }, { w, h } });
	for (const char *manager : { "openbox", "xfwm4" })
		for (int count : { 1, 2 }) {
			SCOPED_TRACE(std::string(manager) + ", monitors: " + std::to_string(count));
			xserver desk(count, manager);
			ASSERT_TRUE(desk.laid_out && desk.wm_ready) << "Xorg or " << manager << " did not start";
			Display *dpy = desk.dpy;
			const std::string layout = randr_layout(desk.name), mode = video_mode(dpy);
			ASSERT_EQ(mode.substr(0, 10), "1920x1080 ");
			const std::vector<XRectangle> screens = monitors(dpy);
			ASSERT_EQ((int)screens.size(), count);

			// Another program's window, where its user put it.
			Window other = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 1002, 640, 300, 200, 0, 0, 0x808080);
			XSizeHints hints = {};
			hints.flags = USPosition | USSize;
			hints.x = 1002, hints.y = 640, hints.width = 300, hints.height = 200;
			XSetWMNormalHints(dpy, other, &hints);
			XMapWindow(dpy, other);
			XSync(dpy, False);
			ASSERT_TRUE(wait_for(START_SECONDS, [&] { return top_level(dpy, other) != other; }));
			pause_ms(200);
			const XRectangle placed = geometry(dpy, other);
			const XRectangle &last = screens.back();
			XTestFakeMotionEvent(dpy, DefaultScreen(dpy), last.x + last.width / 2, last.y + last.height / 2, 0);
			XSync(dpy, False);

			run r(dir, { "DISPLAY=" + desk.name });
			Window top = wait_window(dpy, 0, 0, "dotfall");
			ASSERT_NE(top, 0u) << "no window of class dotfall: " << r.output;
			XRectangle at = {}, on = {};
			EXPECT_TRUE(wait_for(START_SECONDS, [&] {
				at = geometry(dpy, top);
				for (const XRectangle &m : screens)
					if (m.x == at.x && m.y == at.y && m.width == at.width && m.height == at.height)
						return on = m, true;
				return false;
			})) << "the window is " << at.width << "x" << at.height << "+" << at.x << "+" << at.y
			    << ", filling no monitor";
			std::string switched;
			if (on.width)
				expect_drawn(
					[&] {
						if (video_mode(dpy) != mode)
							switched = video_mode(dpy);
						return grab(dpy, top, on.width, on.height);
					},
					on.width, (on.width - w) / 2, (on.height - h) / 2, f, w, h, WHITE, BLACK);
			EXPECT_EQ(switched, "") << "the mode was switched";

			press_key(dpy, top, XK_space);
			EXPECT_EQ(r.exit_status(10), 0) << still_shown(r, w, h);
			EXPECT_EQ(r.output, "");
			const XRectangle now = geometry(dpy, other);
			EXPECT_TRUE(now.x == placed.x && now.y == placed.y && now.width == placed.width &&
			            now.height == placed.height)
				<< "the other window moved from " << placed.x << "," << placed.y << " to " << now.x << "," << now.y;
			EXPECT_EQ(video_mode(dpy), mode);
			EXPECT_EQ(randr_layout(desk.name), layout);
		}
}

// When the monitor changes size under a full-screen run, the window manager
// resizes the window, and the display is in its middle again to the pixel:
// at 1281x721 the window's gravity alone would put it a pixel off (KWin
// gives windows such sizes).
TEST_F(Dotfall, FullScreenStaysCentredWhenTheMonitorChangesSize)
{
	const int w = 640, h = 480;
	xserver desk(1, "openbox");
	ASSERT_TRUE(desk.laid_out && desk.wm_ready) << "Xorg or openbox did not start";
	Display *dpy = desk.dpy;
	run r(dir, { "DISPLAY=" + desk.name });
	Window top = wait_window(dpy, 0, 0, "dotfall");
	ASSERT_NE(top, 0u) << r.output;
	ASSERT_TRUE(wait_for(START_SECONDS, [&] { return geometry(dpy, top).width == 1920; })) << "not full screen";

	const std::vector<std::string> env{ "DISPLAY=" + desk.name };
	for (std::vector<std::string> args : { std::vector<std::string>{ "--newmode", "1281x721", "77.5", "1281", "1350",
	                                                                 "1480", "1680", "721", "724", "734", "769" },
	                                       { "--addmode", "DUMMY0", "1281x721" },
	                                       { "--output", "DUMMY0", "--mode", "1281x721" } })
		ASSERT_EQ(run(dir, env, 0, "xrandr", args).exit_status(START_SECONDS), 0) << args[0];
	Window display = 0;
	EXPECT_TRUE(wait_for(START_SECONDS, [&] {
		XRectangle at = geometry(dpy, top);
		display = find_window(dpy, top, w, h);
		if (at.width != 1281 || at.height != 721 || !display)
			return false;
		XRectangle d = geometry(dpy, display);
		return d.x - at.x == (1281 - w) / 2 && d.y - at.y == (721 - h) / 2;
	})) << "the display is not in the middle of the resized window";

	press_key(dpy, top, XK_space);
	EXPECT_EQ(r.exit_status(10), 0);
}

// Without a window manager full screen is the library's own, over the whole
// X screen: its display lies on the primary monitor of two, never across the
// seam, whether the mode is switched (VidMode, which a key puts back) or not
// (a remote display, as over ssh -X or VNC: in the monitor's middle); and
// the pointer, which it keeps on the display, goes back where it was.
TEST_F(Dotfall, FullScreenWithoutAWindowManagerStaysOnThePrimaryMonitor)
{
	const int w = 640, h = 480;
	const figure f = chaos_figure(w, h, { { w / 2, 0 }, { 0, h }, { w, h } });
	for (bool remote : { false, true }) {
		SCOPED_TRACE(remote ? "remote" : "local");
		xserver bare(2, "", remote);
		ASSERT_TRUE(bare.laid_out) << "Xorg did not start";
		Display *dpy = bare.dpy;
		const std::string layout = randr_layout(bare.name), mode = video_mode(dpy);
		const XRectangle p = primary_monitor(dpy);
		ASSERT_EQ(p.width, 1920);
		XTestFakeMotionEvent(dpy, DefaultScreen(dpy), 2500, 900, 0);   // on the other monitor
		XSync(dpy, False);

		run r(dir, { "DISPLAY=" + bare.name });
		Window display = wait_window(dpy, w, h);
		ASSERT_NE(display, 0u) << r.output;
		if (!remote) {
			EXPECT_TRUE(wait_for(START_SECONDS, [&] { return video_mode(dpy).substr(0, 8) == "640x480 "; }))
				<< "the mode is " << video_mode(dpy);
		}
		// Placed before the first dot is drawn.
		expect_drawn([&] { return grab(dpy, display, w, h); }, w, 0, 0, f, w, h, WHITE, BLACK);
		const XRectangle d = geometry(dpy, display);
		EXPECT_TRUE(d.x >= p.x && d.y >= p.y && d.x + w <= p.x + p.width && d.y + h <= p.y + p.height)
			<< "the display is at " << d.x << "," << d.y;
		if (remote) {
			EXPECT_TRUE(d.x == p.x + (p.width - w) / 2 && d.y == p.y + (p.height - h) / 2)
				<< "the display is at " << d.x << "," << d.y;
		}

		press_key(dpy, display, XK_space);
		EXPECT_EQ(r.exit_status(10), 0);
		EXPECT_EQ(r.output, "");
		EXPECT_EQ(video_mode(dpy), mode) << "the mode was not put back";
		EXPECT_EQ(randr_layout(bare.name), layout);
		Window root, child;
		int x = 0, y = 0, wx, wy;
		unsigned buttons;
		XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &x, &y, &wx, &wy, &buttons);
		EXPECT_TRUE(x == 2500 && y == 900) << "the pointer is left at " << x << "," << y;
	}
}

// Under a Wayland compositor, through XWayland, with keys typed through the
// compositor as a user's are.
struct Wayland : OnWayland {
	// The picture to check: on sway the output as the compositor shows it,
	// on mutter what XWayland holds for the managed window (all of the output
	// at full screen).
	std::vector<uint32_t> picture(Window display, int width, int height)
	{
		if (c->kind == wm::sway && width == OUTPUT_WIDTH && height == OUTPUT_HEIGHT)
			return c->screenshot();
		return grab(c->dpy, width == OUTPUT_WIDTH ? parent_of(c->dpy, display) : display, width, height);
	}
};

TEST_P(Wayland, FullScreenCoversTheOutputWithTheFigureCentredPixelForPixel)
{
	const int w = 640, h = 480;
	run r(dir, c->env(), user, program);
	Window display = wait_display(w, h, OUTPUT_WIDTH, OUTPUT_HEIGHT);
	ASSERT_NE(display, 0u) << "no full-screen window holding a 640x480 display: " << r.output;
	// A window that the window manager made full screen, not one of its own
	// over the screen (which XWayland would stretch, mode switched, over the
	// output, and which some compositors give no keys).
	const Window managed = parent_of(c->dpy, display);
	XWindowAttributes a = {};
	XGetWindowAttributes(c->dpy, managed, &a);
	EXPECT_FALSE(a.override_redirect) << "not a window the window manager manages";
	int x, y;
	Window child;
	XTranslateCoordinates(c->dpy, managed, DefaultRootWindow(c->dpy), 0, 0, &x, &y, &child);
	EXPECT_TRUE(x == 0 && y == 0) << "the full-screen window is at " << x << "," << y;

	const figure f = chaos_figure(w, h, { { w / 2, 0 }, { 0, h }, { w, h } });
	expect_drawn([&] { return picture(display, OUTPUT_WIDTH, OUTPUT_HEIGHT); }, OUTPUT_WIDTH,
	             (OUTPUT_WIDTH - w) / 2, (OUTPUT_HEIGHT - h) / 2, f, w, h, WHITE, BLACK);

	EXPECT_TRUE(wait_focus(display)) << "the full-screen window has no keyboard focus";
	EXPECT_EQ(key_status(r, XK_space), 0) << "status " << r.status;
	EXPECT_EQ(r.output, "");
}

TEST_P(Wayland, WindowShowsTheFigureAndAKeyEndsTheRun)
{
	const int w = 800, h = 600;
	settings_file(dir, screen_settings(0, w, h));
	run r(dir, c->env(), user, program);
	Window display = wait_display(w, h, w, h);
	ASSERT_NE(display, 0u) << "no 800x600 window: " << r.output;
	const figure f = chaos_figure(w, h, { { w / 2, 0 }, { 0, h }, { w, h } });
	expect_drawn([&] { return picture(display, w, h); }, w, 0, 0, f, w, h, WHITE, BLACK);

	EXPECT_TRUE(wait_focus(display)) << "the window has no keyboard focus";
	EXPECT_EQ(key_status(r, XK_a), 0) << "status " << r.status;
	EXPECT_EQ(r.output, "");
}

TEST_P(Wayland, FailureMessageIsShownAndReturnEndsTheRun)
{
	settings_file(dir, "[screen]\nscreenw = 0\n");
	run r(dir, c->env({ "PATH=/usr/bin:/bin" }), user, program);
	Window dialog = wait_window(c->dpy, 0, 0, "Xmessage");
	ASSERT_NE(dialog, 0u) << "no message dialog: " << r.output;
	EXPECT_TRUE(r.running()) << "the message waits to be dismissed";
	EXPECT_TRUE(wait_focus(dialog)) << "the dialog has no keyboard focus";
	EXPECT_EQ(key_status(r, XK_Return), 1) << "status " << r.status;
	EXPECT_EQ(r.output, "");
}

INSTANTIATE_TEST_SUITE_P(, Wayland, ::testing::Values(wm::sway, wm::mutter), wm_test_name);
#endif

#ifdef DOTFALL_WINE
// Tests that set the Wine prefix's own settings, each all of them, in a
// prefix of their own: the screen's DPI (LogPixels), and Wine's virtual
// desktop, one X window that holds all of Wine's and changes its size as a
// display mode switch does on Windows.
struct WineSettings : Dotfall {
	bool set(const char *key, const char *name, const char *type, const std::string &value)
	{
		return wine_registry(WINE_SETTINGS_PREFIX, { "add", key, "/v", name, "/t", type, "/d", value, "/f" });
	}
	void settings(int dpi, bool virtual_desktop)
	{
		const char *explorer = "HKCU\\Software\\Wine\\Explorer";
		ASSERT_TRUE(set("HKCU\\Control Panel\\Desktop", "LogPixels", "REG_DWORD", std::to_string(dpi)));
		ASSERT_TRUE(set("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default", "REG_SZ", "1024x768"));
		if (virtual_desktop)
			ASSERT_TRUE(set(explorer, "Desktop", "REG_SZ", "Default"));
		else   // absent: there is no value that means none
			wine_registry(WINE_SETTINGS_PREFIX, { "delete", explorer, "/v", "Desktop", "/f" });
	}
	std::vector<std::string> wine_env(std::vector<std::string> more = {})
	{
		more.push_back("WINEPREFIX=" WINE_SETTINGS_PREFIX);
		return env(more);
	}

	// The virtual desktop's window, and its size: the biggest of Wine's
	// desktop windows (the others are 1x1).
	Window desktop(int *width = nullptr, int *height = nullptr)
	{
		Window root, parent, *kids = nullptr, found = 0;
		unsigned n = 0;
		int best = 0;
		XQueryTree(x.dpy, DefaultRootWindow(x.dpy), &root, &parent, &kids, &n);
		for (unsigned i = 0; i < n; i++) {
			XWindowAttributes a;
			XClassHint hint;
			if (!XGetWindowAttributes(x.dpy, kids[i], &a) || a.map_state != IsViewable ||
			    !XGetClassHint(x.dpy, kids[i], &hint))
				continue;
			if (strcmp(hint.res_class, "explorer.exe") == 0 && a.width * a.height > best) {
				best = a.width * a.height, found = kids[i];
				if (width)
					*width = a.width, *height = a.height;
			}
			XFree(hint.res_name);
			XFree(hint.res_class);
		}
		if (kids)
			XFree(kids);
		return found;
	}
	bool desktop_is(int width, int height, double seconds = 10)
	{
		return wait_for(seconds, [&] {
			int w = 0, h = 0;
			return desktop(&w, &h) && w == width && h == height;
		});
	}
	std::string desktop_size()
	{
		int w = 0, h = 0;
		return desktop(&w, &h) ? std::to_string(w) + "x" + std::to_string(h) : "no desktop";
	}
};

// The window is sized by its frame as Windows gives it, whatever the DPI:
// at 100, 150 and 200 %, a 640x480 and an 800x600 window open and show the
// figure at exactly that size.
TEST_F(WineSettings, WindowOpensExactAtEveryDpi)
{
	for (int dpi : { 96, 144, 192 }) {
		settings(dpi, false);
		for (int size : { 640, 800 }) {
			const int w = size, h = size * 3 / 4;
			SCOPED_TRACE(std::to_string(dpi) + " dpi, " + std::to_string(w) + "x" + std::to_string(h));
			settings_file(dir, screen_settings(0, w, h));
			const figure f = chaos_figure(w, h, { { w / 2, 0 }, { 0, h }, { w, h } });
			run r(dir, wine_env());
			Window top = wait_window(x.dpy, 0, 0, "dotfall.exe");
			ASSERT_NE(top, 0u) << "no window: " << r.output << (r.running() ? " running " : " ended ") << r.status << "\n" << r.threads();
			XWindowAttributes a = {};
			XGetWindowAttributes(x.dpy, top, &a);
			EXPECT_TRUE(a.width > w && a.height > h) << "a " << a.width << "x" << a.height << " window: the message box?";
			expect_drawn([&] { return grab(x.dpy, top, w, h); }, w, 0, 0, f, w, h, WHITE, BLACK);
			press_key(x.dpy, top, XK_space);
			EXPECT_EQ(r.exit_status(10), 0) << still_shown(r, w, h);
			EXPECT_EQ(r.output, "");
		}
	}
}

// Full screen switches the desktop to 640x480; the desktop's size comes
// back after a key, after a shut-down that hung and was ended by the
// watchdog, after Ctrl+Alt+End, and while the user has switched to another
// window; switched back, the first key ends the run.
TEST_F(WineSettings, FullScreenPutsTheModeBackOnEveryWayOut)
{
	settings(96, true);
	// The tests' builds beside dotfall.exe: one whose shut-down hangs, and
	// the Alt+Tab of Windows' task switcher.
	const fs::path beside = fs::path(DOTFALL).parent_path();
	const std::string hanging = (beside / "dotfall-hang.exe").string();
	auto switch_to = [&](const char *title) {
		run s(dir, wine_env(), 0, (beside / "switch-to.exe").string(), { title });
		const bool done = s.exit_status(START_SECONDS) == 0;
		s.wine_prefix.clear();   // Wine's server, and its desktop, stay
		return done;
	};
	// The display's window: minimised, the virtual desktop shows it as a
	// title bar at its bottom left.
	auto display_width = [&] {
		Window w = find_window(x.dpy, DefaultRootWindow(x.dpy), 0, 0, "dotfall.exe");
		XWindowAttributes a = {};
		return w && XGetWindowAttributes(x.dpy, w, &a) ? a.width : 0;
	};
	enum { KEY, HANG, THREE_KEYS, SWITCHED };
	for (int way : { KEY, HANG, THREE_KEYS, SWITCHED }) {
		SCOPED_TRACE(way == HANG ? "the shut-down hung" : way == THREE_KEYS ? "Ctrl+Alt+End"
		             : way == SWITCHED ? "switched away and back" : "a key");
		// Keeps the desktop up once dotfall has gone (the end of a run
		// ends Wine's server, and so this too), and is the window switched
		// to. Its window comes up first: on a busy machine it came up after
		// dotfall's and took the front from it, and the key with it.
		run holder(dir, wine_env(), 0, "notepad.exe");
		ASSERT_TRUE(desktop_is(1024, 768, START_SECONDS)) << "the virtual desktop: " << desktop_size();
		ASSERT_NE(wait_window(x.dpy, 0, 0, "notepad.exe"), 0u) << "no Notepad";
		run r(dir, wine_env(), 0, way == HANG ? hanging : DOTFALL);
		ASSERT_TRUE(desktop_is(640, 480, START_SECONDS)) << "no mode switch: " << desktop_size();
		// Switched away and back twice: the picture, lost while away, is
		// drawn again after the first; the key comes at once after the second.
		// Each switch is seen through, as a user sees it before the next:
		// the display minimised, then back at its size.
		for (int times = 0; way == SWITCHED && times < 2; times++) {
			ASSERT_TRUE(switch_to("Untitled - Notepad"));
			EXPECT_TRUE(desktop_is(1024, 768)) << "away, the desktop stayed " << desktop_size();
			ASSERT_TRUE(wait_for(START_SECONDS, [&] { return display_width() > 0 && display_width() < 640; }))
			        << "not minimised: " << display_width();
			ASSERT_TRUE(switch_to("dotfall"));
			ASSERT_TRUE(desktop_is(640, 480)) << "back, the desktop is " << desktop_size();
			ASSERT_TRUE(wait_for(START_SECONDS, [&] { return display_width() == 640; }))
			        << "not back: " << display_width();
			if (times > 0)
				continue;
			// Back, the display shows the figure alone. Nothing is drawn
			// away, where each lock took in Notepad's picture, shown on the
			// way back; the figure is cleared and drawn again as the library
			// gives the screen back, and uncleared it drew itself over
			// Notepad's. A grab at the switch itself may catch either
			// program's picture, so the figure is waited for whole and clean.
			const figure f = chaos_figure(640, 480, { { 320, 0 }, { 0, 480 }, { 640, 480 } });
			figure_match last;
			auto clean = [&] {
				std::vector<uint32_t> px = grab(x.dpy, desktop(), 640, 480);
				if (!px.empty())
					last = match_figure(px, 640, 0, 0, f, 640, 480, WHITE, BLACK);
				if (last.foreign || last.stray)
					px.clear();
				return px;
			};
			expect_drawn(clean, 640, 0, 0, f, 640, 480, WHITE, BLACK);
			EXPECT_EQ(last.foreign + last.stray, 0) << "not the figure alone: " << last.foreign
			        << " pixels in neither colour, " << last.stray << " lit outside it";
		}
		// Half a second on: within the 1.2 s after a switch in which the
		// library, as released, let keys go by.
		pause_ms(500);
		// The library's own way out, Ctrl+Alt+End, is a key here like any other.
		const KeySym held[] = { XK_Control_L, XK_Alt_L };
		for (KeySym k : held)
			if (way == THREE_KEYS)
				XTestFakeKeyEvent(x.dpy, XKeysymToKeycode(x.dpy, k), True, 0);
		press_key(x.dpy, desktop(), way == THREE_KEYS ? XK_End : XK_space);
		for (KeySym k : held)
			if (way == THREE_KEYS)
				XTestFakeKeyEvent(x.dpy, XKeysymToKeycode(x.dpy, k), False, 0);
		XSync(x.dpy, False);
		EXPECT_EQ(r.exit_status(15), 0) << still_shown(r, 640, 480);
		EXPECT_EQ(trimmed(r.output), way == HANG ? "dotfall: the display's shut-down hung; ended anyway" : "");
		EXPECT_TRUE(desktop_is(1024, 768)) << "the desktop stayed " << desktop_size();
	}
}
#endif

// A desktop as a user has one: openbox on the screen and, under Wine, a
// prefix with Wine's own window settings. The parameter is full screen (at
// 640x480, so the screen is that size: Xvfb offers no other mode) or the
// example's 800x600 window, its settings saved as Notepad's "Unicode" does
// (UTF-16 little-endian with a byte-order mark and CRLF).
struct Desktop : Dotfall, ::testing::WithParamInterface<bool> {
	const bool fullscreen = GetParam();
	const int width = fullscreen ? 640 : 800, height = fullscreen ? 480 : 600;
	const uint32_t fg = fullscreen ? WHITE : 0xff2828;

	Desktop() : Dotfall(GetParam() ? 640 : 1024, GetParam() ? 480 : 768, true) {}

	void SetUp() override
	{
		Dotfall::SetUp();
		ASSERT_TRUE(x.wm_ready) << "openbox did not start";
		if (fullscreen)
			return;
		std::ifstream in(EXAMPLE_SETTINGS, std::ios::binary);
		std::string text = "\xFF\xFE";
		for (char c; in.get(c);)
			text += c == '\n' ? std::string("\r\0\n\0", 4) : std::string{ c, '\0' };
		settings_file(dir, text);
	}

	run start()
	{
#ifdef WINE_DESKTOP_PREFIX
		return run(dir, env({ "WINEPREFIX=" WINE_DESKTOP_PREFIX }));
#else
		return run(dir, env());
#endif
	}

	// Lit pixels of the display from row `from` down.
	int lit(Window w, int from = 0)
	{
		std::vector<uint32_t> px = grab(x.dpy, w, width, height);
		return (int)std::count(px.begin() + std::min(px.size(), (size_t)(from * width)), px.end(), fg);
	}

	// The program's display, inside the window manager's frame: the
	// program's own window (Wine's is classed by the exe's name), or the one
	// of that size inside it.
	Window display_in_frame()
	{
#ifdef DOTFALL_WINE
		Window top = find_window(x.dpy, DefaultRootWindow(x.dpy), 0, 0, "dotfall.exe");
#else
		Window top = find_window(x.dpy, DefaultRootWindow(x.dpy), 0, 0, "dotfall");
#endif
		XWindowAttributes a;
		if (!top || !XGetWindowAttributes(x.dpy, top, &a))
			return 0;
		return a.width == width && a.height == height ? top : find_window(x.dpy, top, width, height);
	}

	Window display()
	{
		// Full screen is a managed window like any other (the window
		// manager's full screen), in a frame of the screen's size; under Wine
		// that frame's own windows of that size lie below it.
		// The window manager maps it when it gets to it: allow a busy one time.
		Window w = 0;
		wait_for(2 * START_SECONDS, [&] { return (w = display_in_frame()) != 0; });
		return w;
	}

	// The top-level window that has the keyboard focus, or 0.
	Window focused_top_level()
	{
		Window f;
		int revert;
		XGetInputFocus(x.dpy, &f, &revert);
		return f > PointerRoot ? top_level(x.dpy, f) : 0;
	}
};

// Ten starts, each ended by another key, the process gone after it.
TEST_P(Desktop, EveryKeyEndsTheRun)
{
	const KeySym keys[] = { XK_Tab, XK_F1, XK_Left, XK_5, XK_space, XK_Escape, XK_a, XK_Return, XK_KP_Add, XK_Down };
	for (KeySym key : keys) {
		SCOPED_TRACE(XKeysymToString(key));
		run r = start();
		Window w = display();
		ASSERT_NE(w, 0u) << "no " << width << "x" << height << " display; status " << r.status << ", " << r.output << window_tree(x.dpy);
		EXPECT_TRUE(wait_for(DRAW_SECONDS, [&] { return lit(w) > 0; })) << "nothing drawn";
		press_key(x.dpy, w, key);
		EXPECT_EQ(r.exit_status(10), 0) << still_shown(r, width, height);
		EXPECT_FALSE(r.running());
	}
}

// With another window in front, and the focus, the picture goes on: a
// window's matter, as a full screen switched away draws where nothing shows.
using DesktopWindow = Desktop;
TEST_P(DesktopWindow, DrawingGoesOnWithAnotherWindowInFront)
{
	// Points so far out that the display sees a corner of a huge figure,
	// which fills for minutes: the default one is complete in a second, and
	// a complete figure would gain nothing to see whether it is drawn on.
	settings_file(dir, screen_settings(0, width, height) +
	                   "[points]\npoint_1_x = 400\npoint_1_y = -300000\npoint_2_x = -300000\npoint_2_y = 600\n"
	                   "point_3_x = 300800\npoint_3_y = 600\n"
	                   "[colors]\nforeground_color_r = 63\nforeground_color_g = 10\nforeground_color_b = 10\n");
	run r = start();
	Window w = display();
	ASSERT_NE(w, 0u) << "no " << width << "x" << height << " display; status " << r.status << ", " << r.output << window_tree(x.dpy);
	ASSERT_TRUE(wait_for(DRAW_SECONDS, [&] { return lit(w) > 0; })) << "nothing drawn";
	Window ours = focused_top_level();

	// Over the top of the display, placed where asked, then made active the
	// way a task bar does it.
	int rx, ry;
	Window child;
	XTranslateCoordinates(x.dpy, w, DefaultRootWindow(x.dpy), 0, 0, &rx, &ry, &child);
	Window front = XCreateSimpleWindow(x.dpy, DefaultRootWindow(x.dpy), rx, ry, width, height / 3, 0, 0, 0x808080);
	XSizeHints hints = {};
	hints.flags = USPosition | USSize;
	hints.x = rx, hints.y = ry, hints.width = width, hints.height = height / 3;
	XSetWMNormalHints(x.dpy, front, &hints);
	XMapRaised(x.dpy, front);
	XSync(x.dpy, False);
	XEvent activate = {};
	activate.xclient.type = ClientMessage;
	activate.xclient.window = front;
	activate.xclient.message_type = XInternAtom(x.dpy, "_NET_ACTIVE_WINDOW", False);
	activate.xclient.format = 32;
	activate.xclient.data.l[0] = 2;
	XSendEvent(x.dpy, DefaultRootWindow(x.dpy), False, SubstructureRedirectMask | SubstructureNotifyMask, &activate);
	XSync(x.dpy, False);
	ASSERT_TRUE(wait_for(10, [&] { return focused_top_level() == top_level(x.dpy, front); })) << "the other window got no focus";
	EXPECT_NE(focused_top_level(), ours);

	// Below the other window's frame.
	const int from = height / 2;
	pause_ms(500);
	const int before = lit(w, from);
	EXPECT_TRUE(wait_for(DRAW_SECONDS, [&] { return lit(w, from) > before + 100; }))
		<< "lit below the other window: " << before << ", then " << lit(w, from);

	// The key a user presses once the display is back in front: before the
	// window manager has given it the focus again, a key goes to no window
	// Wine counts as active, and is lost as it would be on any desktop.
	XDestroyWindow(x.dpy, front);
	XSync(x.dpy, False);
	ASSERT_TRUE(wait_for(10, [&] { return focused_top_level() == ours; })) << "the focus did not come back";
	press_key(x.dpy, w, XK_space);
	EXPECT_EQ(r.exit_status(10), 0) << still_shown(r, width, height);
}

std::string display_kind(const ::testing::TestParamInfo<bool> &p)
{
	return p.param ? "FullScreen" : "Window";
}
INSTANTIATE_TEST_SUITE_P(, Desktop, ::testing::Values(false, true), display_kind);
INSTANTIATE_TEST_SUITE_P(, DesktopWindow, ::testing::Values(false), display_kind);

} // namespace
