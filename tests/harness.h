// What the end-to-end tests share: a private X server, a run of the built
// dotfall in a folder of its own, and the X requests that find its window,
// read it back and send it real input.
#ifndef DOTFALL_TESTS_HARNESS_H
#define DOTFALL_TESTS_HARNESS_H

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <gtest/gtest.h>
// Xlib defines macros (None, Bool, Status) that gtest must not see.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace fs = std::filesystem;

extern const char MESSAGE[];
extern const int SCREEN_WIDTH, SCREEN_HEIGHT;
// Pixels a window's frame adds to its size: none on X11, where the library's
// window is the display, but Wine draws the frame of dotfall.exe's window
// into that window itself (no window manager on these servers).
extern const int FRAME;
// Seconds a start may take before its window must be there, and a small
// figure before it must be drawn.
extern const double START_SECONDS, DRAW_SECONDS;

inline void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Waits for a condition, checking every 20 ms, for at most `seconds`.
template <typename F>
bool wait_for(double seconds, F done)
{
	auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
	while (!done()) {
		if (std::chrono::steady_clock::now() > end)
			return false;
		pause_ms(20);
	}
	return true;
}

// A private X server on a free display number, for one test: the tests'
// usual screen (Xvfb), or a desktop of the given size with a window manager
// (openbox) on it; or a real Xorg server with the dummy video driver, as a
// desktop has one, with `count` 1920x1080 monitors side by side (1 or 2, the
// first primary), reached through its socket or as a remote display (over
// TCP, as ssh -X and VNC reach theirs, where the library switches no
// mode), and a window manager ("openbox", "xfwm4" with its compositor on)
// or none ("").
struct xserver {
	pid_t pid = -1, wm_pid = -1;   // the server's, the window manager's (and its process group)
	std::string name;              // its DISPLAY
	Display *dpy = nullptr;        // the harness's own connection
	bool wm_ready = false;         // whether the window manager has taken charge of the screen
	bool laid_out = false;         // Xorg: whether it is up with its monitors laid out
	fs::path files;                // Xorg's configuration and log, xfwm4's settings

	xserver(int width = SCREEN_WIDTH, int height = SCREEN_HEIGHT, bool window_manager = false);
	xserver(int count, const std::string &window_manager, bool remote = false);
	~xserver();

private:
	void start(std::vector<std::string> argv);
	void manage(const std::string &window_manager);
};

// A run of dotfall in a folder, its standard output and error gathered from
// one pipe. env: NAME=VALUE to set, or NAME alone to unset. A nonzero user
// runs it as that user (and group of the same number), from `program`.
// A program named *.exe runs under Wine (in the prefix WINE_PREFIX, when
// the harness is built with one, and quiet).
struct run {
	pid_t pid = -1;
	int output_pipe = -1;   // the read end of its standard output and error
	std::string output;     // what has come through it so far
	int status = -1;        // as waitpid gives it, once it has ended
	long peak_kb = 0;   // its peak resident memory, once it has ended
	std::string wine_prefix;   // under Wine: the prefix it ran in

	run(const fs::path &dir, const std::vector<std::string> &env, uid_t user = 0,
	    const std::string &program = DOTFALL, const std::vector<std::string> &args = {});
	~run();
	bool running();
	// The exit status, or -1 after a signal or no exit within `seconds`.
	int exit_status(double seconds);
	// Under Wine, where each of its threads is waiting (winedbg's
	// backtraces, the exe's own frames as offsets): what a hang needs to
	// be found. Empty elsewhere.
	std::string threads();
};

// Runs `wine reg` with these arguments (add KEY /v NAME /d VALUE /f, ...)
// in a Wine prefix, and waits until the change is saved; false if reg
// failed.
bool wine_registry(const std::string &prefix, const std::vector<std::string> &args);

// A headless Wayland compositor with its XWayland, for one test, run by
// `user` when nonzero (sway will not run as root) with a runtime folder of
// its own and a 1280x800 output: sway, with keys typed by wtype and the
// output's picture taken by grim, or GNOME's mutter, with keys sent through
// its RemoteDesktop D-Bus API (its ScreenCast needs PipeWire: pictures come
// from XWayland). `dpy` is the harness's own connection to its XWayland.
enum class wm { sway, mutter };
const int OUTPUT_WIDTH = 1280, OUTPUT_HEIGHT = 800;

struct compositor {
	wm kind;
	uid_t user;
	pid_t pid = -1;            // its process group too
	fs::path runtime;          // XDG_RUNTIME_DIR, and the log
	std::string wayland, display, xauthority, bus;
	Display *dpy = nullptr;
	pid_t keyboard_pid = -1;   // mutter: the RemoteDesktop session's process
	int keys_pipe = -1;        // and the write end of the pipe it reads keysyms from

	compositor(wm kind, uid_t user);
	~compositor();
	// What went wrong in starting, from its log; "" once it is up.
	std::string failure;
	// Its variables for a program run under it.
	std::vector<std::string> env(std::vector<std::string> more = {}) const;
	// Presses and releases a key through the compositor.
	bool type(KeySym sym);
	// The output as the compositor shows it, 0xRRGGBB row by row (sway only).
	std::vector<uint32_t> screenshot();
	// Ends the compositor and its XWayland at once.
	void kill_now();
};
const char *wm_name(wm kind);
// The name of a test instantiated for each compositor: "sway", "mutter".
inline std::string wm_test_name(const ::testing::TestParamInfo<wm> &p) { return wm_name(p.param); }

