// The one failure: a display that cannot be opened ends the run with status
// 1 and "Error setting graphics mode!", in a dialog where one can be shown,
// on standard output where not, with nothing else shown or printed.
#include "desktop.h"

namespace {

// The run ends with the display failure, the message on standard output.
void expect_failure(run r)
{
	EXPECT_EQ(r.exit_status(), 1) << "status " << r.status;
	EXPECT_EQ(r.output, std::string(MESSAGE) + "\n");
}

TEST(NoDisplay, WithoutAUsableDisplayItFailsCleanly)
{
	for (const char *display : { "DISPLAY", "DISPLAY=:4095", "DISPLAY=nosuchhost.invalid:0" }) {
		SCOPED_TRACE(display);
		expect_failure(run({ DOTFALL }, { fs::temp_directory_path(), { display, "PATH=/nonexistent" } }));
	}
}

// Sizes no display can take: with no xmessage on the PATH, the message on
// standard output; with nobody left to read it, status 1 all the same.
struct Refused : On {};

TEST_P(Refused, SizesNoDisplayCanTakeFailCleanly)
{
	const int sizes[][2] = { { 0, 480 }, { 640, 0 }, { -1, 480 }, { 640, -1 },
	                         { 100000, 480 }, { 2147483647, 2 }, { 16385, 16384 } };
	for (int fullscreen : { 0, 1 })
		for (auto &size : sizes) {
			SCOPED_TRACE(std::to_string(fullscreen) + " " + std::to_string(size[0]) + "x" + std::to_string(size[1]));
			settings_file(dir, screen_settings(fullscreen, size[0], size[1]));
			expect_failure(start({ "PATH=/nonexistent" }));
		}
	for (const char *env : { "DISPLAY", "PATH=/nonexistent" }) {
		run r = start({ env });
		close(std::exchange(r.output_pipe, -1));
		EXPECT_EQ(r.exit_status(), 1) << "status " << r.status;
	}
}
ON_DESKTOPS(Refused, SIZED, MANAGED | WINE);

// The message in a dialog (xmessage on X11, a message box on Windows), no
// display shown, until Return dismisses it and the run ends with 1.
struct Dialog : On {};

TEST_P(Dialog, FailureMessageIsShownInADialog)
{
	settings_file(dir, "[screen]\nscreenw = 0\n");
	run r = start({ "PATH=/usr/bin:/bin" });
	Window dialog = 0;
	ASSERT_TRUE(wait_for(START_SECONDS, [&] {
		return (dialog = d->window_of("Xmessage")) || (dialog = d->window_of("dotfall.exe")) || !r.running();
	}) && dialog) << "no message dialog: " << r.output << d->tree();
	EXPECT_EQ(d->window_of("dotfall"), 0u) << "a display was shown";
	EXPECT_EQ(find_window(d->dpy, DefaultRootWindow(d->dpy), 640, 480, nullptr, d->frame), 0u) << "a display was shown";
	EXPECT_TRUE(r.running()) << "the message waits to be dismissed";
	EXPECT_TRUE(!d->has(MANAGED) || wait_for(START_SECONDS, [&] { return focused(d->dpy) == top_level(d->dpy, dialog); }))
		<< "the dialog has no keyboard focus";
	expect_key_ends(r, dialog, XK_Return, 1);
}
ON_DESKTOPS(Dialog, 0, MODES | VIRTUAL_DESKTOP);

} // namespace
