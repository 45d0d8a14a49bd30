// The yardstick for dotfall on a display: the library's display path alone.
// It starts as dotfall does, settings and all, and then draws with nothing
// but the step and the library's putpixel, a key test every KEY_STEPS
// steps: no call into the plotter, no clock, no signal checks. What dotfall
// spends a step beyond this is its own code's.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <allegro.h>

#include "drawing/chaos.h"
#include "settings/settings.h"

// As often as dotfall's loop reads its clock (CLOCK_STEPS in its main.cpp).
#define KEY_STEPS 1024

int main(void)
{
	settings s = settings_defaults();

	srand((unsigned)time(NULL));
	set_uformat(U_ASCII);
	if (install_allegro(SYSTEM_AUTODETECT, &errno, atexit) != 0)
		return 1;
	load_settings_file(SETTINGS_FILE);
	install_keyboard();
	install_mouse();
	read_screen_settings(&s);
	if (set_gfx_mode(s.fullscreen ? GFX_AUTODETECT_FULLSCREEN : GFX_AUTODETECT_WINDOWED,
	                 s.screenw, s.screenh, 0, 0) != 0)
		return 1;
	set_display_defaults(&s, SCREEN_W, SCREEN_H);
	read_picture_settings(&s);
	RGB background = { s.background_color_r, s.background_color_g, s.background_color_b, 0 };
	RGB foreground = { s.foreground_color_r, s.foreground_color_g, s.foreground_color_b, 0 };
	set_color(0, &background);
	set_color(1, &foreground);

	const point points[3] = { { s.point_1_x, s.point_1_y }, { s.point_2_x, s.point_2_y },
	                          { s.point_3_x, s.point_3_y } };
	point at = { SCREEN_W / 2, SCREEN_H / 2 };
	while (!keypressed())
		for (int n = 0; n < KEY_STEPS; n++) {
			at = chaos_next(points, at);
			putpixel(screen, at.x, at.y, 1);
		}
	allegro_exit();
	return 0;
}
END_OF_MAIN()
