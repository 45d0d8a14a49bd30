// Faults of the surroundings rather than of the settings: a display or window
// that goes away, signals, and settings files that are not plain files.
#include <X11/Xatom.h>

#include "desktop.h"
#include "settings/settings.h"

namespace {

std::string how_ended(const run &r)
{
	return r.status == -1 ? "hung" : WIFSIGNALED(r.status) ? strsignal(WTERMSIG(r.status)) : "";
}

// The X server, or the compositor with its XWayland, killed or ended while
// dotfall draws, in a window or full screen: Xlib ends the process, twelve
// times of twelve (Allegro's shut-down must not deadlock).
struct Going : On {};

TEST_P(Going, DisplayGoingAwayWhileDrawingEndsTheRun)
{
	for (int i = 0; i < 12; i++) {
		SCOPED_TRACE("attempt " + std::to_string(i));
		if (i > 0) {   // a new desktop: the last one has gone
			ASSERT_NO_FATAL_FAILURE(SetUp());
		}
		ASSERT_NO_FATAL_FAILURE(open(640, 480, i % 2 ? "[screen]\nfullscreen = 0\n" : ""));
		pause_ms(20 * i);
		d->end(i % 3 ? SIGKILL : SIGTERM);
		EXPECT_EQ(r->exit_status(), 1) << how_ended(*r);
		EXPECT_EQ(r->output, "");
	}
}
ON_DESKTOPS(Going, 0, MODES | WINE);

// On a server without a window manager, the X11 program's own ways out.
struct Bare : On {
	// Its display, and the mode switched where it is switched.
	void shown(bool fullscreen)
	{
		ASSERT_NO_FATAL_FAILURE(open(640, 480, "[screen]\nfullscreen = " + std::to_string(fullscreen) + "\n"));
		EXPECT_TRUE(!fullscreen || !d->has(MODE_SWITCH) || wait_for(START_SECONDS, [&] { return video_mode(d->dpy) != mode; }))
			<< "no mode switch";
		pause_ms(100);
	}
};

// Ctrl+C, kill and a closed terminal end the run the way a key does: the
// window goes, a switched mode comes back, and then the process ends by that
// signal, so that its shell sees it.
TEST_P(Bare, SignalWhileDrawingEndsTheRunBySignal)
{
	for (int sig : { SIGINT, SIGTERM, SIGHUP })
		for (int fullscreen : { 0, 1 }) {
			SCOPED_TRACE(std::string(strsignal(sig)) + (fullscreen ? ", full screen" : ", window"));
			ASSERT_NO_FATAL_FAILURE(shown(fullscreen));
			kill(r->pid, sig);
			ASSERT_TRUE(wait_for(START_SECONDS, [&] { return !r->running(); })) << "hung";
			EXPECT_TRUE(WIFSIGNALED(r->status) && WTERMSIG(r->status) == sig) << "status " << r->status;
			EXPECT_EQ(r->output, "");
			EXPECT_EQ(any_window(d->dpy), 0u) << "the window stayed";
			EXPECT_EQ(video_mode(d->dpy), mode) << "the mode was not put back";
		}
}

// Another client destroys a window of dotfall's, as `xdotool windowclose`
// would. The one named dotfall: a window's run ends with 1; in the library's
// full screen the picture is on another window, and goes on until a key.
// That full-screen window: the run ends with 1, a switched mode comes back.
TEST_P(Bare, WindowDestroyedByAnotherClient)
{
	enum { WINDOW, NAMED, FULL_SCREEN };
	for (int way : { WINDOW, NAMED, FULL_SCREEN }) {
		SCOPED_TRACE(way == WINDOW ? "window" : way == NAMED ? "named window, full screen" : "full screen");
		ASSERT_NO_FATAL_FAILURE(shown(way != WINDOW));
		if (way == FULL_SCREEN)
			XDestroyWindow(d->dpy, top_level(d->dpy, w));
		for (Window top : children(d->dpy, DefaultRootWindow(d->dpy))) {
			char *name = nullptr;
			if (way != FULL_SCREEN && XFetchName(d->dpy, top, &name) && std::string(name) == "dotfall")
				XDestroyWindow(d->dpy, top);
			XFree(name);
		}
		XSync(d->dpy, False);
		if (way == NAMED) {
			pause_ms(200);
			d->press(w, XK_q);
		}
		EXPECT_EQ(r->exit_status(), way == NAMED ? 0 : 1) << how_ended(*r);
		EXPECT_EQ(r->output, "");
		EXPECT_EQ(video_mode(d->dpy), mode) << "the mode was not put back";
	}
}

// A window manager that has gone can leave its properties on the root,
// naming a check window that is no more: full screen is then the library's
// own (its window over the screen, which no window manager handles), and
// the server's error about that window ends nothing.
TEST_P(Bare, FullScreenIsTheLibrarysWhereAWindowManagerHasGone)
{
	Display *dpy = d->dpy;
	Window root = DefaultRootWindow(dpy), gone = XCreateSimpleWindow(dpy, root, 0, 0, 1, 1, 0, 0, 0);
	XDestroyWindow(dpy, gone);
	Atom full = XInternAtom(dpy, "_NET_WM_STATE_FULLSCREEN", False);
	XChangeProperty(dpy, root, XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False), XA_WINDOW, 32, PropModeReplace,
	                (unsigned char *)&gone, 1);
	XChangeProperty(dpy, root, XInternAtom(dpy, "_NET_SUPPORTED", False), XA_ATOM, 32, PropModeReplace,
	                (unsigned char *)&full, 1);
	ASSERT_NO_FATAL_FAILURE(shown(true));
	XWindowAttributes a;
	ASSERT_TRUE(XGetWindowAttributes(dpy, top_level(dpy, w), &a));
	EXPECT_TRUE(a.override_redirect) << "not the library's full screen";
	expect_key_ends(*r, w, XK_q);
	EXPECT_EQ(video_mode(dpy), mode) << "the mode was not put back";
}
ON_DESKTOPS(Bare, 0, MANAGED | COMPOSITOR | WINE | TWO_MONITORS);

