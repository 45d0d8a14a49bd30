/* The fifteen values that shape a run, their defaults, and the reading of
 * "dotfall.ini" that overrides them. The field names are the file's keys. */
#ifndef DOTFALL_SETTINGS_H
#define DOTFALL_SETTINGS_H

#include <cstdint>

struct settings {
	/* [screen]: final before the display is set */
	int32_t fullscreen;   /* 0: a window; anything else: full screen */
	int32_t screenw, screenh;

	/* [points]: their defaults follow the display that was set */
	int32_t point_1_x, point_1_y;
	int32_t point_2_x, point_2_y;
	int32_t point_3_x, point_3_y;

	/* [colors]: palette components, 0 to 63 on Allegro's scale */
	uint8_t foreground_color_r, foreground_color_g, foreground_color_b;
	uint8_t background_color_r, background_color_g, background_color_b;
};

#define SETTINGS_FILE "dotfall.ini"

/* No real settings file comes near this; a bigger one is not read at all. */
#define SETTINGS_MAX_BYTES (1 << 20)

/* Make the named file Allegro's current configuration, as text in
 * memory: only a regular file of at most SETTINGS_MAX_BYTES counts, anything
 * else (missing, unreadable, too big, a folder, FIFO or device) is no
 * settings file. A leading UTF-8 byte-order mark is skipped, and text with a
 * UTF-16 one is read as the same text in UTF-8. Entries for Allegro
 * that would corrupt its tables are then dropped, in memory only. */
void load_settings_file(const char *name);

/* The display and colour defaults; the points are left zero until
 * set_display_defaults knows the display's size. */
settings settings_defaults(void);

/* Points at the top centre and the two bottom corners of a w by h display. */
void set_display_defaults(settings *s, int32_t w, int32_t h);

/* Read the [screen] keys of the current configuration file, before the
 * display is set. */
void read_screen_settings(settings *s);

/* Read the [points] and then the [colors] keys, after the display is set and
 * the point defaults are filled. Colours keep the low 8 bits of what is read. */
void read_picture_settings(settings *s);

#endif
