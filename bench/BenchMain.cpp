#include "bench/BenchMain.h"

#include "bench/BenchBudgets.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <regex>
#include <utility>
#include <vector>

namespace {

std::vector<std::pair<std::string, std::string>> gSkipped;
std::vector<std::pair<std::string, std::function<TCounts()>>> gCounted;

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

  // Counts of a counted piece of work, shown among the timed rows.
  void AddCounts(const std::string& Work, const TCounts& Counts) { FCounts[Work] = Counts; }

  void PrintSummary() const {
    std::printf(
        "\nmedian [min-max] per iteration over the repetitions; ratio = ours / baseline "
        "(medians); budget = highest ratio accepted, or with a unit the highest median "
        "of ours; a count (M = millions of instructions) is of one run per side\n");
    std::printf("%-44s %-31s %-31s %7s %7s\n", "benchmark", "ours", "baseline", "ratio", "budget");
    std::map<std::string, std::string, TNaturalOrder> rows;
    const std::string suffix = "/ours";
    for (const auto& [name, ours] : FSides) {
      if (!name.ends_with(suffix)) continue;
      const std::string work = name.substr(0, name.size() - suffix.size());
      const benchmark::TimeUnit unit = ReadableUnit(ours.Median());
      const auto baseline = FSides.find(work + "/baseline");
      const bool paired = baseline != FSides.end();
      const double ratio = paired ? ours.Median() / baseline->second.Median() : std::nan("");
      rows[work] = Row(work, SideText(ours, unit), paired ? SideText(baseline->second, unit) : "-",
                       ratio, CheckBudget(work, ours.Median(), ratio));
    }
    for (const auto& [work, counts] : FCounts) {
      if (!counts.Failure.empty()) continue;  // listed with the skipped
      const double ratio = counts.Ours / counts.Baseline;
      rows[work] = Row(work, CountText(counts.Ours), CountText(counts.Baseline), ratio,
                       CheckBudget(work, 0, ratio));
    }
    for (const auto& [work, row] : rows) std::printf("%s\n", row.c_str());
    for (const auto& [work, why] : gSkipped)
      std::printf("%-44s skipped: %s\n", work.c_str(), why.c_str());
    for (const auto& [work, counts] : FCounts)
      if (!counts.Failure.empty())
        std::printf("%-44s skipped: %s\n", work.c_str(), counts.Failure.c_str());
  }

 private:
  static std::string Name(const Run& R) {
    return R.run_name.args.empty() ? R.run_name.function_name
                                   : R.run_name.function_name + "/" + R.run_name.args;
  }
  static double Seconds(const Run& R) {
    return R.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(R.time_unit);
  }

  // One line of the table; a NaN ratio is shown as "-".
  static std::string Row(const std::string& Work, const std::string& Ours,
                         const std::string& Baseline, double Ratio, const TBudgetCheck& Budget) {
    char ratioText[16] = "-";
    if (!std::isnan(Ratio)) std::snprintf(ratioText, sizeof ratioText, "%.3f", Ratio);
    char line[256];
    std::snprintf(line, sizeof line, "%-44s %-31s %-31s %7s %7s%s", Work.c_str(), Ours.c_str(),
                  Baseline.c_str(), ratioText, Budget.Text.c_str(), Budget.Over ? "  OVER" : "");
    return line;
  }
  static std::string CountText(double Count) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f M", Count / 1e6);
    return text;
  }

  std::map<std::string, TSide, TNaturalOrder> FSides;
  std::map<std::string, TCounts> FCounts;
};

}  // namespace

void NoteSkipped(const std::string& Work, const std::string& Why) {
  gSkipped.emplace_back(Work, Why);
}

// Whether Google Benchmark's --benchmark_filter selects Work as it selects benchmarks: a
// regular expression searched for in the name, or with a leading "-" one that must not occur.
bool Selected(const std::string& Work) {
  std::string filter = benchmark::GetBenchmarkFilter();
  if (filter.empty() || filter == "all") return true;
  const bool negative = filter.front() == '-';
  if (negative) filter.erase(0, 1);
  try {
    return std::regex_search(Work, std::regex(filter, std::regex::extended)) != negative;
  } catch (const std::regex_error&) {
    return true;  // Google Benchmark has already said what it makes of the filter
  }
}

void RegisterCount(const std::string& Work, std::function<TCounts()> Measure) {
  gCounted.emplace_back(Work, std::move(Measure));
}

int RunBenchmarksWithSummary(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const auto& [work, measure] : gCounted)
    if (Selected(work)) reporter.AddCounts(work, measure());
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
