/* Prints the program's own defaults, one "section key value" a line, for the
 * install test to hold the manual and the README to. The points, which follow
 * the display, are given for a display of 1000 by 600 pixels. */
#include <cstdio>

#include "settings/settings.h"

int main()
{
	settings s = settings_defaults();
	set_display_defaults(&s, 1000, 600);
	printf("screen fullscreen %d\n", (int)s.fullscreen);
	printf("screen screenw %d\nscreen screenh %d\n", (int)s.screenw, (int)s.screenh);
	printf("points point_1_x %d\npoints point_1_y %d\n", (int)s.point_1_x, (int)s.point_1_y);
	printf("points point_2_x %d\npoints point_2_y %d\n", (int)s.point_2_x, (int)s.point_2_y);
	printf("points point_3_x %d\npoints point_3_y %d\n", (int)s.point_3_x, (int)s.point_3_y);
	printf("colors foreground_color_r %d\ncolors foreground_color_g %d\ncolors foreground_color_b %d\n",
	       s.foreground_color_r, s.foreground_color_g, s.foreground_color_b);
	printf("colors background_color_r %d\ncolors background_color_g %d\ncolors background_color_b %d\n",
	       s.background_color_r, s.background_color_g, s.background_color_b);
	return 0;
}
