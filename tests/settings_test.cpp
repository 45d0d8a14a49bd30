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

TEST_F(SettingsFile, ByteOrderMarkIsSkippedAndTooBigIsNoFile)
{
	use("\xEF\xBB\xBF[screen]\r\nscreenw = 800\r\n");
	settings s = settings_defaults();
	read_screen_settings(&s);
	EXPECT_EQ(s.screenw, 800);

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
