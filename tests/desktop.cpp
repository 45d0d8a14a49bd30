// A desktop as a stack of layers, and the test on one: see desktop.h.
#include "desktop.h"

#include <cerrno>

unsigned setup::has() const
{
	unsigned all = 0;
	for (const layer *l : layers)
		all |= l->has;
	// The library switches modes only on a local, unmanaged server.
	if (remote || (all & (MANAGED | REMOTE)))
		all &= ~MODE_SWITCH;
	return all | (monitors > 1 ? (unsigned)TWO_MONITORS : 0u);
}

std::unique_ptr<desktop> start_desktop(const setup &s, int width, int height)
{
	auto d = std::make_unique<desktop>();
	d->s = &s;
	d->width = width, d->height = height;
	char tmpl[] = "/tmp/dotfall-desktop-XXXXXX";
	if (!mkdtemp(tmpl)) {
		d->failure = "no folder for the desktop";
		return d;
	}
	d->files = tmpl;
	// Windows come and go under the tests' feet; a request on one that has
	// gone must not end the tests, as Xlib's default handler would.
	XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
	for (const layer *l : s.layers)
		if (!l->start(d.get())) {
			if (d->failure.empty())
				d->failure = std::string(l->name) + " did not start";
			break;
		}
	return d;
}

void desktop::end(int sig)
{
	for (auto l = s->layers.rbegin(); l != s->layers.rend(); ++l)
		if ((*l)->stop)
			(*l)->stop(this);
	if (dpy)   // or Xlib ends this process when the server goes
		XCloseDisplay(std::exchange(dpy, nullptr));
	// Each process group waited for whole (reaped child by child), or killed.
	for (auto g = groups.rbegin(); g != groups.rend(); ++g) {
		kill(-*g, sig);
		if (!wait_for(START_SECONDS, [&] { return waitpid(-*g, nullptr, WNOHANG) < 0; }))
			kill(-*g, SIGKILL);
		while (waitpid(-*g, nullptr, 0) > 0 || errno == EINTR)
			;
	}
	groups.clear();
}

desktop::~desktop()
{
	end(SIGTERM);
	std::error_code ignored;   // a folder left in /tmp is no reason to end the tests
	if (!files.empty())
		fs::remove_all(files, ignored);
}

run desktop::start(const fs::path &dir, std::vector<std::string> more, std::vector<std::string> argv)
{
	more.insert(more.begin(), env.begin(), env.end());
	return run(argv.empty() ? program : argv, { dir, more, false, user });
}

// The topmost layer's operation of that name, or none.
template <typename F>
static F top(const setup *s, F layer::*op)
{
	auto l = std::find_if(s->layers.rbegin(), s->layers.rend(), [&](const layer *x) { return x->*op; });
	return l == s->layers.rend() ? nullptr : (*l)->*op;
}

bool desktop::press(Window over, KeySym sym, const std::vector<KeySym> &held)
{
	if (auto op = top(s, &layer::press))
		return op(this, over, sym, held);
	// XTest, the pointer over the window. A key goes nowhere before Wine has
	// activated its window (focused it, or left the focus to the pointer), or
	// before a window manager has focused a managed (not override-redirect) one.
	XWindowAttributes outer = {};
	point_at(dpy, over, geometry(dpy, over).width / 2, geometry(dpy, over).height / 2);
	XGetWindowAttributes(dpy, top_level(dpy, over), &outer);
	if (has(WINE) || !outer.override_redirect)
		wait_for(START_SECONDS, [&] { return focused(dpy) == PointerRoot || focused(dpy) == top_level(dpy, over); });
	auto key = [&](KeySym k, bool down) { XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, k), down, 0); };
	for (KeySym k : held)
		key(k, true);
	key(sym, true);
	XSync(dpy, False);
	pause_ms(20);
	key(sym, false);
	for (KeySym k : held)
		key(k, false);
	XSync(dpy, False);
	return true;
}

std::vector<uint32_t> desktop::picture(Window w, XRectangle area)
{
	auto op = top(s, &layer::picture);
	return op ? op(this, w, area) : grab(dpy, w, area);
}

std::string desktop::report()
{
	auto op = top(s, &layer::report);
	return op ? op(this) : "";
}

std::string desktop::tree()
{
	run r = start(files, {}, { "xwininfo", "-root", "-tree" });
	r.exit_status();
	return "\n" + r.output;
}

std::string display_number(desktop *d, std::vector<std::string> argv, size_t at, spawn_how how)
{
	int fds[2];
	if (pipe2(fds, O_CLOEXEC) != 0)
		return "";
	argv.insert(argv.begin() + at, std::to_string(fds[1]));
	how.keep = fds[1], how.group = true;
	d->groups.push_back(spawn(argv, how));
	close(fds[1]);
	std::string number;
	char c;
	while (read(fds[0], &c, 1) == 1 && c != '\n')
		number += c;
	close(fds[0]);
	return number;
}

bool x_server(desktop *d, std::vector<std::string> argv, const std::vector<std::string> &env)
{
	argv.insert(argv.begin() + 1, "-displayfd");
	const fs::path log = d->files / (argv[0] + ".log");
	const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	const std::string number = display_number(d, argv, 2, { "/", env, false, 0, out });
	close(out);
	if (number.empty())
		return failed(d, argv[0] + " did not start: " + slurp(log));
	d->display += ":" + number;
	d->env.push_back("DISPLAY=" + d->display);
	d->dpy = XOpenDisplay(d->display.c_str());
	if (!d->dpy)
		d->failure = "no connection to " + argv[0] + " on " + d->display + ": " + slurp(log);
	return d->dpy != nullptr;
}

