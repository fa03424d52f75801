// Shared entry of the benchmark programs. Every piece of work is measured twice in one run,
// as "<work>/ours" through Velmora and "<work>/baseline" written inline against plain
// libcrypto, std::filesystem or Qt; the summary pairs them up as medians and their ratio.
#pragma once

int RunBenchmarksWithSummary(int argc, char** argv);