// A settings file that cannot be read as one is none: the run comes up with
// the defaults (640x480, full screen), ends on a key, leaves the folder as is.
struct Unreadable : On {
	void expect_default_run()
	{
		ASSERT_NO_FATAL_FAILURE(open(640, 480));
		expect_key_ends(*r, w, XK_q);
		EXPECT_TRUE(snapshot(dir) == before) << "the run changed its folder";
	}
};

TEST_P(Unreadable, UnreadableSettingsFileIsNoSettingsFile)
{
	settings_file(dir, "[screen]\nfullscreen = 0\nscreenw = 300\n");
	chmod((dir / "dotfall.ini").c_str(), 0);
	if (geteuid() == 0) {
		// Permissions do not stop root: run as nobody then, from a copy of
		// the program in a folder that nobody can reach.
		fs::copy_file(DOTFALL, d->files / "dotfall");
		chmod(d->files.c_str(), 0755);
		chmod(dir.c_str(), 0755);
		d->user = 65534, d->program = { (d->files / "dotfall").string() };
	}
	expect_default_run();
}

TEST_P(Unreadable, SettingsNameThatIsNoPlainFileIsNoSettingsFile)
{
	const fs::path ini = dir / "dotfall.ini";
	const std::pair<const char *, std::function<int()>> kinds[] = {
		{ "a folder", [&] { return mkdir(ini.c_str(), 0755); } },
		{ "a FIFO with no writer", [&] { return mkfifo(ini.c_str(), 0644); } },
		{ "a link to an endless device", [&] { return symlink("/dev/zero", ini.c_str()); } },
		{ "a file bigger than any settings file", [&] {   // sparse, mostly
			 settings_file(dir, "[screen]\nfullscreen = 0\nscreenw = 300\n");
			 return truncate(ini.c_str(), SETTINGS_MAX_BYTES + 1);
		 } },
	};
	for (auto &[what, make] : kinds) {
		SCOPED_TRACE(what);
		fs::remove(ini);
		ASSERT_EQ(make(), 0);
		expect_default_run();
	}
}
ON_DESKTOPS(Unreadable, SIZED, MANAGED | WINE | EMULATED);

} // namespace
