#include "cli/PassArg.h"

#include "cli/Command.h"
#include "crypto/OpenSSLWrapper.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <system_error>

namespace velmora::cli {

namespace {

bool StartsWith(const std::string& Text, const char* Prefix) {
  return Text.rfind(Prefix, 0) == 0;
}

// Reads byte by byte up to the first line end, so that nothing beyond the line is taken from
// a descriptor another pass phrase may still be read from.
std::unique_ptr<TSecretText> FirstLineOf(int Fd, const std::string& Source) {
  std::string line;
  for (;;) {
    char c = 0;
    const ssize_t got = ::read(Fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      Wipe(line);
      throw Exception("Cannot read the pass phrase from " + Source + ": " +
                      std::generic_category().message(error));
    }
    if (got == 0 || c == '\n') break;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return std::make_unique<TSecretText>(std::move(line));
}

}  // namespace

std::unique_ptr<TSecretText> ReadPassArg(const std::string& Arg) {
  if (Arg.empty()) return std::make_unique<TSecretText>();
  if (StartsWith(Arg, "pass:")) return std::make_unique<TSecretText>(Arg.data() + 5, Arg.size() - 5);
  if (StartsWith(Arg, "env:")) {
    const char* value = std::getenv(Arg.c_str() + 4);
    if (value == nullptr)
      throw Exception("Cannot read the pass phrase: environment variable " + Arg.substr(4) +
                      " is not set.");
    return std::make_unique<TSecretText>(value, std::char_traits<char>::length(value));
  }
  if (StartsWith(Arg, "file:")) {
    const std::string path = Arg.substr(5);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
      throw Exception("Cannot read the pass phrase from " + path + ": " +
                      std::generic_category().message(errno));
    try {
      auto result = FirstLineOf(fd, path);
      ::close(fd);
      return result;
    } catch (...) {
      ::close(fd);
      throw;
    }
  }
  if (StartsWith(Arg, "fd:")) {
    int fd = -1;
    const char* first = Arg.data() + 3;
    const char* last = Arg.data() + Arg.size();
    const auto [end, error] = std::from_chars(first, last, fd);
    if (error != std::errc() || end != last || fd < 0 || first == last)
      throw UsageError("Invalid pass phrase source \"" + Arg + "\": fd: takes a number.");
    return FirstLineOf(fd, "descriptor " + std::to_string(fd));
  }
  if (Arg == "stdin") return FirstLineOf(STDIN_FILENO, "the standard input");
  throw UsageError("Invalid pass phrase source \"" + Arg +
                   "\": use pass:TEXT, env:VAR, file:PATH, fd:N or stdin.");
}

}  // namespace velmora::cli
