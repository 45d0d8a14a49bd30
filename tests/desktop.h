// The desktops dotfall is tested on: stacks of layers (an X server or Wayland
// compositor, perhaps a window manager or Wine), a module each in desktops/, a
// line each in desktops/matrix.cpp; a test runs on each that has what it needs.
#ifndef DOTFALL_TESTS_DESKTOP_H
#define DOTFALL_TESTS_DESKTOP_H

#include <functional>
#include <memory>
#include <optional>

#include "harness.h"

// What a desktop has, for a test to ask for.
enum : unsigned {
	MANAGED = 1 << 0,        // a window manager: its own full screen, frames, focus
	TWO_MONITORS = 1 << 1,   // side by side, the first primary
	MODE_SWITCH = 1 << 2,    // full screen switches the video mode
	MODES = 1 << 3,          // the monitor's mode can be changed under a run (RandR)
	COMPOSITOR = 1 << 4,     // X programs run through a Wayland compositor's XWayland
	WINE = 1 << 5,           // dotfall.exe under Wine
	VIRTUAL_DESKTOP = 1 << 6,   // Wine's, which imitates a mode switch
	SIZED = 1 << 7,          // its screen is the size the test asks for (Xvfb)
	EMULATED = 1 << 8,       // the arm64 build under qemu-user
	UNTRUSTED_CLIENT = 1 << 9,   // dotfall's connection is an untrusted one (ssh -X)
	REMOTE = 1 << 11,        // programs reach it over TCP, as through ssh -X (no mode switch)
};

struct desktop;

// One module: what it adds to the desktop below it. An operation left null is
// the layer's below (or the harness's XTest and XGetImage).
struct layer {
	const char *name;
	unsigned has;
	// Starts on what is there; false (d->failure may say why) when it cannot.
	bool (*start)(desktop *d);
	void (*stop)(desktop *d) = nullptr;
	// A key pressed the way a user's key travels there, `held` keys around it.
	bool (*press)(desktop *d, Window over, KeySym sym, const std::vector<KeySym> &held) = nullptr;
	// An area of the window as the user sees it.
	std::vector<uint32_t> (*picture)(desktop *d, Window w, XRectangle area) = nullptr;
	// What a run that failed to end needs explained (Wine: where its threads wait).
	std::string (*report)(desktop *d) = nullptr;
};

extern const layer XVFB, XORG, OPENBOX, XFWM4, SWAY, MUTTER, WINE_LAYER, WINE_DESKTOP, ARM64, UNTRUSTED, RELAY, XEPHYR, XVNC;

// A line of the matrix.
struct setup {
	const char *name;
	std::vector<const layer *> layers;
	int monitors = 1;                 // Xorg's, 1920x1080 each
	bool remote = false;              // Xorg reached over TCP, as ssh -X and VNC reach theirs
	int delay_ms = 0;                 // the relay's, each way
	unsigned has() const;
};
const std::vector<setup> &setups();   // those this build can run
const setup *find_setup(const std::string &name);

// A desktop that is up, or `failure` says why not; its files (logs,
// configuration, Wine's prefix) go with it.
struct desktop {
	const setup *s = nullptr;
	std::string failure;
	std::string display;          // its DISPLAY
	Display *dpy = nullptr;       // the tests' own connection
	int width, height;            // the screen asked for
	fs::path files;
	uid_t user = 0;               // who runs programs there (0: the tests' user)
	std::vector<std::string> env;       // the variables a program run there gets
	std::vector<std::string> program{ DOTFALL };   // how dotfall is started there
	int frame = 0;                // pixels Wine's frame adds inside its windows
	std::vector<pid_t> groups;    // the processes it started, ended last first
	// The modules' own.
	std::string wayland, xauthority, bus, prefix, session;
	struct sd_bus *session_bus = nullptr;   // mutter's, on which its RemoteDesktop session lives

