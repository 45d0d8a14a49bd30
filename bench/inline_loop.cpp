// The yardstick for dotfall's own code: dotfall's run, settings and all,
// with the plotter written out inline in the drawing loop: the same library
// calls and nothing else. Built with UNBATCHED, it is the loop as it was
// before it drew in batches: a key test at every step.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <allegro.h>

#include "drawing/chaos.h"
#include "settings/settings.h"

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

	const int32_t px[3] = { s.point_1_x, s.point_2_x, s.point_3_x };
	const int32_t py[3] = { s.point_1_y, s.point_2_y, s.point_3_y };
	int32_t x = SCREEN_W / 2, y = SCREEN_H / 2;
#ifdef UNBATCHED
	while (!keypressed()) {
		const int i = rand() % 3;
		x = (int32_t)(((int64_t)x + px[i]) / 2);
		y = (int32_t)(((int64_t)y + py[i]) / 2);
		putpixel(screen, x, y, 1);
	}
#else
	while (!keypressed()) {
		auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(BATCH_MS);
		do
			for (int n = 0; n < CLOCK_STEPS; n++) {
				const int i = rand() % 3;
				x = (int32_t)(((int64_t)x + px[i]) / 2);
				y = (int32_t)(((int64_t)y + py[i]) / 2);
				putpixel(screen, x, y, 1);
			}
		while (std::chrono::steady_clock::now() < end);
	}
#endif
	allegro_exit();
	return 0;
}
END_OF_MAIN()
