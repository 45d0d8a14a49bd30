// What the end-to-end tests share on any desktop: starting processes, waits,
// the X requests that find, read and drive a window (XTest), and the figure.
#ifndef DOTFALL_TESTS_HARNESS_H
#define DOTFALL_TESTS_HARNESS_H

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>
// Xlib defines macros (None, Bool, Status) that gtest must not see first.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>

namespace fs = std::filesystem;

extern const char MESSAGE[];

// Deadlines for a machine four times as busy as a quiet one: only what never comes fails.
const double START_SECONDS = 60;   // a server, a window, a process's end
const double DRAW_SECONDS = 480;   // a figure complete (Xephyr under load: 250 s)

inline void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Waits for a condition, checking every 20 ms, for at most `seconds`.
template <typename F>
bool wait_for(double seconds, F done)
{
	for (auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds); !done(); pause_ms(20))
		if (std::chrono::steady_clock::now() > end)
			return false;
	return true;
}

// A process in `dir`, with `env` (NAME=VALUE, or NAME to unset) after `clear`,
// as `user` if nonzero, its output into `out` (-1: /dev/null), `keep` left
// open; with `group`, the leader of a process group this process reaps all
// of. Signals at their defaults, as from a terminal; it dies with the tests.
struct spawn_how {
	fs::path dir;
	std::vector<std::string> env;
	bool clear = false;
	uid_t user = 0;
	int out = -1, keep = -1;
	bool group = false;
};
pid_t spawn(const std::vector<std::string> &argv, const spawn_how &how);

// A program run with its standard output and error gathered from one pipe.
struct run {
	pid_t pid = -1;
	int output_pipe = -1;   // the read end
	std::string output;     // what has come through it so far
	int status = -1;        // as waitpid gives it, once it has ended
	long peak_kb = 0;       // its peak resident memory, once it has ended

	run(const std::vector<std::string> &argv, spawn_how how);
	~run();
	bool running();
	// The exit status, or -1 after a signal or no end within `seconds`.
	int exit_status(double seconds = START_SECONDS);
};
// Runs a tool to its end: its exit status, and its output in *output.
int tool(const std::vector<std::string> &argv, const std::vector<std::string> &env = {}, std::string *output = nullptr);

// The window's children, bottom to top, and its parent (0 for the root).
std::vector<Window> children(Display *dpy, Window w, Window *parent = nullptr);
Window top_level(Display *dpy, Window w);   // the window below the root that holds w
// Whether an outer width by height holds width by height, with up to `frame`
// more each way (a frame drawn inside the window).
inline bool fits(int outer_w, int outer_h, int width, int height, int frame)
{
	return outer_w >= width && outer_h >= height && outer_w - width <= frame && outer_h - height <= frame;
}
// Below `under`, the deepest viewable window in front showing width by height
// (or within `frame` of it at the top level), or the one of a class.
Window find_window(Display *dpy, Window under, int width, int height, const char *cls = nullptr, int frame = 0);
// Any viewable top-level window (one of any size), or 0.
inline Window any_window(Display *dpy) { return find_window(dpy, DefaultRootWindow(dpy), 0, 0, nullptr, 1 << 30); }
// A window's place and size on the root window (a pixmap's size).
XRectangle geometry(Display *dpy, Window w);
inline bool same(const XRectangle &a, const XRectangle &b) { return memcmp(&a, &b, sizeof a) == 0; }
// The top-level window with the keyboard focus, or None or PointerRoot.
Window focused(Display *dpy);
// Maps another program's window there; waits for a window manager's frame.
Window other_window(Display *dpy, XRectangle at, bool managed);
// A message of that type about `about` sent to `to`, as a task bar or a
// window manager sends one, its one item `data`.
void send_message(Display *dpy, Window to, Window about, const char *type, long data, long mask);

// The screen's monitors (RandR 1.5), the primary one's index in *primary.
std::vector<XRectangle> monitors(Display *dpy, int *primary = nullptr);
// The video mode VidMode reports, "WxH" and its dot clock; "" without VidMode.
std::string video_mode(Display *dpy);

// The pixels of an area of the window, as 0xRRGGBB, row by row.
std::vector<uint32_t> grab(Display *dpy, Window w, XRectangle area);
// The area of width by height inside a frame drawn in the window: as wide on
// the left, right and bottom, the rest on top.
XRectangle inside_frame(Display *dpy, Window w, int width, int height);
void point_at(Display *dpy, Window w, int x, int y);   // XTest

// Where the chaos game goes from the display's centre with these points, by a
// search rather than by play: every position reachable, and those it returns to.
struct figure {
	int width, height;
	std::vector<bool> reachable, recurrent;   // over the display, row by row
};
figure chaos_figure(int width, int height, const int (&pts)[3][2]);
// The figure of the default points at that size.
inline figure default_figure(int w, int h) { return chaos_figure(w, h, { { w / 2, 0 }, { 0, h }, { w, h } }); }

const uint32_t WHITE = 0xffffff, BLACK = 0;

// Output without its line ends, as the message shows on a terminal.
inline std::string trimmed(const std::string &s) { return s.substr(0, s.find_last_not_of("\r\n") + 1); }
inline std::string slurp(const fs::path &file)
{
	std::ifstream in(file, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), {});
}
// Writes dotfall.ini into the folder, byte for byte.
inline void settings_file(const fs::path &dir, const std::string &text)
{
	std::ofstream(dir / "dotfall.ini", std::ios::binary) << text;
}
// The [screen] section of a settings file.
std::string screen_settings(int fullscreen, int width, int height);

// A folder's files, each with its time, size and bytes.
using folder_state = std::map<std::string, std::string>;
folder_state snapshot(const fs::path &dir);

#endif
