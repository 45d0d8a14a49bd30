// The plotter's step rule, drawing into a memory bitmap that stands in for
// the screen (the library's own putpixel, without a display).
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <allegro.h>
#include <gtest/gtest.h>

#include "drawing/chaos.h"

namespace {

struct Plotter : ::testing::Test {
	BITMAP *bmp = nullptr;
	chaos_state state = {};

	static void SetUpTestSuite() { ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0); }
	// Shut down again, so that the next suite in this process starts it anew.
	static void TearDownTestSuite() { allegro_exit(); }
	void SetUp() override
	{
		set_color_depth(8);
		bmp = create_bitmap(64, 48);
		ASSERT_NE(bmp, nullptr);
		clear_to_color(bmp, 0);
		screen = bmp;
	}
	void TearDown() override
	{
		screen = nullptr;
		destroy_bitmap(bmp);
	}

	void all_points(int32_t x, int32_t y)
	{
		for (point &p : state.points)
			p = point{ x, y };
	}
	int lit() const
	{
		int n = 0;
		for (int y = 0; y < bmp->h; y++)
			for (int x = 0; x < bmp->w; x++)
				n += getpixel(bmp, x, y) == 1;
		return n;
	}
};

TEST_F(Plotter, StartsAtTheCentreWithoutDrawing)
{
	chaos_start(&state, 641, 481);
	EXPECT_EQ(state.current.x, 320);
	EXPECT_EQ(state.current.y, 240);
	chaos_start(&state, 64, 48);
	EXPECT_EQ(state.current.x, 32);
	EXPECT_EQ(state.current.y, 24);
	EXPECT_EQ(lit(), 0);
}

TEST_F(Plotter, HalvesTowardZeroAndClipsOffDisplayPositions)
{
	state.current = point{ 0, 7 };
	all_points(-3, 0);
	chaos_step(&state);   // -3 / 2 is -1, not -2; 7 / 2 is 3
	EXPECT_EQ(state.current.x, -1);
	EXPECT_EQ(state.current.y, 3);
	EXPECT_EQ(lit(), 0) << "a position left of the display is not drawn";

	all_points(0, 0);
	chaos_step(&state);   // and it comes back: -1 / 2 is 0
	EXPECT_EQ(state.current.x, 0);
	EXPECT_EQ(state.current.y, 1);
	EXPECT_EQ(getpixel(bmp, 0, 1), 1);
	EXPECT_EQ(lit(), 1);
}

TEST_F(Plotter, EqualPointsSettleOnOnePixel)
{
	state.current = point{ 63, 0 };
	all_points(10, 20);
	for (int i = 0; i < 40; i++)
		chaos_step(&state);
	// From above x stops on the point; from below y stops one short of it.
	EXPECT_EQ(state.current.x, 10);
	EXPECT_EQ(state.current.y, 19);
	clear_to_color(bmp, 0);
	chaos_step(&state);
	EXPECT_EQ(getpixel(bmp, 10, 19), 1) << "every step writes its pixel, lit or not";
	EXPECT_EQ(lit(), 1);
}

TEST_F(Plotter, SumsBeyond32BitsAreWellDefined)
{
	const int32_t max = INT32_MAX, min = INT32_MIN;
	state.current = point{ max, min };
	all_points(max, min);
	chaos_step(&state);
	EXPECT_EQ(state.current.x, max);
	EXPECT_EQ(state.current.y, min);
	all_points(min, max);
	chaos_step(&state);   // -1 / 2 is 0 either way
	EXPECT_EQ(state.current.x, 0);
	EXPECT_EQ(state.current.y, 0);
}

TEST_F(Plotter, OneRandomNumberPerStepPicksPointOneTwoOrThree)
{
	int choice[300], seen[3] = {};
	srand(12345);
	for (int &r : choice)
		r = rand() % 3;

	state.points[0] = point{ 0, 0 };
	state.points[1] = point{ 60, 0 };
	state.points[2] = point{ 0, 40 };
	chaos_start(&state, 64, 48);
	srand(12345);
	for (int r : choice) {
		point before = state.current, p = state.points[r];
		chaos_step(&state);
		ASSERT_EQ(state.current.x, (before.x + p.x) / 2);
		ASSERT_EQ(state.current.y, (before.y + p.y) / 2);
		ASSERT_EQ(getpixel(bmp, state.current.x, state.current.y), 1);
		seen[r]++;
	}
	EXPECT_GT(seen[0], 0);
	EXPECT_GT(seen[1], 0);
	EXPECT_GT(seen[2], 0);
}

} // namespace