// A window manager is ready when it has framed a window, not when it is named.
bool window_manager(desktop *d, const std::vector<std::string> &argv, const std::vector<std::string> &more)
{
	std::vector<std::string> env = d->env;
	env.insert(env.end(), more.begin(), more.end());
	d->groups.push_back(spawn(argv, { "/", env, false, 0, -1, -1, true }));
	const Window probe = other_window(d->dpy, { 0, 0, 1, 1 }, true);
	const bool ready = top_level(d->dpy, probe) != probe;
	XDestroyWindow(d->dpy, probe);
	XSync(d->dpy, False);
	return ready;
}

const setup *find_setup(const std::string &name)
{
	auto s = std::find_if(setups().begin(), setups().end(), [&](const setup &s) { return name == s.name; });
	return s == setups().end() ? nullptr : &*s;
}

fs::path run_folder(desktop &d)
{
	const fs::path dir = d.files / "run";
	fs::create_directory(dir);
	return d.user && chown(dir.c_str(), d.user, d.user) != 0 ? fs::path() : dir;
}

void On::SetUp()
{
	d = start_desktop(*GetParam(), screen_w, screen_h);
	ASSERT_EQ(d->failure, "");
	mode = video_mode(d->dpy);
	dir = run_folder(*d);
	ASSERT_FALSE(dir.empty()) << "no folder for the run";
}

// The display inside the window of dotfall's class (Wine's: the exe name), or
// that window with Wine's frame in it: not a manager's frame of that size.
static Window find_display(desktop *d, int width, int height)
{
	const Window top = d->window_of(d->has(WINE) ? "dotfall.exe" : "dotfall");
	if (Window inside = find_window(d->dpy, top, width, height))
		return inside;
	const XRectangle g = geometry(d->dpy, top);
	return top && fits(g.width, g.height, width, height, d->frame) ? top : 0;
}

void On::open(int width, int height, const std::optional<std::string> &settings)
{
	if (settings)
		settings_file(dir, *settings);
	before = snapshot(dir);
	r.emplace(d->program, spawn_how{ dir, d->env, false, d->user });
	wait_for(START_SECONDS, [&] { return (w = find_display(d.get(), width, height)) != 0 || !r->running(); });
	ASSERT_NE(w, 0u) << "no " << width << "x" << height << " display; " << (r->running() ? "running" : "ended")
	                 << ", " << r->output << d->tree();
}

void On::expect_drawn(std::function<std::vector<uint32_t>()> take, int picture_w, int x0, int y0, const figure &f,
                      uint32_t fg, uint32_t bg)
{
	// Pixels in neither colour (or not black outside the display), lit where
	// the game cannot go, and figure pixels drawn of those wanted.
	int foreign = 0, stray = 0, drawn = 0, wanted = 0;
	wait_for(DRAW_SECONDS, [&] {
		const auto looked = std::chrono::steady_clock::now();
		const std::vector<uint32_t> px = take();
		foreign = stray = drawn = wanted = 0;
		if (px.empty())   // not readable (yet)
			return false;
		for (size_t i = 0; i < px.size(); i++) {
			const int x = (int)(i % picture_w) - x0, y = (int)(i / picture_w) - y0;
			const bool in = x >= 0 && y >= 0 && x < f.width && y < f.height;
			const size_t j = in ? (size_t)y * f.width + x : 0;
			foreign += in ? px[i] != fg && px[i] != bg : px[i] != 0;
			stray += in && px[i] == fg && !f.reachable[j];
			drawn += in && px[i] == fg && f.recurrent[j];
			wanted += in && f.recurrent[j];
		}
		const bool done = stray == 0 && foreign == 0 && drawn >= wanted * 0.98;
		if (!done)   // looks take a fifth of the time at most: the drawing needs it
			std::this_thread::sleep_for(4 * (std::chrono::steady_clock::now() - looked));
		return done;
	});
	EXPECT_EQ(foreign, 0) << "pixels in neither colour";
	EXPECT_EQ(stray, 0) << "pixels lit that the chaos game cannot reach";
	EXPECT_GT(wanted, 1000);
	EXPECT_GE(drawn, wanted * 0.98) << drawn << " of " << wanted << " figure pixels drawn";
}

void On::expect_drawn(Window w, const figure &f, uint32_t fg, uint32_t bg)
{
	const XRectangle area = inside_frame(d->dpy, w, f.width, f.height);
	expect_drawn([&] { return d->picture(w, area); }, f.width, 0, 0, f, fg, bg);
}

void On::expect_key_ends(run &r, Window over, KeySym sym, int status, const std::vector<KeySym> &held)
{
	const XRectangle g = geometry(d->dpy, over);
	EXPECT_TRUE(d->press(over, sym, held)) << "the key could not be sent";
	EXPECT_EQ(r.exit_status(), status) << why_running(r, g.width, g.height);
	EXPECT_EQ(r.output, "");
	// The server takes the window away as it sees the connection close: a
	// run started next must not find this one's.
	EXPECT_TRUE(wait_for(START_SECONDS, [&] { return geometry(d->dpy, over).width == 0; }))   // no size: gone
		<< "the window stayed";
}

std::string On::why_running(run &r, int width, int height)
{
	if (!r.running())
		return "status " + std::to_string(r.status);
	return find_display(d.get(), width, height) ? "the display is still shown"
	                                            : "the display has gone, the process not\n" + d->report();
}

::testing::internal::ParamGenerator<const setup *> desktops(unsigned needs, unsigned without)
{
	std::vector<const setup *> picked;
	for (const setup &s : setups())
		if ((s.has() & needs) == needs && !(s.has() & without))
			picked.push_back(&s);
	return ::testing::ValuesIn(picked);
}