// The deepest viewable window of the given size below `under` (or a
// top-level one that size within its frame); or, with a class name, the
// viewable top-level window of that class.
Window find_window(Display *dpy, Window under, int width, int height, const char *cls = nullptr);
Window wait_window(Display *dpy, int width, int height, const char *cls = nullptr);
// Any viewable top-level window, or 0.
Window any_window(Display *dpy);
// A window's place and size on the root window.
XRectangle geometry(Display *dpy, Window w);

// The screen's monitors (RandR 1.5), in RandR's order, the primary one's
// index in *primary; and the primary one itself (empty without one).
std::vector<XRectangle> monitors(Display *dpy, int *primary = nullptr);
XRectangle primary_monitor(Display *dpy);
// The video mode VidMode reports: "WxH" and its dot clock; "" without VidMode.
std::string video_mode(Display *dpy);
// The outputs, their modes and places, as `xrandr --current` tells them (a
// plain xrandr would probe the outputs again, and hide a switch).
std::string randr_layout(const std::string &display);

// The window's children, bottom to top, and its parent in *parent (0 when
// that is the root): the harness's one query of the window tree, which
// everything that looks up or down the tree goes through. Empty, and 0, for
// a window that has gone.
std::vector<Window> children(Display *dpy, Window w, Window *parent = nullptr);
// The window's parent (a window manager's frame, or the library's window
// that holds its display), or 0 for a top-level window.
Window parent_of(Display *dpy, Window w);
// The top-level window that holds `w` (a frame, under a window manager).
Window top_level(Display *dpy, Window w);
// The windows below `under` (the root for 0), a few levels down, one a line
// with their class, size and whether they are unmapped: what a test that
// found no display shows.
std::string window_tree(Display *dpy, Window under = 0, int depth = 0);

// The pixels of the window's width by height inside its frame, as
// 0xRRGGBB, row by row.
std::vector<uint32_t> grab(Display *dpy, Window w, int width, int height);
void point_at(Display *dpy, Window w, int x, int y);
// Moves the pointer over `over` (with no window manager the focus follows
// it) and presses and releases a key.
void press_key(Display *dpy, Window over, KeySym sym);

// Where the chaos game can go from `start` with these points, worked out by
// a search over positions rather than by playing it: every position
// reachable at all, and the ones it keeps coming back to.
struct figure {
	std::vector<bool> reachable, recurrent;   // over the display, row by row
};
figure chaos_figure(int width, int height, const int (&pts)[3][2]);

// How a picture of picture_w columns, holding a display whose top left
// corner is at (x0, y0) in it (cropped where outside), compares with the
// figure on that display: pixels in neither colour, or not black outside the
// display; lit pixels that the game cannot reach; figure pixels drawn, of
// those wanted.
struct figure_match {
	int foreign = 0, stray = 0, drawn = 0, wanted = 0;
	// Either wrong already, or most of the figure is in.
	bool settled() const { return stray > 0 || (foreign == 0 && drawn >= wanted * 0.98); }
};
figure_match match_figure(const std::vector<uint32_t> &px, int picture_w, int x0, int y0, const figure &f,
                          int width, int height, uint32_t fg, uint32_t bg);

// Output without its line ends, as the message is shown on a terminal.
std::string trimmed(const std::string &output);

// Writes dotfall.ini into the folder, byte for byte.
void settings_file(const fs::path &dir, const std::string &text);
// The [screen] section of a settings file for these values.
std::string screen_settings(int fullscreen, int width, int height);

// A folder's files with their sizes, times and bytes.
struct folder_state {
	std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> files;
	std::map<std::string, std::string> bytes;
	bool operator==(const folder_state &o) const { return files == o.files && bytes == o.bytes; }
};
folder_state snapshot(const fs::path &dir);

// A test with its own X server and an empty folder to run dotfall in.
struct OnXvfb : ::testing::Test {
	xserver x;
	fs::path dir;

	OnXvfb() = default;
	OnXvfb(int width, int height, bool window_manager) : x(width, height, window_manager) {}

	void SetUp() override;
	void TearDown() override;
	// Runs dotfall with these variables and checks that it ends with the
	// display failure: status 1 and the one message, nothing else.
	void expect_failure(const std::vector<std::string> &vars);
	// DISPLAY for this test's server, then `more`.
	std::vector<std::string> env(std::vector<std::string> more = {});
};

// A test under a headless Wayland compositor: its user (nobody when the
// tests run as root), an empty folder that user can reach, and a copy of
// dotfall there. Skipped only where the compositor is not installed.
struct OnWayland : ::testing::TestWithParam<wm> {
	uid_t user = geteuid() == 0 ? 65534 : 0;
	std::unique_ptr<compositor> c;
	fs::path dir;       // the folder to run in
	fs::path program;   // the copy of dotfall that `user` can run

	void SetUp() override;
	// dotfall's display window of width by height, once the window that
	// holds it (its parent_of, the one the window manager manages) is
	// outer_w by outer_h.
	Window wait_display(int width, int height, int outer_w, int outer_h);
	// Whether the window (or its frame) gets the X keyboard focus.
	bool wait_focus(Window w);
	// Types a key through the compositor, up to three times while the run
	// goes on (each wtype brings a keyboard and keymap of its own, and now
	// and then more than its first event is lost), and gives the run's exit
	// status, or -1.
	int key_status(run &r, KeySym sym);
};

#endif
