// The figure that STEPS plotter steps draw from a seed, as a run draws it on
// a W by H display at the default points, written to standard output as a
// PGM picture of palette indices (0 background, 1 dot). Builds for two
// machines can then be compared byte for byte.
// Usage: figure SEED STEPS [W H]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <allegro.h>

#include "drawing/chaos.h"
#include "settings/settings.h"

int main(int argc, char **argv)
{
	if (argc != 3 && argc != 5) {
		fprintf(stderr, "usage: figure SEED STEPS [W H]\n");
		return 2;
	}
	unsigned seed = (unsigned)strtoul(argv[1], nullptr, 10);
	long steps = strtol(argv[2], nullptr, 10);
	int32_t w = argc == 5 ? (int32_t)atoi(argv[3]) : 640;
	int32_t h = argc == 5 ? (int32_t)atoi(argv[4]) : 480;

	// The library without a display: putpixel on `screen` draws into a
	// memory bitmap that stands in for it.
	if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0)
		return 1;
	set_color_depth(8);
	BITMAP *bmp = create_bitmap(w, h);
	if (!bmp)
		return 1;
	clear_to_color(bmp, 0);
	screen = bmp;

	settings s = settings_defaults();
	chaos_state state;
	chaos_start(&state, w, h);
	set_display_defaults(&s, w, h);
	state.points[0] = point{ s.point_1_x, s.point_1_y };
	state.points[1] = point{ s.point_2_x, s.point_2_y };
	state.points[2] = point{ s.point_3_x, s.point_3_y };
	srand(seed);
	for (long i = 0; i < steps; i++)
		chaos_step(&state);

	printf("P5\n%d %d\n1\n", (int)w, (int)h);
	for (int y = 0; y < h; y++)
		for (int x = 0; x < w; x++)
			putchar(getpixel(bmp, x, y));
	screen = nullptr;
	destroy_bitmap(bmp);
	allegro_exit();
	return fflush(stdout) == 0 ? 0 : 1;
}
