// Keys and the pointer: every key, sent as a user's keys travel there, ends
// the run; the pointer, the close button, a modifier or dead key alone do not.
#include "desktop.h"

namespace {

const KeySym KEYS[] = { XK_Tab, XK_F1, XK_Left, XK_5, XK_space, XK_Escape, XK_a, XK_Return, XK_KP_Add, XK_Down };

// Ten starts, each ended by another key, the process gone after it: full
// screen, and in the example's 800x600 window, its file saved as Notepad's
// "Unicode" (UTF-16LE, BOM, CRLF). Ctrl+Alt+End, the library's way out, too.
struct Keys : On {
	void every_key(int width, int height)
	{
		for (KeySym key : KEYS) {
			SCOPED_TRACE(XKeysymToString(key));
			ASSERT_NO_FATAL_FAILURE(open(width, height));
			EXPECT_TRUE(wait_for(DRAW_SECONDS, [&] {
				std::vector<uint32_t> px = d->picture(w, inside_frame(d->dpy, w, width, height));
				return std::count_if(px.begin(), px.end(), [](uint32_t p) { return p != 0 && p != 0x51; }) > 0;
			})) << "nothing drawn";
			expect_key_ends(*r, w, key);
		}
	}
};

TEST_P(Keys, EveryKeyEndsTheRunInAWindow)
{
	std::string text = "\xFF\xFE";
	for (char c : slurp(EXAMPLE_SETTINGS))
		text += c == '\n' ? std::string("\r\0\n\0", 4) : std::string{ c, '\0' };
	settings_file(dir, text);
	every_key(800, 600);
}

TEST_P(Keys, CtrlAltEndEndsTheRunAsAKeyDoes)
{
	ASSERT_NO_FATAL_FAILURE(open(320, 240, screen_settings(0, 320, 240)));
	expect_key_ends(*r, w, XK_End, 0, { XK_Control_L, XK_Alt_L });
}
ON_DESKTOPS(Keys, MANAGED, MODES);

struct KeysFullScreen : Keys {
	KeysFullScreen() { screen_w = 640, screen_h = 480; }
};

TEST_P(KeysFullScreen, EveryKeyEndsTheRunFullScreen)
{
	every_key(640, 480);
}
ON_DESKTOPS(KeysFullScreen, MANAGED, MODES);

// Without a window manager: the pointer moved and clicked over the display, a
// close button's message and a modifier alone do not end the run; a key does.
struct Pointer : On {
	void expect_running(const char *what)
	{
		pause_ms(500);
		EXPECT_TRUE(r->running()) << what << " ended the run";
	}
};

TEST_P(Pointer, PointerAndCloseButtonDoNotEndTheRunButAKeyDoes)
{
	ASSERT_NO_FATAL_FAILURE(open(320, 240, screen_settings(0, 320, 240)));
	Display *dpy = d->dpy;
	for (int i = 0; i < 20; i++) {
		point_at(dpy, w, 320 * i / 20, 240 * i / 20);
		pause_ms(10);
	}
	for (unsigned button = 1; button <= 5; button++) {   // let go 50 ms later, as a hand would
		XTestFakeButtonEvent(dpy, button, True, 0);
		XTestFakeButtonEvent(dpy, button, False, 50);
	}
	XSync(dpy, False);
	send_message(dpy, top_level(dpy, w), top_level(dpy, w), "WM_PROTOCOLS", XInternAtom(dpy, "WM_DELETE_WINDOW", False),
	             NoEventMask);
	expect_running("the pointer or the close button");
	// A modifier alone puts nothing in the library's key buffer.
	d->press(w, XK_Shift_L);
	expect_running("a modifier alone");
	expect_key_ends(*r, w, XK_a);
}
ON_DESKTOPS(Pointer, 0, MANAGED | MODES | VIRTUAL_DESKTOP);

// A dead key waits for the key it accents: a spare keycode given one, as German and French layouts have, does
// not end the run; the next letter does. Keys do not repeat here: a busy server may hold a key past its repeat
// delay, and a dead key twice is "^", a key. (Wine reads the keyboard's map once, as it starts.)
struct DeadKey : Pointer {};

TEST_P(DeadKey, DeadKeyAloneDoesNotEndTheRun)
{
	ASSERT_NO_FATAL_FAILURE(open(320, 240, screen_settings(0, 320, 240)));
	int lo, hi, per, spare = 0;
	XDisplayKeycodes(d->dpy, &lo, &hi);
	KeySym *map = XGetKeyboardMapping(d->dpy, lo, hi - lo + 1, &per);
	for (int c = hi; c >= lo && !spare; c--)
		if (std::all_of(map + (c - lo) * per, map + (c - lo + 1) * per, [](KeySym k) { return k == NoSymbol; }))
			spare = c;
	XFree(map);
	ASSERT_NE(spare, 0) << "no spare keycode";
	KeySym dead[2] = { XK_dead_circumflex, XK_dead_circumflex };
	XChangeKeyboardMapping(d->dpy, spare, 2, dead, 1);
	XAutoRepeatOff(d->dpy);
	XSync(d->dpy, False);
	ASSERT_TRUE(wait_for(START_SECONDS, [&] { return XKeysymToKeycode(d->dpy, XK_dead_circumflex) == spare; }));
	pause_ms(200);
	d->press(w, XK_dead_circumflex);
	expect_running("a dead key alone");
	expect_key_ends(*r, w, XK_a);
}
ON_DESKTOPS(DeadKey, 0, MANAGED | MODES | WINE);

// Windows makes Alt+F4, Alt held as a hand holds it, a request to close,
// which the run ignores as it does the close button.
struct AltF4 : Pointer {};

TEST_P(AltF4, AltF4DoesNotEndTheRun)
{
	ASSERT_NO_FATAL_FAILURE(open(320, 240, screen_settings(0, 320, 240)));
	XTestFakeKeyEvent(d->dpy, XKeysymToKeycode(d->dpy, XK_Alt_L), True, 0);
	XSync(d->dpy, False);
	pause_ms(300);
	d->press(w, XK_F4);
	pause_ms(300);
	XTestFakeKeyEvent(d->dpy, XKeysymToKeycode(d->dpy, XK_Alt_L), False, 0);
	XSync(d->dpy, False);
	expect_running("Alt+F4");
	expect_key_ends(*r, w, XK_a);
}
ON_DESKTOPS(AltF4, WINE, MANAGED | VIRTUAL_DESKTOP);

} // namespace
