// Faults of the surroundings rather than of the settings: no display, a
// display or window that goes away, signals, and settings files that are
// not plain files.
#include <csignal>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"
#include "settings/settings.h"

namespace {

struct Environment : OnXvfb {
	// The run must come up with the defaults, a full-screen 640x480 display,
	// end on a key, and leave the folder as it was.
	void expect_default_run(uid_t user = 0, const std::string &program = DOTFALL)
	{
		const folder_state before = snapshot(dir);
		run r(dir, env(), user, program);
		Window w = wait_window(x.dpy, 640, 480);
		ASSERT_NE(w, 0u) << r.output;
		press_key(x.dpy, w, XK_q);
		EXPECT_EQ(r.exit_status(10), 0);
		EXPECT_EQ(r.output, "");
		EXPECT_TRUE(snapshot(dir) == before) << "the run changed its folder";
	}
};

TEST_F(Environment, WithoutAUsableDisplayItFailsCleanly)
{
	for (const char *display : { "DISPLAY", "DISPLAY=:4095", "DISPLAY=nosuchhost.invalid:0" }) {
		SCOPED_TRACE(display);
		expect_failure({ display, "PATH=/nonexistent" });
	}
	// With the message on standard output and nobody left to read it, the
	// status is 1 all the same.
	settings_file(dir, "[screen]\nscreenw = 0\n");
	for (auto vars : { std::vector<std::string>{ "DISPLAY" }, env({ "PATH=/nonexistent" }) }) {
		run r(dir, vars);
		close(r.output_pipe);
		r.output_pipe = -1;
		EXPECT_EQ(r.exit_status(20), 1) << "status " << r.status;
	}
}

// Xlib ends the process when its server goes; the library's shut-down then
// used to deadlock now and then, so this is tried a number of times.
TEST_F(Environment, DisplayGoingAwayWhileDrawingEndsTheRun)
{
	for (int i = 0; i < 12; i++) {
		SCOPED_TRACE("attempt " + std::to_string(i));
		xserver doomed;
		ASSERT_NE(doomed.dpy, nullptr);
		settings_file(dir, i % 2 ? "[screen]\nfullscreen = 0\n" : "");
		run r(dir, { "DISPLAY=" + doomed.name });
		ASSERT_NE(wait_window(doomed.dpy, 640, 480), 0u);
		pause_ms(20 * i);
		XCloseDisplay(doomed.dpy);
		doomed.dpy = nullptr;
		kill(doomed.pid, i % 3 ? SIGKILL : SIGTERM);
		EXPECT_EQ(r.exit_status(10), 1) << (r.status == -1                ? "hung"
		                                      : WIFSIGNALED(r.status) ? strsignal(WTERMSIG(r.status))
		                                                              : "");
		EXPECT_EQ(r.output, "");
	}
}

// Ctrl+C, kill and a closed terminal end the run the way a key does, and
// then the process ends by that signal, so that its shell sees it.
TEST_F(Environment, SignalWhileDrawingEndsTheRunBySignal)
{
	for (int sig : { SIGINT, SIGTERM, SIGHUP })
		for (int fullscreen : { 0, 1 }) {
			SCOPED_TRACE(std::string(strsignal(sig)) + (fullscreen ? ", full screen" : ", window"));
			settings_file(dir, "[screen]\nfullscreen = " + std::to_string(fullscreen) + "\n");
			run r(dir, env());
			ASSERT_NE(wait_window(x.dpy, 640, 480), 0u) << r.output;
			pause_ms(100);
			kill(r.pid, sig);
			ASSERT_TRUE(wait_for(10, [&] { return !r.running(); })) << "hung";
			EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == sig) << "status " << r.status;
			EXPECT_EQ(r.output, "");
			EXPECT_EQ(any_window(x.dpy), 0u) << "the window stayed";
		}
}

// Another client destroys the window named after the program, as a window
// manager's kill or `xdotool windowclose` would. In a window the run ends,
// with status 1, through its usual shut-down; in the library's full screen
// (no window manager here) the picture is on a window of its own, and the
// run goes on until a key.
TEST_F(Environment, WindowDestroyedByAnotherClient)
{
	for (int fullscreen : { 0, 1 }) {
		SCOPED_TRACE(fullscreen ? "full screen" : "window");
		settings_file(dir, "[screen]\nfullscreen = " + std::to_string(fullscreen) + "\n");
		run r(dir, env());
		Window w = wait_window(x.dpy, 640, 480);
		ASSERT_NE(w, 0u) << r.output;
		for (Window top : children(x.dpy, DefaultRootWindow(x.dpy))) {
			char *name = nullptr;
			if (XFetchName(x.dpy, top, &name) && std::string(name) == "dotfall")
				XDestroyWindow(x.dpy, top);
			XFree(name);
		}
		XSync(x.dpy, False);
		if (fullscreen) {
			pause_ms(200);
			press_key(x.dpy, w, XK_q);
		}
		EXPECT_EQ(r.exit_status(10), fullscreen ? 0 : 1) << "status " << r.status;
		EXPECT_EQ(r.output, "");
	}
}

