// How fast dotfall draws, against the limits of the library and of the
// machine, in one table. The display rows run the built dotfall itself on a
// private Xvfb server, its rand() calls (one a step) counted by a preloaded
// library, and once full screen under headless sway's XWayland; the memory
// rows are Google Benchmark runs in this process.
//
// Usage: dotfall_bench [--smoke | ROUNDS]   (--smoke: one short round of each,
// no verdict; ROUNDS: rounds of the display rows, 9 by default). The exit
// status is 0 for a verdict of PASS, 1 for FAIL, 3 for NOT RESOLVED.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench.h"
#include "harness.h"
#include <X11/extensions/XTest.h>

namespace {

using seconds = std::chrono::duration<double>;

double now()
{
	return seconds(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct spread {
	double median, low, high;
	size_t rounds;
};

spread summarize(std::vector<double> v)
{
	if (v.empty())
		return { 0, 0, 0, 0 };
	std::sort(v.begin(), v.end());
	size_t n = v.size();
	return { n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2, v.front(), v.back(), n };
}

// The median of the paired ratios a[i] / b[i] and its 95 % confidence
// interval, from the sign test: the k-th smallest and largest ratios, k as
// large as keeps the chance of the median falling outside at most 5 %. The
// rounds' pairs share the machine's drift, which cancels in each ratio, and
// a round that another program disturbed moves the interval by one place at
// most, not by its size.
struct interval {
	double mean, low, high;
	size_t n;
};

interval paired(const std::vector<double> &a, const std::vector<double> &b)
{
	std::vector<double> r;
	for (size_t i = 0; i < a.size() && i < b.size(); i++)
		if (a[i] > 0 && b[i] > 0)
			r.push_back(a[i] / b[i]);
	const size_t n = r.size();
	if (n < 6)   // too few for a 95 % interval
		return { 0, 0, 0, n };
	std::sort(r.begin(), r.end());
	// P(at most k-1 of n fair coins come up heads), doubled, must stay
	// under 5 %.
	size_t k = 0;
	double tail = 0, term = std::pow(0.5, double(n));   // P(exactly j heads), from j = 0
	for (size_t j = 0; 2 * (tail + term) <= 0.05; j++) {
		tail += term;
		term = term * double(n - j) / double(j + 1);
		k = j + 1;
	}
	const double median = n % 2 ? r[n / 2] : (r[n / 2 - 1] + r[n / 2]) / 2;
	return { median, r[k - 1], r[n - k], n };
}

// A run's steps a second, and the processor time it spent a step.
struct pace {
	double rate, cpu_ns;
};

// One folder and one X server for all the display runs.
struct bench_display {
	xserver x;
	fs::path dir;

	bench_display()
	{
		char tmpl[] = "/tmp/dotfall-bench-XXXXXX";
		dir = mkdtemp(tmpl);
	}
	~bench_display() { fs::remove_all(dir); }

	void settings(int width, int height, bool fullscreen)
	{
		std::ofstream(dir / "dotfall.ini") << "[screen]\nfullscreen = " << fullscreen << "\nscreenw = " << width
		                                   << "\nscreenh = " << height << "\n";
	}

	Window wait_shown(run &r, int width, int height)
	{
		Window w = 0;
		while (r.running() && !(w = find_window(x.dpy, DefaultRootWindow(x.dpy), width, height)))
			pause_ms(1);
		return w;
	}

	// Steps a second of `program` on a 640x480 display, and the processor
	// time of the whole process a step, over `length` seconds of drawing
	// after `warm_up` seconds; 0 if it did not run.
	pace steps_per_second(const std::string &program, bool fullscreen, double warm_up, double length)
	{
		const fs::path steps = dir / "steps";
		settings(640, 480, fullscreen);
		fs::remove(steps);
		run r(dir, { "DISPLAY=" + x.name, "LD_PRELOAD=" COUNT_RAND, "DOTFALL_STEPS_FILE=" + steps.string() },
		      0, program);
		Window w = wait_shown(r, 640, 480);
		if (!w)
			return { 0, 0 };
		pause_ms(int((warm_up + length) * 1000));
		press_key(x.dpy, w, XK_space);
		r.exit_status(10);
		// A note every 65536 steps; the rate over the notes after the warm-up.
		std::vector<double> notes, cpu;
		std::ifstream in(steps);
		for (double t, c; in >> t >> c;)
			notes.push_back(t), cpu.push_back(c);
		fs::remove(steps);
		size_t from = 0;
		while (from < notes.size() && notes[from] < notes.front() + warm_up)
			from++;
		if (notes.size() < from + 2)
			return { 0, 0 };
		// The cost a step in the cheapest quarter of the stretches between
		// notes: other programs on the machine make a stretch dearer (the
		// caches, the switches between them), never cheaper.
		std::vector<double> costs;
		for (size_t i = from + 1; i < notes.size(); i++)
			costs.push_back(1e9 * (cpu[i] - cpu[i - 1]) / 65536);
		std::sort(costs.begin(), costs.end());
		return { 65536.0 * (notes.size() - from - 1) / (notes.back() - notes[from]), costs[costs.size() / 4] };
	}

	// The time at which 95 % of figure f is drawn in white on w, looking
	// every `pause` milliseconds; 0 if the run ends or `deadline` passes first.
	double until_drawn(Display *dpy, run &r, Window w, int width, int height, const figure &f, double deadline,
	                   int pause)
	{
		const long wanted = std::count(f.recurrent.begin(), f.recurrent.end(), true);
		while (r.running() && now() < deadline) {
			std::vector<uint32_t> px = grab(dpy, w, width, height);
			long drawn = 0;
			for (size_t i = 0; i < px.size(); i++)
				drawn += px[i] == 0xffffff && f.recurrent[i];
			if (drawn >= wanted * 0.95)
				return now();
			pause_ms(pause);
		}
		return 0;
	}

	// Seconds from starting dotfall until 95 % of the default figure is on
	// the display, and from a key press until it has exited.
	std::pair<double, double> start_and_stop(bool fullscreen)
	{
		static const figure f = chaos_figure(640, 480, { { 320, 0 }, { 0, 480 }, { 640, 480 } });
		settings(640, 480, fullscreen);

		const double start = now();
		run r(dir, { "DISPLAY=" + x.name });
		Window w = wait_shown(r, 640, 480);
		const double drawn = w ? until_drawn(x.dpy, r, w, 640, 480, f, start + 1e9, 0) : 0, shown = drawn ? drawn - start : 0;

		point_at(x.dpy, w, 0, 0);
		const KeyCode space = XKeysymToKeycode(x.dpy, XK_space);
		const double pressed = now();
		XTestFakeKeyEvent(x.dpy, space, True, 0);
		XFlush(x.dpy);
		while (r.running() && now() - pressed < 10)
			std::this_thread::sleep_for(std::chrono::microseconds(200));
		const double stopped = now() - pressed;
		XTestFakeKeyEvent(x.dpy, space, False, 0);
		XSync(x.dpy, False);
		return { shown, r.status == 0 ? stopped : 0 };
	}

#ifdef DOTFALL_EXE
	// dotfall.exe under Wine, drawing the default figure at 640x480 in a
	// window on `on`, or full screen, which Wine on Xvfb does only at the
	// screen's own size: seconds from its start until its window is shown
	// and until 95 % of the figure is on it, and from a key until it has
	// exited (0 for any that did not happen).
	std::vector<double> under_wine(xserver &on, bool fullscreen)
	{
		static const figure f = chaos_figure(640, 480, { { 320, 0 }, { 0, 480 }, { 640, 480 } });
		settings(640, 480, fullscreen);

		const double start = now();
		run r(dir, { "DISPLAY=" + on.name, "WINEPREFIX=" WINE_PREFIX_DIR }, 0, DOTFALL_EXE);
		Window w = 0;
		while (r.running() && now() - start < 60 &&
		       !(w = find_window(on.dpy, DefaultRootWindow(on.dpy), 0, 0, "dotfall.exe")))
			pause_ms(1);
		const double shown = w ? now() - start : 0;
		if (!w)
			return { 0, 0, 0 };
		const double drawn = until_drawn(on.dpy, r, w, 640, 480, f, start + 60, 0), filled = drawn ? drawn - start : 0;
		press_key(on.dpy, w, XK_space);
		const double pressed = now();
		const double stopped = r.exit_status(10) == 0 ? now() - pressed : 0;
		return { shown, filled, stopped };
	}
#endif

	// dotfall full screen under headless sway, through its XWayland: seconds
	// from its start until 95 % of the default figure is on its display (0 if
	// that did not happen within a minute). A key typed through the
	// compositor ends the run.
	double under_sway(compositor &c, const fs::path &program)
	{
		static const figure f = chaos_figure(640, 480, { { 320, 0 }, { 0, 480 }, { 640, 480 } });
		const double start = now();
		run r(c.runtime, c.env(), c.user, program);
		Window w = 0;
		while (r.running() && now() - start < 10 && !(w = find_window(c.dpy, DefaultRootWindow(c.dpy), 640, 480)))
			pause_ms(1);
		const double drawn = w ? until_drawn(c.dpy, r, w, 640, 480, f, start + 60, 0) : 0;
		c.type(XK_space);
		r.exit_status(10);
		return drawn ? drawn - start : 0;
	}

	// Peak resident memory of dotfall, in MiB, drawing in a window of this size.
	double peak_mib(int width, int height, double length)
	{
		settings(width, height, false);
		run r(dir, { "DISPLAY=" + x.name });
		Window w = wait_shown(r, width, height);
		if (!w)
			return 0;
		pause_ms(int(length * 1000));
		press_key(x.dpy, w, XK_space);
		return r.exit_status(10) == 0 ? r.peak_kb / 1024.0 : 0;
	}
};

void row(const char *number, const char *what, spread s, const char *unit, double scale = 1)
{
	std::printf("| %s | %s | %.3g %s | %.3g to %.3g | %zu |\n", number, what, s.median * scale, unit,
	            s.low * scale, s.high * scale, s.rounds);
}

} // namespace

int main(int argc, char **argv)
{
	const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
	const int rounds = smoke ? 1 : argc > 1 ? std::atoi(argv[1]) : 9;
	// The smoke run's second of drawing still holds the two notes a rate
	// needs (one every 65536 steps) on a machine busy enough to draw a
	// tenth of its usual pace; in 0.2 s it sometimes held none.
	const double warm_up = smoke ? 0.1 : 0.5, length = smoke ? 1.0 : 1.5;

	auto memory = run_memory_benchmarks(smoke);

	bench_display d;
	if (!d.x.dpy) {
		std::fprintf(stderr, "dotfall_bench: Xvfb did not start\n");
		return 2;
	}
	// The program, its yardstick and the loop as it was before its batches,
	// each in a window [0] and full screen [1].
	const char *programs[3] = { DOTFALL, INLINE_LOOP, UNBATCHED_LOOP };
	std::vector<double> rate[3][2], cpu[3][2];
	std::vector<double> start_w, start_f, stop, small, large;
	for (int i = 0; i < rounds; i++) {
		// Each round runs the three in turn, starting with another each
		// round, so that drift in the machine falls on all alike.
		for (int fullscreen = 0; fullscreen < 2; fullscreen++)
			for (int k = 0; k < 3; k++) {
				const int p = (i + k) % 3;
				pace t = d.steps_per_second(programs[p], fullscreen, warm_up, length);
				rate[p][fullscreen].push_back(t.rate);
				cpu[p][fullscreen].push_back(t.cpu_ns);
			}
		for (bool fullscreen : { false, true }) {
			auto [shown, stopped] = d.start_and_stop(fullscreen);
			(fullscreen ? start_f : start_w).push_back(shown);
			stop.push_back(stopped);
		}
		small.push_back(d.peak_mib(640, 480, length / 4));
		large.push_back(d.peak_mib(1920, 1080, length / 4));
	}
	// Full screen under sway, where it is a window made full screen by the
	// compositor, from a copy of dotfall that its user (nobody, as root) can
	// reach; not measured where sway is not installed.
	std::vector<double> sway_filled;
	const bool have_sway = access("/usr/bin/sway", X_OK) == 0 && access("/usr/bin/wtype", X_OK) == 0;
	if (have_sway) {
		compositor c(wm::sway, geteuid() == 0 ? 65534 : 0);
		if (!c.failure.empty()) {
			std::fprintf(stderr, "dotfall_bench: %s\n", c.failure.c_str());
			return 2;
		}
		const fs::path program = c.runtime / "dotfall";
		fs::copy_file(DOTFALL, program);
		chmod(program.c_str(), 0755);
		for (int i = 0; i < (smoke ? 1 : 5); i++)
			if (double t = d.under_sway(c, program))
				sway_filled.push_back(t);
	}

	// A start that never shows its window, or a key that does not end the
	// run, is counted, not timed.
#ifdef DOTFALL_EXE
	xserver screen640(640, 480);
	std::vector<double> wine_shown[2], wine_filled[2], wine_drawing[2], wine_stop;
	const int wine_rounds = smoke ? 1 : 5;
	for (int i = 0; i < wine_rounds; i++)
		for (int fullscreen = 0; fullscreen < 2; fullscreen++) {
			std::vector<double> t = d.under_wine(fullscreen ? screen640 : d.x, fullscreen);
			if (t[0] > 0)
				wine_shown[fullscreen].push_back(t[0]);
			if (t[1] > 0) {
				wine_filled[fullscreen].push_back(t[1]);
				wine_drawing[fullscreen].push_back(t[1] - t[0]);
			}
			if (t[2] > 0)
				wine_stop.push_back(t[2]);
		}
#endif

	auto both = [](const std::vector<double> (&v)[2]) {
		std::vector<double> all = v[0];
		all.insert(all.end(), v[1].begin(), v[1].end());
		return all;
	};
	const spread w = summarize(rate[0][0]), f = summarize(rate[0][1]), mem = summarize(memory["memory_bitmap"]),
	             bare = summarize(memory["bare_loop"]);
	const spread plain = summarize(memory["rand"]), counted = summarize(memory["counted_rand"]);
	// What counting adds to a step, against what a step on the display costs:
	// from the fastest repetition of each, the one least disturbed by other
	// programs, as a few nanoseconds is all there is to see.
	const double count_ns = counted.high > 0 ? 1e9 / counted.high - 1e9 / plain.high : 0;
	const double count_share = w.median > 0 ? count_ns / (1e9 / w.median) : 0;

	std::printf("| | measure | median | spread | rounds |\n|---|---|---|---|---|\n");
	row("1", "dotfall's loop on the display, 640x480 window", w, "M steps/s", 1e-6);
	row("1", "dotfall's loop on the display, 640x480 full screen", f, "M steps/s", 1e-6);
	row("", "the same calls inline, 640x480 window", summarize(rate[1][0]), "M steps/s", 1e-6);
	row("", "the same calls inline, 640x480 full screen", summarize(rate[1][1]), "M steps/s", 1e-6);
	row("", "inline, a key test every step (the loop before), window", summarize(rate[2][0]), "M steps/s", 1e-6);
	row("", "inline, a key test every step (the loop before), full screen", summarize(rate[2][1]), "M steps/s",
	    1e-6);
	row("1", "dotfall's processor time a step, window and full screen", summarize(both(cpu[0])), "ns");
	row("", "the same calls inline", summarize(both(cpu[1])), "ns");
	row("", "inline, a key test every step (the loop before)", summarize(both(cpu[2])), "ns");
	row("2", "dotfall's step into a memory bitmap", mem, "M steps/s", 1e-6);
	row("3", "bare arithmetic and rand() into an array", bare, "M steps/s", 1e-6);
	std::printf("| 4 | display / memory bitmap (1/2), window | %.2f %% | | |\n", 100 * w.median / mem.median);
	std::printf("| 4 | display / bare loop (1/3), window | %.2f %% | | |\n", 100 * w.median / bare.median);
	row("5", "start to 95 % of the figure on screen, window", summarize(start_w), "ms", 1e3);
	row("5", "start to 95 % of the figure on screen, full screen", summarize(start_f), "ms", 1e3);
	if (have_sway)
		row("5", "start to 95 % of the figure on screen, full screen under headless sway (XWayland)",
		    summarize(sway_filled), "s");
	else
		std::printf("| 5 | full screen under headless sway: sway or wtype is not installed | | | |\n");
	row("6", "key press to process exit", summarize(stop), "ms", 1e3);
	row("7", "peak resident memory, 640x480 window", summarize(small), "MiB");
	row("7", "peak resident memory, 1920x1080 window", summarize(large), "MiB");
#ifdef DOTFALL_EXE
	for (int fullscreen = 0; fullscreen < 2; fullscreen++) {
		const char *kind = fullscreen ? "640x480 full screen" : "640x480 window";
		char what[128];
		std::snprintf(what, sizeof what, "dotfall.exe under Wine on Xvfb, %s: start to window shown", kind);
		row("8", what, summarize(wine_shown[fullscreen]), "s");
		std::snprintf(what, sizeof what, "dotfall.exe under Wine on Xvfb, %s: start to 95 %% of the figure", kind);
		row("8", what, summarize(wine_filled[fullscreen]), "s");
		std::snprintf(what, sizeof what, "dotfall.exe under Wine on Xvfb, %s: window shown to 95 %%", kind);
		row("8", what, summarize(wine_drawing[fullscreen]), "s");
	}
	row("8", "dotfall.exe under Wine on Xvfb: key press to process exit", summarize(wine_stop), "ms", 1e3);
#endif
	std::printf("| | counting rand(): cost a step, share of a display step | %.2f ns | %.2f %% | |\n", count_ns,
	            100 * count_share);

	// The display's speed wanders from run to run by tens of percent here,
	// with the X server and the program sharing a busy machine; the
	// processor time the program spends a step wanders far less. Each round
	// pairs the runs, and the verdict takes the confidence interval of the
	// paired ratios, window and full screen together: the program's own code
	// is the same in both.
	const interval code = paired(both(cpu[0]), both(cpu[1])), before = paired(both(cpu[0]), both(cpu[2]));
	const interval code_rate = paired(both(rate[0]), both(rate[1])),
	               before_rate = paired(both(rate[0]), both(rate[2]));
	std::printf("\nprocessor time a step, dotfall / inline loop, median: %.3f (95 %% interval %.3f to %.3f, %zu pairs); "
	            "at most 1.03 wanted\n", code.mean, code.low, code.high, code.n);
	std::printf("processor time a step, dotfall / the loop before: %.3f (%.3f to %.3f); at most 1.03 wanted\n",
	            before.mean, before.low, before.high);
	std::printf("steps a second, dotfall / inline loop: %.3f (%.3f to %.3f); dotfall / the loop before: %.3f "
	            "(%.3f to %.3f)\n", code_rate.mean, code_rate.low, code_rate.high, before_rate.mean,
	            before_rate.low, before_rate.high);
	std::printf("counting slows the display loop by %.2f %% (under 1 %% wanted)\n", 100 * count_share);
#ifdef DOTFALL_EXE
	std::printf("under Wine: %zu of %d starts showed the window within 60 s, %zu of them drew 95 %% of the figure, "
	            "%zu keys ended the run within 10 s\n", wine_shown[0].size() + wine_shown[1].size(), 2 * wine_rounds,
	            wine_filled[0].size() + wine_filled[1].size(), wine_stop.size());
#endif
	if (smoke) {
		std::printf("smoke run: too short for a verdict\n");
#ifdef DOTFALL_EXE
		const bool wine_ran = wine_filled[0].size() == 1 && wine_filled[1].size() == 1 && wine_stop.size() == 2;
#else
		const bool wine_ran = true;
#endif
		const bool sway_ran = !have_sway || sway_filled.size() == 1;
		return w.median > 0 && f.median > 0 && code.n == 2 && mem.median > 0 && bare.median > 0 && wine_ran &&
		       sway_ran ? 0 : 1;
	}
	// Within 3 % when the whole interval is; measurably dearer when the
	// whole interval is above; otherwise these rounds cannot tell, and the
	// verdict says so rather than guess. A counter that seems to cost 1 % or
	// more leaves the measure in doubt, not dotfall at fault.
	const bool pass = code.n >= 6 && code.high <= 1.03 && before.high <= 1.03 && count_share < 0.01;
	const bool fail = code.low > 1.03 || before.low > 1.03;
	std::printf("verdict: %s\n", pass   ? "PASS, dotfall's own code and its batches add less than 3 % to the "
	                                      "library's cost a step"
	                             : fail ? "FAIL, see the ratios above"
	                                    : "NOT RESOLVED, the rounds differ by more than 3 % (or counting seems "
	                                      "to cost 1 %): run more rounds, or on a quieter machine");
	return pass ? 0 : fail ? 1 : 3;
}
