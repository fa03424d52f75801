// Runs a shell command for the tests that check our files with other tools (the openssl
// command line), with its output and exit status.
#pragma once

#include <string>

namespace velmora::test {

struct TRun {
  int status;          // exit status, -1 when the command did not end normally
  std::string output;  // standard output and standard error together
};

TRun RunCommand(const std::string& Command);

// A path or word in single quotes for the shell.
inline std::string Quoted(const std::string& Text) { return "'" + Text + "'"; }

// A TCP port on 127.0.0.1 that nobody listened on a moment ago.
int FreeLocalPort();

// One HTTPS request of curl, trusting only CAFile, to `openssl s_server` serving Cert with
// Key, reached under Host on a free port of its own (another port when that one is taken
// before the server binds it). The output is the HTTP status ("200") when
// the handshake completed.
TRun HandshakeWithCurl(const std::string& Cert, const std::string& Key, const std::string& CAFile,
                       const std::string& Host);

}  // namespace velmora::test