// On a bare Xorg server the library's full screen switches the mode, and
// every way out that the process still runs code on puts it back: a signal,
// and another client destroying the full-screen window (which ends the run
// with status 1); a key is FullScreenWithoutAWindowManagerStaysOnThePrimaryMonitor's.
TEST_F(Environment, SwitchedModeComesBackAfterASignalOrTheWindowDestroyed)
{
	xserver bare(1, "");
	ASSERT_TRUE(bare.laid_out) << "Xorg did not start";
	const std::string mode = video_mode(bare.dpy);
	for (int way : { SIGINT, SIGTERM, SIGHUP, 0 }) {
		SCOPED_TRACE(way ? strsignal(way) : "window destroyed");
		run r(dir, { "DISPLAY=" + bare.name });
		Window w = wait_window(bare.dpy, 640, 480);
		ASSERT_NE(w, 0u) << r.output;
		ASSERT_TRUE(wait_for(START_SECONDS, [&] { return video_mode(bare.dpy) != mode; })) << "no mode switch";
		pause_ms(100);
		if (way)
			kill(r.pid, way);
		else
			XDestroyWindow(bare.dpy, top_level(bare.dpy, w));
		XSync(bare.dpy, False);
		ASSERT_TRUE(wait_for(10, [&] { return !r.running(); })) << "hung";
		if (way)
			EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == way) << "status " << r.status;
		else
			EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 1) << "status " << r.status;
		EXPECT_EQ(r.output, "");
		EXPECT_EQ(video_mode(bare.dpy), mode) << "the mode was not put back";
	}
}

TEST_F(Environment, UnreadableSettingsFileIsNoSettingsFile)
{
	settings_file(dir, "[screen]\nfullscreen = 0\nscreenw = 300\n");
	chmod((dir / "dotfall.ini").c_str(), 0);
	if (geteuid() != 0) {
		expect_default_run();
		return;
	}
	// Permissions do not stop root: run as nobody then, from a copy of the
	// program in a folder that nobody can reach.
	const fs::path bin = dir.string() + "-bin";
	fs::create_directory(bin);
	fs::copy_file(DOTFALL, bin / "dotfall");
	chmod(bin.c_str(), 0755);
	chmod(dir.c_str(), 0755);
	expect_default_run(65534, bin / "dotfall");
	fs::remove_all(bin);
}

TEST_F(Environment, SettingsNameThatIsNoPlainFileIsNoSettingsFile)
{
	const fs::path ini = dir / "dotfall.ini";
	ASSERT_EQ(mkdir(ini.c_str(), 0755), 0);
	{
		SCOPED_TRACE("a folder");
		expect_default_run();
	}
	rmdir(ini.c_str());
	ASSERT_EQ(mkfifo(ini.c_str(), 0644), 0);
	{
		SCOPED_TRACE("a FIFO with no writer");
		expect_default_run();
	}
	unlink(ini.c_str());
	ASSERT_EQ(symlink("/dev/zero", ini.c_str()), 0);
	{
		SCOPED_TRACE("a link to an endless device");
		expect_default_run();
	}
	unlink(ini.c_str());
	settings_file(dir, "[screen]\nfullscreen = 0\nscreenw = 300\n");
	ASSERT_EQ(truncate(ini.c_str(), SETTINGS_MAX_BYTES + 1), 0);   // sparse, mostly
	{
		SCOPED_TRACE("a file bigger than any settings file");
		expect_default_run();
	}
}

// Killing the compositor takes its XWayland with it: the run ends as when
// any X server goes away, full screen or in a window.
struct WaylandEnvironment : OnWayland {};

TEST_P(WaylandEnvironment, CompositorGoingAwayEndsTheRun)
{
	run r(dir, c->env(), user, program);
	ASSERT_NE(wait_display(640, 480, OUTPUT_WIDTH, OUTPUT_HEIGHT), 0u) << r.output;
	pause_ms(200);
	c->kill_now();
	EXPECT_EQ(r.exit_status(10), 1) << "status " << r.status;
	EXPECT_EQ(r.output, "");
}

INSTANTIATE_TEST_SUITE_P(, WaylandEnvironment, ::testing::Values(wm::sway, wm::mutter), wm_test_name);

} // namespace
