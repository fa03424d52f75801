// Child processes for the command-line tests: the program under test run to its end with its
// two output streams kept apart, and servers left running in the background until the test
// is done with them.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/RunCommand.h"

namespace velmora::test {

struct TProcessResult {
  int Status = -1;  // exit status, -1 when the process did not end normally
  std::string Out;
  std::string Err;
};

struct TChildInput {
  std::string Stdin;              // the child's standard input, closed after this text
  std::vector<int> InheritedFds;  // descriptors the child keeps, under the same numbers
};

// The full name of Name found on PATH, or empty when it is not installed.
std::string FindProgram(const std::string& Name);

// Runs Program with Args and exactly the environment Env ("NAME=value" entries; nothing of
// ours is passed on unless it is listed) and waits for its end.
TProcessResult RunProcess(const std::string& Program, const std::vector<std::string>& Args,
                          const std::vector<std::string>& Env, const TChildInput& Input = {});

// A process that runs in the background with our environment, its output in LogFile. It is
// ended when the object goes, on every way out of a test; should the test program itself
// die, the kernel ends it too.
class TBackgroundProcess {
 public:
  TBackgroundProcess(const std::string& Program, const std::vector<std::string>& Args,
                     const std::string& LogFile);
  ~TBackgroundProcess();
  TBackgroundProcess(const TBackgroundProcess&) = delete;
  TBackgroundProcess& operator=(const TBackgroundProcess&) = delete;

  // Whether it still runs; once it has ended, its exit status is gone with it.
  bool Running();

 private:
  pid_t FPid = -1;
};

// Waits until something accepts connections on 127.0.0.1:Port, as long as Server runs;
// false when it ended first or nothing listened after a generous while.
bool WaitUntilAccepting(int Port, TBackgroundProcess& Server);

// Every regular file under Root with its contents, by its path relative to Root.
using TFileTree = std::map<std::string, std::string>;
TFileTree FilesUnder(const std::filesystem::path& Root);
// The relative paths of files that After added or whose contents it changed, and of files
// it lost.
std::set<std::string> ChangedFiles(const TFileTree& Before, const TFileTree& After);

std::string ReadFileText(const std::filesystem::path& Path);

}  // namespace velmora::test
