#include "bench/BenchMain.h"

#include "bench/BenchBudgets.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

namespace {

std::vector<std::pair<std::string, std::string>> gSkipped;

// One side of a pair: the time per iteration of each repetition, in seconds.
struct TSide {
  std::vector<double> Seconds;

  double Median() const {
    std::vector<double> sorted = Seconds;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t middle = sorted.size() / 2;
    return sorted.size() % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
  }
  double Min() const { return *std::min_element(Seconds.begin(), Seconds.end()); }
  double Max() const { return *std::max_element(Seconds.begin(), Seconds.end()); }
};

// Names in the order a reader expects: runs of digits compare as numbers, so "1K" comes
// before "16K", and a name ends at "/", so "RSA-2048/ours" comes before "RSA-2048-keygen/ours".
struct TNaturalOrder {
  static char Rank(char C) { return C == '/' ? '\0' : C; }

  bool operator()(const std::string& A, const std::string& B) const {
    std::size_t i = 0, j = 0;
    while (i < A.size() && j < B.size()) {
      if (std::isdigit(static_cast<unsigned char>(A[i])) &&
          std::isdigit(static_cast<unsigned char>(B[j]))) {
        const std::size_t endA = std::min(A.find_first_not_of("0123456789", i), A.size());
        const std::size_t endB = std::min(B.find_first_not_of("0123456789", j), B.size());
        const unsigned long long a = std::stoull(A.substr(i, endA - i));
        const unsigned long long b = std::stoull(B.substr(j, endB - j));
        if (a != b) return a < b;
        i = endA;
        j = endB;
      } else {
        if (A[i] != B[j]) return Rank(A[i]) < Rank(B[j]);
        ++i;
        ++j;
      }
    }
    return A.size() - i < B.size() - j;
  }
};

// The budget of the work itself, or else of the nearest work above it, in Table.
template <typename TEntry, std::size_t N>
const TEntry* BudgetFor(const TEntry (&Table)[N], const std::string& Work) {
  const TEntry* found = nullptr;
  for (const TEntry& budget : Table) {
    const std::string name = budget.Work;
    if ((Work == name || Work.starts_with(name + "/")) &&
        (!found || name.size() > std::string(found->Work).size()))
      found = &budget;
  }
  return found;
}

// The unit that shows Seconds with one to three digits before the point.
benchmark::TimeUnit ReadableUnit(double Seconds) {
  for (const benchmark::TimeUnit unit :
       {benchmark::kSecond, benchmark::kMillisecond, benchmark::kMicrosecond})
    if (Seconds * benchmark::GetTimeUnitMultiplier(unit) >= 1) return unit;
  return benchmark::kNanosecond;
}

// "0.357 ms [0.350-0.371]" in Unit, the same for both sides of a row; the range only where
// there were repetitions.
std::string SideText(const TSide& Side, benchmark::TimeUnit Unit) {
  const double scale = benchmark::GetTimeUnitMultiplier(Unit);
  char text[96];
  const int length = std::snprintf(text, sizeof text, "%.3f %s", Side.Median() * scale,
                                   benchmark::GetTimeUnitString(Unit));
  if (Side.Seconds.size() > 1)
    std::snprintf(text + length, sizeof text - length, " [%.3f-%.3f]", Side.Min() * scale,
                  Side.Max() * scale);
  return text;
}

// A row's budget as the summary shows it, and whether the row is over it: a time budget
// judges ours' median, a ratio budget the ratio (NaN without a baseline).
struct TBudgetCheck {
  std::string Text = "-";
  bool Over = false;
};

TBudgetCheck CheckBudget(const std::string& Work, double OursSeconds, double Ratio) {
  TBudgetCheck check;
  char text[32];
  if (const TTimeBudget* time = BudgetFor(kTimeBudgets, Work)) {
    const benchmark::TimeUnit unit = ReadableUnit(time->MaxSeconds);
    std::snprintf(text, sizeof text, "%g %s",
                  time->MaxSeconds * benchmark::GetTimeUnitMultiplier(unit),
                  benchmark::GetTimeUnitString(unit));
    check = {text, OursSeconds > time->MaxSeconds};
  } else if (const TBudget* ratio = BudgetFor(kBudgets, Work)) {
    std::snprintf(text, sizeof text, "%.2f", ratio->MaxRatio);
    check = {text, Ratio > ratio->MaxRatio};
  }
  return check;
}

// Console output as usual, though with repetitions only their aggregates, as
// --benchmark_report_aggregates_only would show them; every repetition is kept for the
// closing table, whose ranges need them. Given only aggregates (that flag), the table makes
// do with the medians.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const Run& run : runs) {
      if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
        TSide& side = FSides[Name(run)];
        side.Seconds.push_back(Seconds(run));
        if (run.repetitions > 1) continue;  // its aggregates follow
      } else if (!run.error_occurred && run.aggregate_name == "median") {
        TSide& side = FSides[Name(run)];
        if (side.Seconds.empty()) side.Seconds.push_back(Seconds(run));
      }
      shown.push_back(run);
    }
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
  }

  void PrintSummary() const {
    std::printf(
        "\nmedian [min-max] per iteration over the repetitions; ratio = ours / baseline "
        "(medians); budget = highest ratio accepted, or with a unit the highest median "
        "of ours\n");
    std::printf("%-44s %-31s %-31s %7s %7s\n", "benchmark", "ours", "baseline", "ratio", "budget");
    const std::string suffix = "/ours";
    for (const auto& [name, ours] : FSides) {
      if (!name.ends_with(suffix)) continue;
      const std::string work = name.substr(0, name.size() - suffix.size());
      const benchmark::TimeUnit unit = ReadableUnit(ours.Median());
      const auto baseline = FSides.find(work + "/baseline");
      const bool paired = baseline != FSides.end();
      const double ratio = paired ? ours.Median() / baseline->second.Median() : std::nan("");
      const TBudgetCheck budget = CheckBudget(work, ours.Median(), ratio);
      char ratioText[16] = "-";
      if (paired) std::snprintf(ratioText, sizeof ratioText, "%.3f", ratio);
      std::printf("%-44s %-31s %-31s %7s %7s%s\n", work.c_str(), SideText(ours, unit).c_str(),
                  paired ? SideText(baseline->second, unit).c_str() : "-", ratioText,
                  budget.Text.c_str(), budget.Over ? "  OVER" : "");
    }
    for (const auto& [work, why] : gSkipped)
      std::printf("%-44s skipped: %s\n", work.c_str(), why.c_str());
  }

 private:
  static std::string Name(const Run& R) {
    return R.run_name.args.empty() ? R.run_name.function_name
                                   : R.run_name.function_name + "/" + R.run_name.args;
  }
  static double Seconds(const Run& R) {
    return R.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(R.time_unit);
  }

  std::map<std::string, TSide, TNaturalOrder> FSides;
};

}  // namespace

void NoteSkipped(const std::string& Work, const std::string& Why) {
  gSkipped.emplace_back(Work, Why);
}

int RunBenchmarksWithSummary(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
