#include "cli/BatchProgress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace velmora::cli {

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

// "42s" or "3m 07s" or "2h 05m".
void FormatDuration(double Seconds, char* Text, std::size_t Size) {
  const auto total = static_cast<unsigned long long>(std::llround(Seconds));
  if (total < 60)
    std::snprintf(Text, Size, "%llus", total);
  else if (total < 3600)
    std::snprintf(Text, Size, "%llum %02llus", total / 60, total % 60);
  else
    std::snprintf(Text, Size, "%lluh %02llum", total / 3600, total / 60 % 60);
}

}  // namespace

TBatchProgress::TBatchProgress(std::uint64_t Total)
    : FShown(::isatty(STDERR_FILENO) == 1), FTotal(Total) {}

void TBatchProgress::Done() {
  ++FDone;
  if (!FShown) return;
  const TClock::time_point now = TClock::now();
  if (now - FDrawn < kRedrawEvery && FDone < FTotal) return;
  FDrawn = now;
  Draw();
}

void TBatchProgress::Draw() {
  const double seconds = std::chrono::duration<double>(TClock::now() - FStart).count();
  const double rate = seconds > 0 ? static_cast<double>(FDone) / seconds : 0;
  char left[32] = "?";
  if (rate > 0) FormatDuration(static_cast<double>(FTotal - FDone) / rate, left, sizeof left);
  std::fprintf(stderr, "\r%llu/%llu lines, %.1f/s, %s left\x1b[K",
               static_cast<unsigned long long>(FDone), static_cast<unsigned long long>(FTotal),
               rate, left);
  std::fflush(stderr);
  FOnScreen = true;
}

void TBatchProgress::Clear() {
  if (!FOnScreen) return;
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
  FOnScreen = false;
}

}  // namespace velmora::cli
