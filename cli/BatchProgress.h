// The one line of progress a batch shows on a terminal: lines done of all, the rate and the
// time left, redrawn at most ten times a second. Nothing when standard error is no terminal,
// where a log would fill with redrawn lines.
#pragma once

#include <chrono>
#include <cstdint>

namespace velmora::cli {

class TBatchProgress {
 public:
  explicit TBatchProgress(std::uint64_t Total);
  // One more line done; redraws when the last drawing is old enough.
  void Done();
  // Takes the line away, before a message or at the end.
  void Clear();

 private:
  void Draw();

  using TClock = std::chrono::steady_clock;
  const bool FShown;
  const std::uint64_t FTotal;
  std::uint64_t FDone = 0;
  const TClock::time_point FStart = TClock::now();
  TClock::time_point FDrawn{};
  bool FOnScreen = false;
};

}  // namespace velmora::cli
