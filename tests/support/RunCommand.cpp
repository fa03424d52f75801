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

// curl retries until the server listens; the server takes one connection and ends.
TRun HandshakeWithCurl(const std::string& Cert, const std::string& Key, const std::string& CAFile,
                       const std::string& Host) {
  return RunCommand(
      "PORT=$((20000 + RANDOM % 30000)); "
      "openssl s_server -quiet -naccept 1 -www -accept $PORT -cert " +
      Quoted(Cert) + " -key " + Quoted(Key) +
      " >/dev/null 2>&1 & S=$!; "
      "curl -s --retry 30 --retry-connrefused --retry-delay 1 --max-time 60 -o /dev/null "
      "-w '%{http_code}' --cacert " +
      Quoted(CAFile) + " --resolve " + Host + ":$PORT:127.0.0.1 https://" + Host +
      ":$PORT/; R=$?; kill $S 2>/dev/null; wait $S 2>/dev/null; exit $R");
}

}  // namespace velmora::test
