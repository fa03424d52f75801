// What the benchmark programs share besides the summary: a store folder to list, a helper
// program run beside the benchmark (a window probe, the Python worker, a memory probe) that
// talks over its standard input and output, and a program run to its end for what it cost.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Points the per-user folders (settings, data, cache, runtime) at Dir, so that nothing a
// benchmark does reaches the user's own; the helper programs inherit them. A runtime folder
// already given (a desktop session's) is kept.
void UseScratchHome(const std::filesystem::path& Dir);

// Fills Dir with Count one-byte files: 40% certificates (.crt), 30% keys (.key) and 30% other
// files (.txt), which the store neither lists nor looks at.
void MakeStore(const std::filesystem::path& Dir, int Count);

// A program started with its standard input and output connected to us; standard error stays
// ours. The destructor closes its input and waits for it.
class TChildProcess {
 public:
  using TEnvironment = std::vector<std::pair<std::string, std::string>>;

  // Program and arguments as given; Overrides replace or add variables of our environment.
  explicit TChildProcess(const std::vector<std::string>& Argv, const TEnvironment& Overrides = {});
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  bool Started() const { return FPid > 0; }
  // The next line without its end; nothing at the end of its output or after TimeoutMs.
  std::optional<std::string> ReadLine(int TimeoutMs);
  void WriteLine(const std::string& Line);
  // Closes its input and waits for it to end; its exit status, or -1 when it did not exit.
  int Wait();

 private:
  pid_t FPid = -1;
  int FInput = -1;
  int FOutput = -1;
  std::string FPending;
};

// What one run of a program cost: the time from its start to its end as we saw it, and the
// processor time (user and system) the kernel accounted to it alone, with the user part of it.
struct TRunCost {
  int ExitStatus = -1;  // -1 when it did not start or did not exit
  double WallSeconds = 0;
  double CpuSeconds = 0;
  double UserSeconds = 0;
  long MaxResidentBytes = 0;  // the largest resident set it had
};

// Runs Argv to its end, with standard input, output and error on /dev/null. A program name
// without a "/" is looked for on the PATH.
TRunCost RunToEnd(const std::vector<std::string>& Argv);
