// The in-memory half of the benchmark: the plotter's step into a memory
// bitmap through the library, the bare arithmetic with rand() into an array,
// and the cost of counting rand() calls.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <dlfcn.h>
#include <allegro.h>
#include <benchmark/benchmark.h>

#include "bench.h"
#include "drawing/chaos.h"

namespace {

const int W = 640, H = 480;
const point POINTS[3] = { { W / 2, 0 }, { 0, H }, { W, H } };

// dotfall's step, through the library, into a memory bitmap.
void memory_bitmap(benchmark::State &st)
{
	chaos_state s;
	chaos_start(&s, W, H);
	for (int i = 0; i < 3; i++)
		s.points[i] = POINTS[i];
	for (auto _ : st)
		chaos_step(&s);
}

// The ceiling: the same arithmetic and rand(), a plain store for a pixel.
void bare_loop(benchmark::State &st)
{
	static uint8_t pixels[W * H];
	point at = { W / 2, H / 2 };
	for (auto _ : st) {
		at = chaos_next(POINTS, at);
		pixels[at.y * W + at.x] = 1;
	}
	benchmark::DoNotOptimize(pixels);
}

int (*counted)(void);

void plain_rand(benchmark::State &st)
{
	for (auto _ : st)
		benchmark::DoNotOptimize(rand());
}

void counted_rand(benchmark::State &st)
{
	for (auto _ : st)
		benchmark::DoNotOptimize(counted());
}

struct collect : benchmark::BenchmarkReporter {
	std::map<std::string, std::vector<double>> rates;
	bool ReportContext(const Context &) override { return true; }
	void ReportRuns(const std::vector<Run> &runs) override
	{
		for (const Run &r : runs)
			if (r.run_type == Run::RT_Iteration && !r.error_occurred && r.real_accumulated_time > 0)
				rates[r.run_name.function_name].push_back(r.iterations / r.real_accumulated_time);
	}
};

} // namespace

std::map<std::string, std::vector<double>> run_memory_benchmarks(bool smoke)
{
	// The library without a display, a memory bitmap standing in for the screen.
	install_allegro(SYSTEM_NONE, &errno, atexit);
	set_color_depth(8);
	BITMAP *bmp = create_bitmap(W, H);
	clear_to_color(bmp, 0);
	screen = bmp;

	// The counting rand() that the display runs are measured with.
	void *lib = dlopen(COUNT_RAND, RTLD_NOW | RTLD_LOCAL);
	counted = lib ? (int (*)(void))dlsym(lib, "rand") : nullptr;

	benchmark::RegisterBenchmark("memory_bitmap", memory_bitmap);
	benchmark::RegisterBenchmark("bare_loop", bare_loop);
	benchmark::RegisterBenchmark("rand", plain_rand);
	if (counted)
		benchmark::RegisterBenchmark("counted_rand", counted_rand);
	char name[] = "dotfall_bench";
	char reps[] = "--benchmark_repetitions=5", quick_reps[] = "--benchmark_repetitions=1";
	char time[] = "--benchmark_min_time=0.5", quick_time[] = "--benchmark_min_time=0.01";
	char *argv[] = { name, smoke ? quick_reps : reps, smoke ? quick_time : time, nullptr };
	int argc = 3;
	benchmark::Initialize(&argc, argv);
	collect results;
	benchmark::RunSpecifiedBenchmarks(&results);

	screen = nullptr;
	destroy_bitmap(bmp);
	allegro_exit();
	return results.rates;
}
