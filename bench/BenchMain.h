// Shared entry of the benchmark programs. Every piece of work is measured twice in one run,
// as "<work>/ours" through Velmora and "<work>/baseline" written inline against plain
// libcrypto, std::filesystem or Qt (or, where the name says so, another program doing the same
// work); the summary pairs them up: median and range of the repetitions of each side, the
// ratio of the medians and the budget that ratio has in BenchBudgets.h.
#pragma once

#include <functional>
#include <string>

int RunBenchmarksWithSummary(int argc, char** argv);

// What a counted piece of work came to on each side, or why it was not counted.
struct TCounts {
  double Ours = 0;
  double Baseline = 0;
  std::string Failure = {};  // empty when both sides were counted
};

// A piece of work measured by a count (instructions executed) rather than a time: Measure runs
// once, after the timed benchmarks, when the benchmark filter selects Work; the summary shows
// the two counts among the timed rows, with their ratio and its budget from BenchBudgets.h.
void RegisterCount(const std::string& Work, std::function<TCounts()> Measure);

// Puts Work in the summary as not measured in this run, and why.
void NoteSkipped(const std::string& Work, const std::string& Why);
// Whether --benchmark_filter selects Work as it selects benchmarks; for reports made outside
// Google Benchmark, once RunBenchmarksWithSummary has read the arguments.
bool Selected(const std::string& Work);
