// Shared entry of the benchmark programs. Every piece of work is measured twice in one run,
// as "<work>/ours" through Velmora and "<work>/baseline" written inline against plain
// libcrypto, std::filesystem or Qt (or, where the name says so, another program doing the same
// work); the summary pairs them up: median and range of the repetitions of each side, the
// ratio of the medians and the budget that ratio has in BenchBudgets.h.
#pragma once

#include <string>

int RunBenchmarksWithSummary(int argc, char** argv);

// Puts Work in the summary as not measured in this run, and why.
void NoteSkipped(const std::string& Work, const std::string& Why);
