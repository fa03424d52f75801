#include "tests/support/RunCommand.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

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

int FreeLocalPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  const bool bound = ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(s);
  if (!bound) throw std::runtime_error("bind to a free port");
  return ntohs(address.sin_port);
}

// curl retries until the server listens; the server takes one connection and ends. The port
// comes from the kernel: tests run side by side, and each needs a server of its own.
TRun HandshakeWithCurl(const std::string& Cert, const std::string& Key, const std::string& CAFile,
                       const std::string& Host) {
  TRun run;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::string port = std::to_string(FreeLocalPort());
    run = RunCommand("openssl s_server -quiet -naccept 1 -www -accept 127.0.0.1:" + port +
                     " -cert " + Quoted(Cert) + " -key " + Quoted(Key) +
                     " >/dev/null 2>&1 & S=$!; "
                     "curl -s --retry 30 --retry-connrefused --retry-delay 1 --max-time 60 "
                     "-o /dev/null -w '%{http_code}' --cacert " +
                     Quoted(CAFile) + " --resolve " + Host + ":" + port + ":127.0.0.1 https://" +
                     Host + ":" + port +
                     "/; R=$?; kill $S 2>/dev/null; wait $S 2>/dev/null; exit $R");
    if (run.status == 0) break;
  }
  return run;
}

}  // namespace velmora::test
