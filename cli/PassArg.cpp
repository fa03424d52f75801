#include "cli/PassArg.h"

#include "cli/Command.h"
#include "crypto/CertBuilder.h"
#include "crypto/OpenSSLWrapper.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <system_error>

namespace velmora::cli {

namespace {

bool StartsWith(const std::string& Text, const char* Prefix) { return Text.rfind(Prefix, 0) == 0; }

// The source as messages name it: the argument itself, which holds no secret, except for
// "pass:", whose text is the secret.
std::string SourceName(const std::string& Arg) { return StartsWith(Arg, "pass:") ? "pass:" : Arg; }

[[noreturn]] void RaiseTooLong(const std::string& Arg) {
  throw UsageError("Password too long: the pass phrase from " + SourceName(Arg) +
                   " has more than " + std::to_string(kMaxPasswordBytes) + " bytes.");
}

// Waits until a descriptor that was opened non-blocking by whoever handed it to us has
// something to read.
bool WaitForInput(int Fd) {
  pollfd wanted{Fd, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&wanted, 1, -1);
    if (ready >= 0) return true;
    if (errno != EINTR) return false;
  }
}

// Reads byte by byte up to the first line end, so that nothing beyond the line is taken from
// a descriptor another pass phrase may still be read from. Stops as soon as the line is
// longer than any pass phrase may be: a source without line ends (/dev/zero) ends at once.
// Wipes a line read so far on every way out, the thrown ones included.
struct TLineWiper {
  std::string& Line;
  ~TLineWiper() { Wipe(Line); }
};

std::unique_ptr<TSecretText> FirstLineOf(int Fd, const std::string& Source,
                                         const std::string& Arg) {
  std::string line;
  // Room for the longest line taken, so the text never moves and leaves a copy behind.
  line.reserve(kMaxPasswordBytes + 2);
  const TLineWiper wiper{line};
  for (;;) {
    char c = 0;
    const ssize_t got = ::read(Fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitForInput(Fd)) continue;
    if (got < 0) {
      const int error = errno;
      throw Exception("Cannot read the pass phrase from " + Source + ": " +
                      std::generic_category().message(error));
    }
    if (got == 0 || c == '\n') break;
    // One byte more than the longest pass phrase: the carriage return of a CRLF line end.
    if (line.size() > kMaxPasswordBytes) RaiseTooLong(Arg);
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return std::make_unique<TSecretText>(line.data(), line.size());
}

std::unique_ptr<TSecretText> ReadSource(const std::string& Arg, const std::string& Option) {
  if (StartsWith(Arg, "pass:"))
    return std::make_unique<TSecretText>(Arg.data() + 5, Arg.size() - 5);
  if (StartsWith(Arg, "env:")) {
    const char* value = std::getenv(Arg.c_str() + 4);
    if (value == nullptr)
      throw Exception("Cannot read the pass phrase: environment variable " + Arg.substr(4) +
                      " is not set.");
    return std::make_unique<TSecretText>(value, std::char_traits<char>::length(value));
  }
  if (StartsWith(Arg, "file:")) {
    const std::string path = Arg.substr(5);
    // Blocking: a named pipe or a process substitution ("file:<(...)") has its writer start
    // after us, and a pipe opened before its writer would read as empty.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
      throw Exception("Cannot read the pass phrase from " + path + ": " +
                      std::generic_category().message(errno));
    try {
      auto result = FirstLineOf(fd, path, Arg);
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
      throw UsageError("Invalid pass phrase source: fd: takes a descriptor number, for " + Option +
                       ".");
    return FirstLineOf(fd, "descriptor " + std::to_string(fd), Arg);
  }
  if (Arg == "stdin") return FirstLineOf(STDIN_FILENO, "the standard input", Arg);
  // The argument is not repeated: "--key-pass MyS3cret" is the pass phrase without its
  // "pass:", and would end up in a terminal's scrollback or a build log.
  throw UsageError("Invalid pass phrase source: expected pass:, env:, file:, fd: or stdin for " +
                   Option + ".");
}

// What to do instead of an empty pass phrase, by the option it was given to.
std::string EmptyAdvice(const std::string& Option) {
  if (Option == "--key-pass") return "leave out --key-pass for an unencrypted key.";
  if (Option == "--p12-pass") return "give --p12-pass pass: for a bundle without a password.";
  return "leave out " + Option + " when the key is not encrypted.";
}

}  // namespace

std::unique_ptr<TSecretText> ReadPassArg(const std::string& Arg, const std::string& Option) {
  std::unique_ptr<TSecretText> secret = ReadSource(Arg, Option);
  const std::string& text = secret->Text();
  // An empty pass phrase from a file, a variable or a stream is a mistake far more often than
  // a wish: it would leave the key unencrypted while the command line says otherwise. Only a
  // bundle's password may be empty on purpose, and then it is spelled out.
  if (text.empty() && !(Option == "--p12-pass" && Arg == "pass:"))
    throw UsageError("The pass phrase from " + SourceName(Arg) +
                     " is empty: " + EmptyAdvice(Option));
  if (text.size() > kMaxPasswordBytes) RaiseTooLong(Arg);
  if (text.find('\0') != std::string::npos)
    throw UsageError("The pass phrase from " + SourceName(Arg) +
                     " holds a NUL character, which no pass phrase can have.");
  return secret;
}

}  // namespace velmora::cli
