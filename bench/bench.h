// What the benchmark's two halves share.
#ifndef DOTFALL_BENCH_H
#define DOTFALL_BENCH_H

#include <map>
#include <string>
#include <vector>

// Runs the in-memory benchmarks (Google Benchmark) and returns the rate of
// each round, in calls a second, by name: "memory_bitmap", "bare_loop",
// "rand", "counted_rand".
std::map<std::string, std::vector<double>> run_memory_benchmarks(bool smoke);

#endif
