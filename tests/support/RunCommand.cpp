#include "tests/support/RunCommand.h"

#include <sys/wait.h>

#include <cstdio>

namespace velmora::test {

TRun RunCommand(const std::string& Command) {
  FILE* pipe = ::popen((Command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {-1, "popen failed"};
  std::string output;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

}  // namespace velmora::test
