// The settings record's defaults and the two reads of the settings file,
// through the library's real configuration reader (no display needed).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <allegro.h>
#include <gtest/gtest.h>

#include "settings/settings.h"

namespace {

struct SettingsFile : ::testing::Test {
	// One file a test: ctest runs the tests side by side.
	std::string path = ::testing::TempDir() + "dotfall_" +
	                   ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";

	static void SetUpTestSuite() { ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0); }
	// Shut down again, so that the next suite in this process starts it anew.
	static void TearDownTestSuite() { allegro_exit(); }
	void TearDown() override { std::remove(path.c_str()); }

	void use(const std::string &text)
	{
		FILE *f = std::fopen(path.c_str(), "wb");
		ASSERT_NE(f, nullptr);
		std::fwrite(text.data(), 1, text.size(), f);
		std::fclose(f);
		load_settings_file(path.c_str());
	}
};

void expect_points(const settings &s, int x1, int y1, int x2, int y2, int x3, int y3)
{
	EXPECT_EQ(s.point_1_x, x1); EXPECT_EQ(s.point_1_y, y1);
	EXPECT_EQ(s.point_2_x, x2); EXPECT_EQ(s.point_2_y, y2);
	EXPECT_EQ(s.point_3_x, x3); EXPECT_EQ(s.point_3_y, y3);
}

void expect_colors(const settings &s, int fr, int fg, int fb, int br, int bg, int bb)
{
	EXPECT_EQ(s.foreground_color_r, fr); EXPECT_EQ(s.foreground_color_g, fg);
	EXPECT_EQ(s.foreground_color_b, fb); EXPECT_EQ(s.background_color_r, br);
	EXPECT_EQ(s.background_color_g, bg); EXPECT_EQ(s.background_color_b, bb);
}

TEST(Settings, DefaultsAndPointsFollowTheDisplay)
{
	settings s = settings_defaults();
	EXPECT_EQ(s.fullscreen, 1);
	EXPECT_EQ(s.screenw, 640);
	EXPECT_EQ(s.screenh, 480);
	expect_colors(s, 63, 63, 63, 0, 0, 0);

	set_display_defaults(&s, 640, 480);
	expect_points(s, 320, 0, 0, 480, 640, 480);
	set_display_defaults(&s, 1024, 768);
	expect_points(s, 512, 0, 0, 768, 1024, 768);
	set_display_defaults(&s, 641, 481);
	EXPECT_EQ(s.point_1_x, 320);
}

TEST_F(SettingsFile, MissingFileSectionOrKeyKeepsTheDefaults)
{
	const char *texts[] = {
		nullptr,                                   // no file at all
		"[sound]\nfullscreen = 0\n",               // only another section
		"[screen]\n[points]\n[colors]\nfoo = 9\n", // sections without the keys
	};
	for (const char *text : texts) {
		if (text)
			use(text);
		else
			load_settings_file((path + ".missing").c_str());
		settings s = settings_defaults();
		read_screen_settings(&s);
		set_display_defaults(&s, 640, 480);
		read_picture_settings(&s);
		EXPECT_EQ(s.fullscreen, 1);
		EXPECT_EQ(s.screenw, 640);
		EXPECT_EQ(s.screenh, 480);
		expect_points(s, 320, 0, 0, 480, 640, 480);
		expect_colors(s, 63, 63, 63, 0, 0, 0);
	}
}

TEST_F(SettingsFile, ScreenIsReadFirstThenPointsAndColours)
{
	use("[screen]\nfullscreen = -1\nscreenw = 800\nscreenh = 0x258\nbackground_color_r = 5\n"
	    "[points]\npoint_2_x = -30\npoint_3_y = 2147483647\n"
	    "[colors]\nforeground_color_r = 300\nforeground_color_g = 256\nforeground_color_b = -1\n"
	    "background_color_g = 017\n");
	settings s = settings_defaults();
	s.point_2_x = 12345;
	read_screen_settings(&s);
	EXPECT_EQ(s.fullscreen, -1);
	EXPECT_EQ(s.screenw, 800);
	EXPECT_EQ(s.screenh, 600);
	EXPECT_EQ(s.point_2_x, 12345) << "points are not read before the display is set";
	expect_colors(s, 63, 63, 63, 0, 0, 0);

	set_display_defaults(&s, 800, 600);
	read_picture_settings(&s);
	expect_points(s, 400, 0, -30, 600, 800, 2147483647);
	// Colours keep the low 8 bits; a colour under [screen] is not read.
	expect_colors(s, 44, 0, 255, 0, 15, 0);
}

