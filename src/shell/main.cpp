/* dotfall: draws the triangle fractal by the chaos game until a key is
 * pressed. This is the whole run, start to end, in one pass. */
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <allegro.h>

#include "drawing/chaos.h"
#include "settings/settings.h"

#ifdef ALLEGRO_WINDOWS
#define FULLSCREEN_DRIVER GFX_DIRECTX_ACCEL
#define WINDOWED_DRIVER   GFX_DIRECTX_WIN
#else
#define FULLSCREEN_DRIVER GFX_AUTODETECT_FULLSCREEN
#define WINDOWED_DRIVER   GFX_AUTODETECT_WINDOWED
#endif

#ifdef ALLEGRO_WITH_XWINDOWS
#include <unistd.h>
#include <X11/Xlib.h>

/* When the X server goes away, Xlib's default handler calls exit(), whose
 * handlers include the library's shut-down; that waits for a lock which the
 * interrupted pixel write still holds, and the process hangs. With the
 * display gone there is nothing left to shut down: end at once. */
static int display_lost(Display *)
{
	_exit(1);
}
#endif

/* The X11 driver does not check sizes: zero aborts the process, negative
 * sizes "succeed" with nothing visible, and huge ones overflow its buffer
 * arithmetic. Sizes outside 1..MAX_SIDE are refused here instead, as a
 * display the driver cannot set. */
#define MAX_SIDE 16384

static int display_failed(void)
{
	/* With no system driver (no display at all) the library prints the text
	 * exactly as given; its X driver ends the line itself. End it here too,
	 * so the message is one whole line on standard output either way. A
	 * message box still gets the text alone. */
	if (!system_driver)
		allegro_message("Error setting graphics mode!\n");
	else
		allegro_message("Error setting graphics mode!");
	allegro_exit();
	return 1;
}

int main(void)
{
	settings s = settings_defaults();
	chaos_state state;

	srand((unsigned)time(NULL));

	/* The library reads text, the settings file included, as UTF-8 by
	 * default, and its decoder loops forever on some malformed bytes (the
	 * six-byte form FD 9F A5 8B BB B8, for one). The file holds only numbers
	 * and names: plain 8-bit text it is, set before the library starts. */
	set_uformat(U_ASCII);

	/* Without a usable display the library's drivers are missing and
	 * everything after this would crash: report it as the display failure. */
	if (install_allegro(SYSTEM_AUTODETECT, &errno, atexit) != 0)
		return display_failed();
#ifdef ALLEGRO_WITH_XWINDOWS
	XSetIOErrorHandler(display_lost);
#endif
	load_settings_file(SETTINGS_FILE);
	install_keyboard();
	install_mouse();

	read_screen_settings(&s);
	if (s.screenw < 1 || s.screenw > MAX_SIDE || s.screenh < 1 || s.screenh > MAX_SIDE)
		return display_failed();
	if (set_gfx_mode(s.fullscreen ? FULLSCREEN_DRIVER : WINDOWED_DRIVER, s.screenw, s.screenh, 0, 0) != 0)
		return display_failed();

	/* Everything from here follows the display that was set, which need not
	 * be the size that was asked for. */
	chaos_start(&state, SCREEN_W, SCREEN_H);
	set_display_defaults(&s, SCREEN_W, SCREEN_H);
	read_picture_settings(&s);
	state.points[0] = point{ s.point_1_x, s.point_1_y };
	state.points[1] = point{ s.point_2_x, s.point_2_y };
	state.points[2] = point{ s.point_3_x, s.point_3_y };

	RGB background = { s.background_color_r, s.background_color_g, s.background_color_b, 0 };
	RGB foreground = { s.foreground_color_r, s.foreground_color_g, s.foreground_color_b, 0 };
	set_color(0, &background);
	set_color(1, &foreground);

	while (!keypressed())
		chaos_step(&state);

	allegro_exit();
	return 0;
}
END_OF_MAIN()
