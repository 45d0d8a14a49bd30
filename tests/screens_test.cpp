// What a desktop shows of dotfall beside its picture: its window's class and
// icons, full screen centred on a monitor that changes size, and on Windows
// the window's size at any DPI and the mode put back on every way out.
#include "desktop.h"
#include <X11/Xatom.h>

namespace {

struct Identity : On {};

// Task bars and switchers know a program by its window's class and icons at
// each size (the menu's pictures), and WM_HINTS' one where they know no other.
TEST_P(Identity, ItsWindowCarriesDotfallsClassAndIcon)
{
	ASSERT_NO_FATAL_FAILURE(open(320, 240, screen_settings(0, 320, 240)));
	const Window top = d->window_of("dotfall");
	XClassHint hint = {};
	ASSERT_TRUE(XGetClassHint(d->dpy, top, &hint)) << "no window of class dotfall: " << r->output;
	EXPECT_EQ(std::string(hint.res_name) + "/" + hint.res_class, "dotfall/dotfall");
	XFree(hint.res_name);
	XFree(hint.res_class);

	// The pixels unlike the installed image's of that side, as 0xAARRGGBB
	// (as 0xRRGGBB without `alpha`); -1 for no such image or no pixels.
	auto differ = [](const std::vector<uint32_t> &px, unsigned long side, bool alpha) {
		std::string pam;
		tool({ "pngtopam", "-alphapam", ICONS_DIR "/dotfall-" + std::to_string(side) + ".png" }, {}, &pam);
		const size_t at = pam.find("ENDHDR\n") + 7;
		if (at < 7 || pam.size() != at + 4 * side * side || px.size() != side * side)
			return -1;
		int n = 0;
		for (unsigned long p = 0; p < side * side; p++) {
			const unsigned char *c = (const unsigned char *)pam.data() + at + 4 * p;
			n += px[p] != ((alpha ? (uint32_t)c[3] << 24 : 0) | c[0] << 16 | c[1] << 8 | c[2]);
		}
		return n;
	};
	Atom type;
	int format;
	unsigned long n, after;
	unsigned char *data = nullptr;
	XGetWindowProperty(d->dpy, top, XInternAtom(d->dpy, "_NET_WM_ICON", False), 0, 1 << 20, False, XA_CARDINAL,
	                   &type, &format, &n, &after, &data);
	ASSERT_NE(data, nullptr) << "no _NET_WM_ICON";
	const unsigned long *v = (const unsigned long *)data;
	std::vector<unsigned long> sides;
	for (unsigned long i = 0; i + 2 <= n && i + 2 + v[i] * v[i + 1] <= n; i += 2 + v[i] * v[i + 1]) {
		EXPECT_EQ(v[i], v[i + 1]);
		// Xlib hands 32-bit items over as longs, sign-extended: 32 bits of each.
		EXPECT_EQ(differ(std::vector<uint32_t>(v + i + 2, v + i + 2 + v[i] * v[i + 1]), v[i], true), 0)
			<< "pixels unlike the installed icon's, at " << v[i];
		sides.push_back(v[i]);
	}
	XFree(data);
	EXPECT_EQ(sides, (std::vector<unsigned long>{ 16, 32, 48, 128 }));

	XWMHints *wm = XGetWMHints(d->dpy, top);
	ASSERT_TRUE(wm && (wm->flags & IconPixmapHint));
	const XRectangle icon = geometry(d->dpy, wm->icon_pixmap);
	ASSERT_TRUE(icon.width == 48 && icon.height == 48) << "a " << icon.width << "x" << icon.height << " icon in WM_HINTS";
	EXPECT_EQ(differ(grab(d->dpy, wm->icon_pixmap, { 0, 0, 48, 48 }), 48, false), 0) << "pixels unlike the installed icon's";
	XFree(wm);

	expect_key_ends(*r, top, XK_space);
}
ON_DESKTOPS(Identity, SIZED, MANAGED | WINE);

// The monitor resized under a full-screen run, the window manager resizes the
// window and the display is in its middle again to the pixel: at 1281x721
// (KWin gives such sizes) gravity alone would put it a pixel off.
struct Resized : On {};

TEST_P(Resized, FullScreenStaysCentredWhenTheMonitorChangesSize)
{
	Display *dpy = d->dpy;
	ASSERT_NO_FATAL_FAILURE(open(640, 480));
	const Window top = top_level(dpy, w);
	ASSERT_TRUE(wait_for(START_SECONDS, [&] { return geometry(dpy, top).width == 1920; })) << "not full screen";
	for (const std::string args : { "--newmode 1281x721 77.5 1281 1350 1480 1680 721 724 734 769",
	                                "--addmode DUMMY0 1281x721", "--output DUMMY0 --mode 1281x721" })
		ASSERT_EQ(tool({ "sh", "-c", "xrandr " + args }, d->env), 0) << args;
	EXPECT_TRUE(wait_for(START_SECONDS, [&] {
		const XRectangle at = geometry(dpy, top), inner = geometry(dpy, w);
		return at.width == 1281 && at.height == 721 && inner.x - at.x == (1281 - 640) / 2 &&
		       inner.y - at.y == (721 - 480) / 2;
	})) << "the display is not in the middle of the resized window";
	expect_key_ends(*r, top, XK_space);
}
ON_DESKTOPS(Resized, MODES | MANAGED, TWO_MONITORS);

// At 100, 150 and 200 % DPI, a 640x480 and an 800x600 window open and show
// the figure at exactly that size: Windows sizes a window by its frame.
struct WineDpi : On {};

TEST_P(WineDpi, WindowOpensExactAtEveryDpi)
{
	for (int dpi : { 96, 144, 192 }) {
		ASSERT_TRUE(wine_registry(d.get(), { "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t",
		                                     "REG_DWORD", "/d", std::to_string(dpi), "/f" }));
		for (int w : { 640, 800 }) {
			const int h = w * 3 / 4;
			SCOPED_TRACE(std::to_string(dpi) + " dpi, " + std::to_string(w) + "x" + std::to_string(h));
			settings_file(dir, screen_settings(0, w, h));
			run r = start();
			Window top = 0;
			ASSERT_TRUE(wait_for(START_SECONDS, [&] { return (top = d->window_of("dotfall.exe")) || !r.running(); }) && top)
				<< "no window: " << r.output << "\n" << d->report();
			const XRectangle a = geometry(d->dpy, top);
			EXPECT_TRUE(a.width > w && a.height > h) << "a " << a.width << "x" << a.height << " window: the message box?";
			expect_drawn(top, default_figure(w, h));
			expect_key_ends(r, top, XK_space);
		}
	}
}
ON_DESKTOPS(WineDpi, WINE, MANAGED | VIRTUAL_DESKTOP);

// Full screen switches Wine's virtual desktop to 640x480, as a mode switch
// on Windows; its size comes back after a key, a hung shut-down the watchdog
// ended, Ctrl+Alt+End, and while the user is switched to another window;
// switched back, the picture is the figure alone and the first key ends it.
struct WineVirtualDesktop : On {
	// The desktop's window: of Wine's desktop windows (explorer.exe's), the
	// one viewable in front; the others are 1x1.
	Window desktop_window() { return d->window_of("explorer.exe"); }
	std::string desktop_size()
	{
		const XRectangle g = geometry(d->dpy, desktop_window());
		return std::to_string(g.width) + "x" + std::to_string(g.height);
	}
	// Waits for that size ("0x0" without the desktop).
	bool desktop_is(const std::string &size) { return wait_for(START_SECONDS, [&] { return desktop_size() == size; }); }
	// The width of the display's window: minimised, the virtual desktop
	// shows it as a title bar at its bottom left.
	int display_width() { return geometry(d->dpy, d->window_of("dotfall.exe")).width; }
	enum way { KEY, HANG, THREE_KEYS, SWITCHED };
	void ways_out(std::vector<way> ways)
	{
		// The tests' builds beside dotfall.exe: one whose shut-down hangs, and the Alt+Tab Wine's virtual desktop lacks.
		const fs::path beside = fs::path(DOTFALL_EXE).parent_path();
		auto switch_to = [&](const char *title) {
			return d->start(dir, {}, { "wine", (beside / "switch-to.exe").string(), title }).exit_status() == 0;
		};
		for (way w : ways) {
			SCOPED_TRACE(w == HANG ? "the shut-down hung" : w == THREE_KEYS ? "Ctrl+Alt+End"
			             : w == SWITCHED ? "switched away and back" : "a key");
			// Notepad, switched to, keeps the desktop up once dotfall has gone; it comes
			// up first, or it may come up after dotfall and take the front and the key.
			run holder = d->start(dir, {}, { "wine", "notepad.exe" });
			ASSERT_TRUE(desktop_is("1024x768")) << "the virtual desktop: " << desktop_size();
			ASSERT_TRUE(wait_for(START_SECONDS, [&] { return d->window_of("notepad.exe"); })) << "no Notepad";
			std::vector<std::string> program = d->program;
			program.back() = w == HANG ? (beside / "dotfall-hang.exe").string() : DOTFALL_EXE;
			run r = d->start(dir, {}, program);
			ASSERT_TRUE(desktop_is("640x480")) << "no mode switch: " << desktop_size();
			// Away and back twice, each switch seen through (the display minimised, then
			// back). After the first, the figure whole and clean (a grab mid-switch may
			// catch either program's picture); the key at once after the second.
			for (int times = 0; w == SWITCHED && times < 2; times++) {
				ASSERT_TRUE(switch_to("Untitled - Notepad"));
				EXPECT_TRUE(desktop_is("1024x768")) << "away, the desktop stayed " << desktop_size();
				ASSERT_TRUE(wait_for(START_SECONDS, [&] { return display_width() > 0 && display_width() < 640; }))
					<< "not minimised: " << display_width();
				ASSERT_TRUE(switch_to("dotfall"));
				ASSERT_TRUE(desktop_is("640x480")) << "back, the desktop is " << desktop_size();
				ASSERT_TRUE(wait_for(START_SECONDS, [&] { return display_width() == 640; })) << "not back: " << display_width();
				if (times == 0)
					expect_drawn([&] { return grab(d->dpy, desktop_window(), { 0, 0, 640, 480 }); }, 640, 0, 0,
					             default_figure(640, 480));
			}
			// Within 1.2 s of a switch, when Allegro as released let keys go by.
			pause_ms(500);
			d->press(desktop_window(), w == THREE_KEYS ? XK_End : XK_space,
			         w == THREE_KEYS ? std::vector<KeySym>{ XK_Control_L, XK_Alt_L } : std::vector<KeySym>{});
			EXPECT_EQ(r.exit_status(), 0) << why_running(r, 640, 480);
			EXPECT_EQ(trimmed(r.output), w == HANG ? "dotfall: the display's shut-down hung; ended anyway" : "");
			EXPECT_TRUE(desktop_is("1024x768")) << "the desktop stayed " << desktop_size();
		}
	}
};

TEST_P(WineVirtualDesktop, FullScreenPutsTheModeBackOnEveryWayOut)
{
	ways_out({ KEY, THREE_KEYS, SWITCHED });
}

TEST_P(WineVirtualDesktop, FullScreenPutsTheModeBackAfterAHungShutDown)
{
	ways_out({ HANG });
}
ON_DESKTOPS(WineVirtualDesktop, VIRTUAL_DESKTOP);

} // namespace
