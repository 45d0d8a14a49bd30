// The desktops the end-to-end tests run dotfall on, one module each under
// desktops/, behind one interface: a desktop is a stack of layers (an X
// server, then perhaps a window manager, or a Wayland compositor with its
// XWayland; then perhaps Wine), and the matrix in desktops/matrix.cpp names
// each stack the tests use, one line each. A test names what it needs of a
// desktop and runs on every one that has it, without knowing which it is.
#ifndef DOTFALL_TESTS_DESKTOP_H
#define DOTFALL_TESTS_DESKTOP_H

#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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
	// The window manager never hears dotfall ask for full screen (the server
	// passes on no event of an untrusted client's to it): full screen is a
	// window there.
	NO_FULL_SCREEN = 1 << 10,
	REMOTE = 1 << 11,        // programs reach it over TCP, as through ssh -X (no mode switch)
};

struct desktop;

// One module: what it adds to the desktop below it and how. The operations
// left null are the layer's below (or the harness's XTest and XGetImage).
struct layer {
	const char *name;
	unsigned has;
	// Starts on what is there; false, with d->failure set, when it cannot.
	bool (*start)(desktop *d);
	void (*stop)(desktop *d);
	// Presses a key the way a user's key travels there, with `held` keys
	// held around it.
	bool (*press)(desktop *d, Window over, KeySym sym, const std::vector<KeySym> &held);
	// An area of the window as the user sees it.
	std::vector<uint32_t> (*picture)(desktop *d, Window w, XRectangle area);
	// What a run that failed to end needs explained (Wine: where its threads wait).
	std::string (*report)(desktop *d);
};

extern const layer XVFB, XORG, OPENBOX, XFWM4, SWAY, MUTTER, WINE_LAYER, WINE_DESKTOP, ARM64, UNTRUSTED;
extern const layer RELAY, XEPHYR, XVNC;

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

// A desktop that is up, or `failure` says why not. Its folder holds its
// files (logs, configuration, Wine's prefix) and goes with it.
struct desktop {
	const setup *s = nullptr;
	std::string failure;
	std::string display;          // its DISPLAY
	Display *dpy = nullptr;       // the tests' own connection
	int width, height;            // the screen asked for
	fs::path files;
	uid_t user = 0;               // who runs programs there (0: the tests' user)
	std::vector<std::string> env;       // the variables a program run there gets
	std::vector<std::string> program;   // how dotfall is started there
	int frame = 0;                // pixels Wine's frame adds inside its windows
	std::vector<pid_t> groups;    // the processes it started, ended last first
	// The modules' own.
	std::string wayland, xauthority, bus, prefix;
	int keys = -1;                // mutter: the pipe to the keyboard's process
	pid_t keyboard = -1;

	~desktop();
	bool has(unsigned what) const { return (s->has() & what) == what; }
	// Runs a program there (dotfall when argv is empty), in `dir`.
	run start(const fs::path &dir, std::vector<std::string> more = {}, std::vector<std::string> argv = {});
	bool press(Window over, KeySym sym, const std::vector<KeySym> &held = {});
	std::vector<uint32_t> picture(Window w, XRectangle area);
	std::string report();
	// Ends the desktop now, all of it, as when its server is killed.
	void end(int sig = SIGKILL);
};
std::unique_ptr<desktop> start_desktop(const setup &s, int width = 1024, int height = 768);

// For the modules: starts an X server with these arguments (and these
// variables) on a free display number and connects to it; lets a window
// manager or compositor that was just started come up, ready when it has
// framed a window of ours.
bool x_server(desktop *d, std::vector<std::string> argv, const std::vector<std::string> &env = {});
bool manager_ready(desktop *d);
// Reads, and closes, the pipe a server (or the relay) writes its display
// number to, with a newline after it; it gives up if the pipe closes first.
std::string display_number(int fd);
// Starts a headless Wayland compositor as the desktop's user (nobody when
// the tests run as root: sway refuses root) with `env` beside a runtime
// folder of its own, waits until `up` has read its names (d->wayland,
// d->display, d->xauthority) from its log, and connects to its XWayland as
// that user; dotfall runs from a copy that user can reach.
bool compositor(desktop *d, const std::vector<std::string> &argv, const std::vector<std::string> &env,
                std::function<bool(const std::string &log)> up);

// Wine's registry, in this desktop's prefix: `wine reg` with these
// arguments, and its server ended so that the change is saved.
bool wine_registry(desktop *d, const std::vector<std::string> &args);

// An empty folder on the desktop, that its user can reach.
fs::path run_folder(desktop &d);

// A test on one desktop, with an empty folder to run dotfall in that the
// desktop's user can reach.
struct On : ::testing::TestWithParam<const setup *> {
	std::unique_ptr<desktop> d;
	fs::path dir;
	// The screen, where the desktop takes one of any size. Full screen
	// under Wine on Xvfb, which switches no mode, is the screen's size.
	int screen_w = 1024, screen_h = 768;

	void SetUp() override;
	void TearDown() override;
	run start(std::vector<std::string> more = {}) { return d->start(dir, more); }
	// Waits for dotfall's display of width by height: the deepest window
	// showing a picture of that size.
	Window display(run &r, int width, int height);
	// Waits for the picture to settle, and checks that it shows the figure
	// exactly; `take` gives it with the display's top left at x0, y0.
	void expect_drawn(std::function<std::vector<uint32_t>()> take, int picture_w, int x0, int y0, const figure &f,
	                  uint32_t fg = WHITE, uint32_t bg = BLACK);
	// The same for the display's own picture.
	void expect_drawn(Window w, const figure &f, uint32_t fg = WHITE, uint32_t bg = BLACK);
	// Presses a key over the window, and checks the run ends on it with
	// `status`, says nothing, and its window goes.
	void expect_key_ends(run &r, Window over, KeySym sym, int status = 0, const std::vector<KeySym> &held = {});
	// Why a run that should have ended is still running.
	std::string why_running(run &r, int width, int height);
};

// The desktops that have all of `needs` and none of `without`.
::testing::internal::ParamGenerator<const setup *> desktops(unsigned needs, unsigned without = 0);
std::string setup_name(const ::testing::TestParamInfo<const setup *> &p);
// Runs a suite's tests on those desktops (on none, in a build that has none).
#define ON_DESKTOPS(suite, ...)                                                 \
	GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(suite);                   \
	INSTANTIATE_TEST_SUITE_P(, suite, desktops(__VA_ARGS__), setup_name)

#endif
