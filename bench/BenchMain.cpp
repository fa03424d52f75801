#include "bench/BenchMain.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// Console output as usual, and the medians kept for the closing table.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      if (run.error_occurred) continue;
      std::string name = run.run_name.function_name;
      if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
      FMedians[name] = run.GetAdjustedRealTime();
      FUnits[name] = benchmark::GetTimeUnitString(run.time_unit);
    }
  }

  void PrintSummary() const {
    std::printf("\n%-44s %14s %14s %8s\n", "benchmark", "ours", "baseline", "ratio");
    for (const auto& [name, ours] : FMedians) {
      const std::string suffix = "/ours";
      if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        continue;
      const std::string work = name.substr(0, name.size() - suffix.size());
      const auto baseline = FMedians.find(work + "/baseline");
      const std::string unit = FUnits.at(name);
      if (baseline == FMedians.end()) {
        std::printf("%-44s %11.3f %-2s %14s %8s\n", work.c_str(), ours, unit.c_str(), "-", "-");
        continue;
      }
      std::printf("%-44s %11.3f %-2s %11.3f %-2s %8.3f\n", work.c_str(), ours, unit.c_str(),
                  baseline->second, FUnits.at(baseline->first).c_str(), ours / baseline->second);
    }
  }

 private:
  std::map<std::string, double> FMedians;
  std::map<std::string, std::string> FUnits;
};

}  // namespace

int RunBenchmarksWithSummary(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
