// The picture, read back as the user sees it: the figure exactly in place, in
// the colours asked for, full screen and in a window; and a key ends the run.
#include "desktop.h"

namespace {

// Without a settings file: a 640x480 full screen, white on black, filling a
// monitor (the primary without a window manager), the display in its middle,
// or at its top left where the mode was switched. A key ends it with 0, the
// folder, another window, the pointer, the mode and the monitors as they were.
struct AnyDesktop : On {
	AnyDesktop() { screen_w = 640, screen_h = 480; }
};

TEST_P(AnyDesktop, WithoutSettingsTheFigureFillsAMonitorWhiteOnBlack)
{
	Display *dpy = d->dpy;
	// The outputs, modes and places: a plain xrandr would probe the outputs
	// again, and hide a switch.
	auto randr = [&] {
		std::string out;
		return !d->has(MODES) || tool({ "xrandr", "--current" }, d->env, &out) == 0 ? out : "xrandr failed: " + out;
	};
	const std::string layout = randr();
	int primary = 0;
	const std::vector<XRectangle> screens = monitors(dpy, &primary);
	ASSERT_EQ(screens.size(), d->has(TWO_MONITORS) ? 2u : 1u);
	const XRectangle last = screens.back();
	// The pointer mid last monitor (where new windows go), another window put
	// there; the library's own full screen holds the pointer and puts it back.
	Window other = 0;
	XRectangle placed = {};
	if (!d->has(COMPOSITOR)) {
		XTestFakeMotionEvent(dpy, DefaultScreen(dpy), last.x + last.width / 2, last.y + last.height / 2, 0);
		other = other_window(dpy, { (short)(last.x + last.width - 310), (short)(last.y + last.height - 210), 300, 200 },
		                     d->has(MANAGED));
		placed = geometry(dpy, other);
	}
	ASSERT_NO_FATAL_FAILURE(open(640, 480));
	const Window top = top_level(dpy, w);
	XRectangle on = {};
	EXPECT_TRUE(wait_for(START_SECONDS, [&] {
		const XRectangle at = geometry(dpy, top);
		for (const XRectangle &m : screens)
			if (same(m, at))
				return on = m, true;
		// The library's own full screen covers the whole X screen.
		return !d->has(MANAGED) && same(at, geometry(dpy, DefaultRootWindow(dpy))) && (on = screens[primary], true);
	})) << "the full-screen window covers no monitor: " << d->tree();
	EXPECT_TRUE(!d->has(MODE_SWITCH) || wait_for(START_SECONDS, [&] { return video_mode(dpy).substr(0, 8) == "640x480 "; }))
		<< "the mode is " << video_mode(dpy);
	const int x0 = d->has(MODE_SWITCH) ? 0 : (on.width - 640) / 2, y0 = d->has(MODE_SWITCH) ? 0 : (on.height - 480) / 2;
	XRectangle at = {};
	EXPECT_TRUE(wait_for(START_SECONDS, [&] {
		at = geometry(dpy, w);
		return at.x == on.x + x0 && at.y == on.y + y0;
	})) << "the display is at " << at.x << "," << at.y;
	const XRectangle area = { (short)(on.x - geometry(dpy, top).x), (short)(on.y - geometry(dpy, top).y), on.width,
	                          on.height };
	std::string switched;
	expect_drawn([&] {
		if (!d->has(MODE_SWITCH) && video_mode(dpy) != mode)
			switched = video_mode(dpy);
		return d->picture(top, area);
	}, on.width, x0, y0, default_figure(640, 480));
	EXPECT_EQ(switched, "") << "the mode was switched";

	expect_key_ends(*r, top, XK_space);
	EXPECT_TRUE(snapshot(dir) == before) << "the run changed its folder";
	EXPECT_EQ(video_mode(dpy), mode) << "the mode was not put back";
	EXPECT_EQ(randr(), layout);
	const XRectangle now = other ? geometry(dpy, other) : placed;
	EXPECT_TRUE(same(now, placed)) << "the other window moved from " << placed.x << "," << placed.y << " to " << now.x
	                               << "," << now.y;
	Window root, child;
	int x = 0, y = 0, wx, wy;
	unsigned buttons;
	XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &x, &y, &wx, &wy, &buttons);
	EXPECT_TRUE(d->has(MANAGED) || d->has(WINE) || (x == last.x + last.width / 2 && y == last.y + last.height / 2))
		<< "the pointer is left at " << x << "," << y;
}
// Wine's virtual desktop is a screen of its own: see WineVirtualDesktop.
ON_DESKTOPS(AnyDesktop, 0, VIRTUAL_DESKTOP);

// Full screen at the size of the screen itself (Wine's on Xvfb always is).
struct SizedScreen : On {};

TEST_P(SizedScreen, FullScreenAtTheScreenSize)
{
	ASSERT_NO_FATAL_FAILURE(open(d->width, d->height, screen_settings(1, d->width, d->height)));
	expect_drawn(w, default_figure(d->width, d->height));
	expect_key_ends(*r, w, XK_space);
}
ON_DESKTOPS(SizedScreen, SIZED, WINE);