	~desktop();
	bool has(unsigned what) const { return (s->has() & what) == what; }
	std::string size() const { return std::to_string(width) + "x" + std::to_string(height); }   // "WxH"
	// Runs a program there (dotfall when argv is empty), in `dir`.
	run start(const fs::path &dir, std::vector<std::string> more = {}, std::vector<std::string> argv = {});
	bool press(Window over, KeySym sym, const std::vector<KeySym> &held = {});
	std::vector<uint32_t> picture(Window w, XRectangle area);
	std::string report();
	std::string tree();   // its windows, for a test that found none
	// The viewable window of that class in front, in a frame or not, or 0.
	Window window_of(const char *cls) { return find_window(dpy, DefaultRootWindow(dpy), 0, 0, cls); }
	// Ends the desktop now, all of it, as when its server is killed.
	void end(int sig = SIGKILL);
};
std::unique_ptr<desktop> start_desktop(const setup &s, int width = 1024, int height = 768);
// For a layer that cannot start: false, and why in d->failure.
inline bool failed(desktop *d, const std::string &why) { return d->failure = why, false; }

// For the modules: an X server on a free display number, with the tests'
// connection to it; a window manager, with `more` variables, waited for.
bool x_server(desktop *d, std::vector<std::string> argv, const std::vector<std::string> &env = {});
bool window_manager(desktop *d, const std::vector<std::string> &argv, const std::vector<std::string> &more = {});
// Starts a server (or the relay) in a process group of the desktop's, a
// pipe's write end put in argv at `at`: the display number it writes there, or "".
std::string display_number(desktop *d, std::vector<std::string> argv, size_t at, spawn_how how);
// A headless Wayland compositor started as the desktop's user (nobody under
// root, which sway refuses) in a runtime folder of its own, up when `up` has
// read d->wayland, d->display and d->xauthority from its log; then the
// connection to its XWayland as that user, and dotfall copied where it can go.
bool compositor(desktop *d, const std::vector<std::string> &argv, const std::vector<std::string> &env,
                std::function<bool(const std::string &log)> up);
// Whether `f` succeeds as the desktop's user (effective only; root comes back).
bool as_user(desktop *d, std::function<bool()> f);

// `wine reg` with these arguments in the desktop's prefix, the change saved.
bool wine_registry(desktop *d, const std::vector<std::string> &args);

// An empty folder on the desktop, that its user can reach.
fs::path run_folder(desktop &d);

// A test on one desktop, with an empty folder to run dotfall in.
struct On : ::testing::TestWithParam<const setup *> {
	std::unique_ptr<desktop> d;
	fs::path dir;
	// The screen, where any size goes (Wine's full screen on Xvfb is its size).
	int screen_w = 1024, screen_h = 768;
	std::string mode;   // the video mode as the desktop came up
	std::optional<run> r;   // dotfall, as open() started it
	Window w = 0;           // and its display
	folder_state before;    // the folder it was started in, as it was

	void SetUp() override;
	run start(std::vector<std::string> more = {}) { return d->start(dir, more); }
	// Starts dotfall, with that settings file if given, and waits for its
	// display of width by height, asserting.
	void open(int width, int height, const std::optional<std::string> &settings = {});
	// Waits for the picture to show the figure exactly; `take` gives it
	// with the display's top left at x0, y0.
	void expect_drawn(std::function<std::vector<uint32_t>()> take, int picture_w, int x0, int y0, const figure &f,
	                  uint32_t fg = WHITE, uint32_t bg = BLACK);
	// The same for the display's own picture.
	void expect_drawn(Window w, const figure &f, uint32_t fg = WHITE, uint32_t bg = BLACK);
	// A key pressed over the window ends the run with `status`, silently,
	// and its window goes.
	void expect_key_ends(run &r, Window over, KeySym sym, int status = 0, const std::vector<KeySym> &held = {});
	// Why a run that should have ended is still running.
	std::string why_running(run &r, int width, int height);
};

// The desktops that have all of `needs` and none of `without`.
::testing::internal::ParamGenerator<const setup *> desktops(unsigned needs, unsigned without = 0);
// Runs a suite's tests on those desktops (on none, in a build that has none),
// each named by its desktop.
#define ON_DESKTOPS(suite, ...)                                                 \
	GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(suite);                   \
	INSTANTIATE_TEST_SUITE_P(, suite, desktops(__VA_ARGS__),                \
	                         [](const auto &p) { return std::string(p.param->name); })

#endif