// Text as UTF-16 with its byte-order mark, as Notepad saves "Unicode".
std::string utf16(const std::u16string &text, bool big)
{
	std::string bytes = big ? "\xFE\xFF" : "\xFF\xFE";
	for (char16_t c : text) {
		const char hi = (char)(c >> 8), lo = (char)(c & 0xFF);
		bytes += big ? std::string{ hi, lo } : std::string{ lo, hi };
	}
	return bytes;
}

TEST_F(SettingsFile, ByteOrderMarksAreReadAndTooBigIsNoFile)
{
	use("\xEF\xBB\xBF[screen]\r\nscreenw = 800\r\n");
	settings s = settings_defaults();
	read_screen_settings(&s);
	EXPECT_EQ(s.screenw, 800);

	// UTF-16 reads as the same text in UTF-8 would: a character outside
	// ASCII changes no key and no number. A lone surrogate, a pair (an emoji)
	// and an odd last byte are harmless.
	const std::u16string wide = u"[screen]\r\nfullscreen = 0\r\nscreenw\u00E9 = 900\r\nscreenw = 8\uFF10\r\n"
	                            u"# \U0001F600 \xD800 \xDC00\r\nscreenh = 600\xDBFF\r\n\xD83D";
	const std::string narrow = "[screen]\r\nfullscreen = 0\r\nscreenw\xC3\xA9 = 900\r\nscreenw = 8\xEF\xBC\x90\r\n"
	                           "# \xF0\x9F\x98\x80 \xEF\xBF\xBD \xEF\xBF\xBD\r\nscreenh = 600\xEF\xBF\xBD\r\n\xEF\xBF\xBD";
	use(narrow);
	settings want = settings_defaults();
	read_screen_settings(&want);
	EXPECT_EQ(want.fullscreen, 0);
	EXPECT_EQ(want.screenw, 8);
	EXPECT_EQ(want.screenh, 600);
	for (bool big : { false, true }) {
		SCOPED_TRACE(big ? "big-endian" : "little-endian");
		use(utf16(wide, big) + "\n");
		s = settings_defaults();
		read_screen_settings(&s);
		EXPECT_EQ(s.fullscreen, want.fullscreen);
		EXPECT_EQ(s.screenw, want.screenw);
		EXPECT_EQ(s.screenh, want.screenh);
	}

	// A UTF-16 file of the limit grows by half in UTF-8, and is read whole.
	std::u16string big_text = u"[screen]\nscreenw = 800\n#";
	const std::u16string last = u"\nscreenh = 600\n";
	big_text.resize((SETTINGS_MAX_BYTES - 2) / 2 - last.size(), u'\u4E00');
	use(utf16(big_text + last, false));
	s = settings_defaults();
	read_screen_settings(&s);
	EXPECT_EQ(s.screenw, 800);
	EXPECT_EQ(s.screenh, 600) << "the end of a full UTF-16 file is read";

	std::string text = "[screen]\nscreenw = 800\n";
	text.resize(SETTINGS_MAX_BYTES, '\n');
	use(text);
	s = settings_defaults();
	read_screen_settings(&s);
	EXPECT_EQ(s.screenw, 800) << "a file of the limit exactly is read";
	use(text + "\n");
	s = settings_defaults();
	read_screen_settings(&s);
	EXPECT_EQ(s.screenw, 640) << "one byte more is no settings file";
}

// Key-map values that would index past the library's key tables, or make a
// key a modifier, are gone in memory; the file stays as it was.
TEST_F(SettingsFile, KeyMapKeepsOnlyOrdinaryKeys)
{
	const std::string text = "[xkeymap]\nkeycode65 = 127\nkeycode65 = 30\nkeycode66 = 114\n"
	                         "keycode67 = 115\nKEYCODE9 = 100000000\nkeycode10 = -5\n"
	                         "[XKEYMAP]\nkeycode11 = 0x7fffffff\n";
	use(text);
	EXPECT_EQ(get_config_int("xkeymap", "keycode65", -1), 30);
	EXPECT_EQ(get_config_int("xkeymap", "keycode66", -1), 114);
	EXPECT_EQ(get_config_int("xkeymap", "keycode67", -1), -1);
	EXPECT_EQ(get_config_int("xkeymap", "keycode9", -1), -1);
	EXPECT_EQ(get_config_int("xkeymap", "keycode10", -1), -5);
	EXPECT_EQ(get_config_int("xkeymap", "keycode11", -1), -1);
	flush_config_file();
	FILE *f = std::fopen(path.c_str(), "rb");
	ASSERT_NE(f, nullptr);
	std::string now(text.size() + 1, '\0');
	now.resize(std::fread(&now[0], 1, now.size(), f));
	std::fclose(f);
	EXPECT_EQ(now, text);
}

} // namespace