// Windows of any size and settings, each its own window, drawn exactly; a key
// ends the run. Widths are multiples of 4, as the DirectX window driver needs.
struct Windows : On {
	void expect_figure(const std::string &settings, const figure &f, uint32_t fg = WHITE, uint32_t bg = BLACK)
	{
		ASSERT_NO_FATAL_FAILURE(open(f.width, f.height, settings));
		const XRectangle outer = geometry(d->dpy, top_level(d->dpy, w));
		EXPECT_TRUE(fits(outer.width, outer.height, f.width, f.height, std::max(d->frame, d->has(MANAGED) ? 64 : 0)))
			<< "not a window of its own: " << outer.width << "x" << outer.height;
		expect_drawn(w, f, fg, bg);
		expect_key_ends(*r, w, XK_a);
		EXPECT_TRUE(snapshot(dir) == before) << "the run changed its folder";
	}
};

TEST_P(Windows, PointsDefaultToTheDisplaySize)
{
	expect_figure(screen_settings(0, 320, 241), default_figure(320, 241));
}

TEST_P(Windows, SettingsFileSetsPointsAndColours)
{
	// 6-bit components on screen: 63 is 0xff, 32 is 0x82, 16 is 0x41; 319 and
	// 256 keep their low 8 bits, 63 and 0.
	expect_figure(screen_settings(0, 300, 200) +
	                      "[points]\npoint_1_x = 150\npoint_1_y = -40\npoint_2_x = -60\npoint_2_y = 260\n"
	                      "point_3_x = 360\npoint_3_y = 190\n"
	                      "[colors]\nforeground_color_r = 63\nforeground_color_g = 32\nforeground_color_b = 319\n"
	                      "background_color_r = 0\nbackground_color_g = 16\nbackground_color_b = 256\n",
	              chaos_figure(300, 200, { { 150, -40 }, { -60, 260 }, { 360, 190 } }), 0xff82ff, 0x004100);
}

// An 800x600 window, the tip lifted to (400, -100), red (63, 10, 10) on
// dark blue (0, 0, 20): 10 shows as 0x28 and 20 as 0x51.
TEST_P(Windows, ExampleSettingsFileDrawsWhatItSays)
{
	expect_figure(slurp(EXAMPLE_SETTINGS), chaos_figure(800, 600, { { 400, -100 }, { 0, 600 }, { 800, 600 } }), 0xff2828,
	              0x000051);
}
ON_DESKTOPS(Windows, 0, MODES | VIRTUAL_DESKTOP);

// With another window in front, and the focus, a window's picture goes on;
// once it is back in front, a key ends the run.
struct InFront : On {};

TEST_P(InFront, DrawingGoesOnWithAnotherWindowInFront)
{
	// Points so far out that the display sees a corner of a huge figure,
	// which fills for minutes: a complete figure would show nothing new.
	const int width = 800, height = 600;
	ASSERT_NO_FATAL_FAILURE(open(width, height, screen_settings(0, width, height) +
	                                     "[points]\npoint_1_x = 400\npoint_1_y = -300000\npoint_2_x = -300000\n"
	                                     "point_2_y = 600\npoint_3_x = 300800\npoint_3_y = 600\n"));
	auto lit = [&](int from) {
		std::vector<uint32_t> px = d->picture(w, inside_frame(d->dpy, w, width, height));
		return (int)std::count(px.begin() + std::min(px.size(), (size_t)(from * width)), px.end(), WHITE);
	};
	ASSERT_TRUE(wait_for(DRAW_SECONDS, [&] { return lit(0) > 0; })) << "nothing drawn";
	const Window ours = focused(d->dpy);

	// Over the top of the display, made active the way a task bar does it.
	const XRectangle at = geometry(d->dpy, w);
	const Window front = other_window(d->dpy, { at.x, at.y, (unsigned short)width, (unsigned short)(height / 3) }, true);
	send_message(d->dpy, DefaultRootWindow(d->dpy), front, "_NET_ACTIVE_WINDOW", 2,
	             SubstructureRedirectMask | SubstructureNotifyMask);
	ASSERT_TRUE(wait_for(START_SECONDS, [&] { return focused(d->dpy) == top_level(d->dpy, front); }))
		<< "the other window got no focus";
	EXPECT_NE(focused(d->dpy), ours);

	// Below the other window's frame.
	const int before = lit(height / 2);
	EXPECT_TRUE(wait_for(DRAW_SECONDS, [&] { return lit(height / 2) > before + 100; }))
		<< "lit below the other window: " << before << ", then " << lit(height / 2);

	// A key before the window manager has given the focus back goes to no
	// window, as on any desktop: the user presses it once it is back.
	XDestroyWindow(d->dpy, front);
	XSync(d->dpy, False);
	ASSERT_TRUE(wait_for(START_SECONDS, [&] { return focused(d->dpy) == ours; })) << "the focus did not come back";
	expect_key_ends(*r, w, XK_space);
}
ON_DESKTOPS(InFront, MANAGED, MODES | COMPOSITOR);

} // namespace
