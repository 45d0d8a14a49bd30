/* Settings: the defaults and the keys of "dotfall.ini", read through the
 * Allegro's configuration reader. Missing files, sections and keys leave a
 * field as it was; how a present value reads as a number is get_config_int's
 * rule. */
#include "settings.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <allegro.h>

#ifndef O_NONBLOCK
#define O_NONBLOCK 0   /* Windows has no FIFOs to block on */
#endif
#ifndef O_BINARY
#define O_BINARY 0     /* POSIX reads bytes as they are */
#endif

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

/* Reads up to `size` bytes of a regular file into `buf`; returns how many,
 * 0 for anything that is no regular file. Opening does not wait for a FIFO's
 * writer, and devices are refused before a byte is read. */
static size_t read_regular_file(const char *name, char *buf, size_t size)
{
	struct stat st;
	size_t n = 0;
	int fd = open(name, O_RDONLY | O_NONBLOCK | O_BINARY);

	if (fd < 0)
		return 0;
	if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
		while (n < size) {
			ssize_t got = read(fd, buf + n, size - n);
			if (got <= 0)
				break;
			n += (size_t)got;
		}
	}
	close(fd);
	return n;
}

/* The X keyboard driver stores each [xkeymap] "keycodeN" value above 0 as
 * the key's code and indexes its key tables with it: 127 and up write past
 * them (huge values crash), and 115 to 126 turn the key into a modifier,
 * which never reaches keypressed(). Such entries are removed from the text in
 * memory, duplicates too, with Allegro's own lookup, so what remains is
 * exactly what the driver would read; the file itself is never touched. */
static void drop_unsafe_keymap(void)
{
	char name[16];

	for (int code = 0; code < 256; code++) {
		snprintf(name, sizeof name, "keycode%d", code);
		while (get_config_int("xkeymap", name, 0) >= KEY_MODIFIERS)
			set_config_string("xkeymap", name, NULL);
	}
}

/* Writes code point c as UTF-8 at out; returns the bytes written. */
static size_t put_utf8(uint32_t c, char *out)
{
	if (c < 0x80) {
		out[0] = (char)c;
		return 1;
	}
	if (c < 0x800) {
		out[0] = (char)(0xC0 | c >> 6);
		out[1] = (char)(0x80 | (c & 0x3F));
		return 2;
	}
	if (c < 0x10000) {
		out[0] = (char)(0xE0 | c >> 12);
		out[1] = (char)(0x80 | (c >> 6 & 0x3F));
		out[2] = (char)(0x80 | (c & 0x3F));
		return 3;
	}
	out[0] = (char)(0xF0 | c >> 18);
	out[1] = (char)(0x80 | (c >> 12 & 0x3F));
	out[2] = (char)(0x80 | (c >> 6 & 0x3F));
	out[3] = (char)(0x80 | (c & 0x3F));
	return 4;
}

/* Converts n bytes of UTF-16 (after its byte-order mark; big-endian when
 * `big`) to UTF-8 in out, which holds n / 2 * 3 bytes; returns the length.
 * This gives what the same text saved as UTF-8 gives: every character
 * outside ASCII becomes bytes of 0x80 and up, which never complete a key
 * name or a digit. A lone surrogate becomes U+FFFD; an odd last byte is
 * dropped. A unit makes at most 3 bytes, a pair of units 4. */
static size_t utf16_to_utf8(const unsigned char *in, size_t n, bool big, char *out)
{
	size_t len = 0;

	for (size_t i = 0; i + 1 < n; i += 2) {
		uint32_t c = big ? (uint32_t)(in[i] << 8 | in[i + 1]) : (uint32_t)(in[i + 1] << 8 | in[i]);
		if (c >= 0xD800 && c < 0xE000) {
			uint32_t low = 0;
			if (c < 0xDC00 && i + 3 < n)
				low = big ? (uint32_t)(in[i + 2] << 8 | in[i + 3]) : (uint32_t)(in[i + 3] << 8 | in[i + 2]);
			if (low >= 0xDC00 && low < 0xE000) {
				c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
				i += 2;
			} else {
				c = 0xFFFD;
			}
		}
		len += put_utf8(c, out + len);
	}
	return len;
}

void load_settings_file(const char *name)
{
	char *text = (char *)malloc(SETTINGS_MAX_BYTES + 1);
	size_t n = text ? read_regular_file(name, text, SETTINGS_MAX_BYTES + 1) : 0;
	size_t skip = 0;
	char *wide = NULL;

	if (n > SETTINGS_MAX_BYTES)
		n = 0;
	/* Editors on Windows start UTF-8 text with a byte-order mark; left in,
	 * it would hide the first section header. Notepad's "Unicode" is UTF-16
	 * with a mark, which Allegro cannot read at all: it is read as the
	 * same text in UTF-8 would be. */
	if (n >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
		skip = 3;
	} else if (n >= 2 && (memcmp(text, "\xFF\xFE", 2) == 0 || memcmp(text, "\xFE\xFF", 2) == 0)) {
		wide = (char *)malloc((n - 2) / 2 * 3 + 1);
		if (wide) {
			n = utf16_to_utf8((const unsigned char *)text + 2, n - 2, text[0] == '\xFE', wide);
			free(text);
			text = wide;
		} else {
			n = 0;
		}
	}
	/* As text, not as a file: Allegro then has no name it could ever
	 * write its configuration back to. */
	set_config_data(text ? text + skip : "", (int)(n - skip));
	free(text);
	drop_unsafe_keymap();
}
