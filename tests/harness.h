// What the end-to-end tests share, whatever desktop they run on: the one way
// to start a process, a run of a program with its output gathered, waits,
// the X requests that find a window, read it back and send it real input
// (XTest), and the search that works out the figure the chaos game draws.
#ifndef DOTFALL_TESTS_HARNESS_H
#define DOTFALL_TESTS_HARNESS_H

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>
// Xlib defines macros (None, Bool, Status) that gtest must not see first.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace fs = std::filesystem;

extern const char MESSAGE[];

// Deadlines, long enough for a machine four times as busy as a quiet one:
// they pass or fail nothing on speed, only on what never comes.
const double START_SECONDS = 60;   // a server, a window, a process's end
const double DRAW_SECONDS = 240;   // a figure complete

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

// How a process is started: in `dir`, with these variables (NAME=VALUE, or
// NAME alone to unset it) after `clear` emptied the environment, as `user`
// (and the group of that number) when nonzero, its standard output and
// error into `out` (-1: /dev/null), keeping the descriptor `keep` open, and
// as the leader of a process group of its own that this process reaps all
// of (a server and what it starts). Signals start at their defaults, as from
// a terminal; every process dies with the tests.
struct spawn_how {
	fs::path dir;
	std::vector<std::string> env;
	bool clear = false;
	uid_t user = 0;
	int out = -1, keep = -1;
	bool group = false;
};
pid_t spawn(const std::vector<std::string> &argv, const spawn_how &how);
// Ends a process group and waits for all of it; one still there after
// START_SECONDS is killed.
void end_group(pid_t leader, int sig);

// A program run with its standard output and error gathered from one pipe.
struct run {
	pid_t pid = -1;
	int output_pipe = -1;   // the read end
	std::string output;     // what has come through it so far
	int status = -1;        // as waitpid gives it, once it has ended
	long peak_kb = 0;       // its peak resident memory, once it has ended

	run(const std::vector<std::string> &argv, spawn_how how);
	run(run &&o) noexcept;
	~run();
	bool running();
	// The exit status, or -1 after a signal or no end within `seconds`.
	int exit_status(double seconds = START_SECONDS);
};
// Runs a tool to its end: its exit status, and its output in *output.
int tool(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
         std::string *output = nullptr);

// The window's children, bottom to top, and its parent in *parent (0 when
// that is the root): the one query of the window tree that everything else
// goes through. Empty, and 0, for a window that has gone.
std::vector<Window> children(Display *dpy, Window w, Window *parent = nullptr);
Window parent_of(Display *dpy, Window w);
Window top_level(Display *dpy, Window w);   // the window below the root that holds w
// The deepest viewable window in front showing a picture of width by height (or up
// to `frame` pixels more, at the top level: a frame drawn inside it) below
// `under`; or with a class, the viewable top-level window of that class.
Window find_window(Display *dpy, Window under, int width, int height, const char *cls = nullptr, int frame = 0);
// Any viewable top-level window, or 0.
Window any_window(Display *dpy);
// The windows below `under`, a few levels down, one a line: what a test that
// found no display shows.
std::string window_tree(Display *dpy, Window under = 0, int depth = 0);
// A window's place and size on the root window.
XRectangle geometry(Display *dpy, Window w);
bool same(const XRectangle &a, const XRectangle &b);
// The top-level window with the keyboard focus, or 0.
Window focused(Display *dpy);
// Maps a window of another program's at this place and size, and waits until
// a window manager, if there is one, has framed it.
Window other_window(Display *dpy, XRectangle at, bool managed);

// The screen's monitors (RandR 1.5) in RandR's order, the primary one's
// index in *primary.
std::vector<XRectangle> monitors(Display *dpy, int *primary = nullptr);
// The video mode VidMode reports, "WxH" and its dot clock; "" without VidMode.
std::string video_mode(Display *dpy);
// The outputs, modes and places as `xrandr --current` tells them.
std::string randr_layout(const std::string &display);

// The pixels of an area of the window, as 0xRRGGBB, row by row.
std::vector<uint32_t> grab(Display *dpy, Window w, XRectangle area);
// The area of width by height inside any frame drawn in the window: as wide
// on the left, right and bottom, the rest on top.
XRectangle inside_frame(Display *dpy, Window w, int width, int height);
void point_at(Display *dpy, Window w, int x, int y);
// XTest: the pointer over `over` (without a window manager the focus follows
// it), the focus on its top level where something gives it focus, and a key
// pressed and released, with `held` keys held around it.
void press_key(Display *dpy, Window over, KeySym sym, const std::vector<KeySym> &held = {});

// Where the chaos game can go from the display's centre with these points,
// worked out by a search over positions rather than by playing it: every
// position reachable at all, and those it keeps coming back to.
struct figure {
	int width, height;
	std::vector<bool> reachable, recurrent;   // over the display, row by row
};
figure chaos_figure(int width, int height, const int (&pts)[3][2]);
// The figure of the default points at that size.
figure default_figure(int width, int height);

// How a picture of picture_w columns, holding the display with its top left
// corner at (x0, y0), compares with the figure: pixels in neither colour (or
// not black outside the display), lit pixels the game cannot reach, figure
// pixels drawn of those wanted.
struct figure_match {
	int foreign = 0, stray = 0, drawn = 0, wanted = 0;
	// The figure whole and clean.
	bool settled() const { return stray == 0 && foreign == 0 && drawn >= wanted * 0.98; }
};
figure_match match_figure(const std::vector<uint32_t> &px, int picture_w, int x0, int y0, const figure &f,
                          uint32_t fg, uint32_t bg);

const uint32_t WHITE = 0xffffff, BLACK = 0;

// Output without its line ends, as the message shows on a terminal.
std::string trimmed(const std::string &output);
std::string slurp(const fs::path &file);
// Writes dotfall.ini into the folder, byte for byte.
void settings_file(const fs::path &dir, const std::string &text);
// The [screen] section of a settings file.
std::string screen_settings(int fullscreen, int width, int height);

// A folder's files with their sizes, times and bytes.
struct folder_state {
	std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> files;
	std::map<std::string, std::string> bytes;
	bool operator==(const folder_state &o) const { return files == o.files && bytes == o.bytes; }
};
folder_state snapshot(const fs::path &dir);

#endif
