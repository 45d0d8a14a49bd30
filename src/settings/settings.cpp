/* Settings: the defaults and the keys of "dotfall.ini", read through the
 * library's configuration file. Missing files, sections and keys leave a
 * field as it was; how a present value reads as a number is get_config_int's
 * rule. */
#include "settings.h"

#include <cstddef>
#include <allegro.h>

template <typename T>
struct config_key {
	const char *name;
	T settings::*field;
};

/* Every key of the file, by section, in the order it is read. */
static const config_key<int32_t> screen_keys[] = {
	{ "fullscreen", &settings::fullscreen },
	{ "screenw",    &settings::screenw },
	{ "screenh",    &settings::screenh },
};

static const config_key<int32_t> point_keys[] = {
	{ "point_1_x", &settings::point_1_x },
	{ "point_1_y", &settings::point_1_y },
	{ "point_2_x", &settings::point_2_x },
	{ "point_2_y", &settings::point_2_y },
	{ "point_3_x", &settings::point_3_x },
	{ "point_3_y", &settings::point_3_y },
};

static const config_key<uint8_t> color_keys[] = {
	{ "foreground_color_r", &settings::foreground_color_r },
	{ "foreground_color_g", &settings::foreground_color_g },
	{ "foreground_color_b", &settings::foreground_color_b },
	{ "background_color_r", &settings::background_color_r },
	{ "background_color_g", &settings::background_color_g },
	{ "background_color_b", &settings::background_color_b },
};

/* The field's current value is the default. Storing into a uint8_t field
 * keeps the low 8 bits: 300 becomes 44, -1 becomes 255. */
template <typename T, size_t N>
static void read_keys(settings *s, const char *section, const config_key<T> (&keys)[N])
{
	for (const config_key<T> &k : keys)
		s->*k.field = (T)get_config_int(section, k.name, s->*k.field);
}

settings settings_defaults(void)
{
	settings s = {};

	s.fullscreen = 1;
	s.screenw = 640;
	s.screenh = 480;
	s.foreground_color_r = s.foreground_color_g = s.foreground_color_b = 63;
	s.background_color_r = s.background_color_g = s.background_color_b = 0;
	return s;
}

void set_display_defaults(settings *s, int32_t w, int32_t h)
{
	s->point_1_x = w / 2;
	s->point_1_y = 0;
	s->point_2_x = 0;
	s->point_2_y = h;
	s->point_3_x = w;
	s->point_3_y = h;
}

void read_screen_settings(settings *s)
{
	read_keys(s, "screen", screen_keys);
}

void read_picture_settings(settings *s)
{
	read_keys(s, "points", point_keys);
	read_keys(s, "colors", color_keys);
}
