#include "ui/TextFile.h"

#include "crypto/OpenSSLWrapper.h"
#include "crypto/SecretText.h"
#include "ui/Utf8.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace velmora {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsValidUTF8(std::string_view Bytes) {
  while (!Bytes.empty()) {
    const std::size_t length = Utf8SequenceLength(Bytes);
    if (length == 0) return false;
    Bytes.remove_prefix(length);
  }
  return true;
}

// After a UTF-8 mark the text is UTF-8 by declaration; what is not is replaced, one
// replacement character per bad byte.
std::string DecodeUTF8(std::string_view Bytes) {
  std::string out;
  out.reserve(Bytes.size() * 3);  // the worst case, so the text is never reallocated
  while (!Bytes.empty()) {
    const std::size_t length = Utf8SequenceLength(Bytes);
    if (length == 0) {
      AppendUtf8(out, kReplacement);
      Bytes.remove_prefix(1);
    } else {
      out.append(Bytes.substr(0, length));
      Bytes.remove_prefix(length);
    }
  }
  return out;
}

std::string DecodeLatin1(std::string_view Bytes) {
  std::string out;
  out.reserve(Bytes.size() * 2);
  for (char c : Bytes) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

std::string DecodeUTF16(std::string_view Bytes, bool BigEndian) {
  const auto unit = [&](std::size_t i) -> char16_t {
    const auto first = static_cast<unsigned char>(Bytes[i]);
    const auto second = static_cast<unsigned char>(Bytes[i + 1]);
    return static_cast<char16_t>(BigEndian ? (first << 8) | second : (second << 8) | first);
  };
  const auto isHigh = [](char16_t u) { return u >= 0xD800 && u <= 0xDBFF; };
  const auto isLow = [](char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; };

  std::string out;
  out.reserve(Bytes.size() * 3 / 2 + 3);
  std::size_t i = 0;
  for (; i + 1 < Bytes.size(); i += 2) {
    const char16_t u = unit(i);
    if (isHigh(u) && i + 3 < Bytes.size() && isLow(unit(i + 2))) {
      AppendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (unit(i + 2) - 0xDC00));
      i += 2;
    } else if (isHigh(u) || isLow(u)) {
      AppendUtf8(out, kReplacement);  // half a pair
    } else {
      AppendUtf8(out, u);
    }
  }
  if (i < Bytes.size()) AppendUtf8(out, kReplacement);  // an odd byte at the end
  return out;
}

bool StartsWith(std::string_view Bytes, std::string_view Mark) {
  return Bytes.substr(0, Mark.size()) == Mark;
}

std::string AbsoluteName(const std::string& FileName) {
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::absolute(FileName, ec);
  return ec ? FileName : path.string();
}

[[noreturn]] void RaiseReadError(const std::string& FileName, const std::string& Reason) {
  throw Exception("Cannot read file \"" + AbsoluteName(FileName) + "\". " + Reason);
}

std::string SystemReason(int Errno) { return std::system_category().message(Errno); }

// Closes the descriptor on every path.
class TFileDescriptor {
 public:
  explicit TFileDescriptor(int Fd) noexcept : FFd(Fd) {}
  ~TFileDescriptor() {
    if (FFd >= 0) ::close(FFd);
  }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  int get() const noexcept { return FFd; }

 private:
  int FFd;
};

// The whole file. Only a regular file is read: a pipe or a device could block the window or
// never end. O_NONBLOCK keeps the open itself from waiting on a pipe without a writer.
void ReadWholeFile(const std::string& FileName, std::string& Bytes) {
  const TFileDescriptor file(::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) RaiseReadError(FileName, SystemReason(errno));
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) RaiseReadError(FileName, SystemReason(errno));
  if (S_ISDIR(info.st_mode)) RaiseReadError(FileName, SystemReason(EISDIR));
  if (!S_ISREG(info.st_mode)) RaiseReadError(FileName, "It is not a regular file.");

  // Room for the whole file at once, so the buffer is not reallocated (which would leave an
  // unwiped copy behind) unless the file grows while it is read.
  Bytes.reserve(static_cast<std::size_t>(info.st_size) + 1);
  char chunk[16384];
  for (;;) {
    const ssize_t count = ::read(file.get(), chunk, sizeof chunk);
    if (count < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      OPENSSL_cleanse(chunk, sizeof chunk);
      RaiseReadError(FileName, SystemReason(error));
    }
    if (count == 0) break;
    Bytes.append(chunk, static_cast<std::size_t>(count));
  }
  OPENSSL_cleanse(chunk, sizeof chunk);
}

}  // namespace

std::string DecodeText(std::string_view Bytes) {
  if (StartsWith(Bytes, "\xEF\xBB\xBF")) return DecodeUTF8(Bytes.substr(3));
  if (StartsWith(Bytes, "\xFF\xFE")) return DecodeUTF16(Bytes.substr(2), false);
  if (StartsWith(Bytes, "\xFE\xFF")) return DecodeUTF16(Bytes.substr(2), true);
  if (IsValidUTF8(Bytes)) return std::string(Bytes);
  return DecodeLatin1(Bytes);
}

std::string ReadTextFile(const std::string& FileName) {
  std::string bytes;
  try {
    ReadWholeFile(FileName, bytes);
    std::string text = DecodeText(bytes);
    Wipe(bytes);
    return text;
  } catch (...) {
    Wipe(bytes);
    throw;
  }
}

}  // namespace velmora
