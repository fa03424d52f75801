#include "core/TextFile.h"

#include "core/Utf8.h"
#include "crypto/OpenSSLWrapper.h"
#include "crypto/SecretText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// The whole file. Only a regular file of sane size is read: a pipe or a device could block
// the window or never end, and a huge file would take its size in memory for nothing.
void ReadWholeFile(const std::string& FileName, std::string& Bytes) {
  const TReadOnlyFile file(FileName);
  if (file.Error() != 0) RaiseReadError(FileName, SystemReason(file.Error()));
  if (S_ISDIR(file.Info().st_mode)) RaiseReadError(FileName, SystemReason(EISDIR));
  if (!file.IsRegularFile()) RaiseReadError(FileName, "It is not a regular file.");
  if (file.Info().st_size > kMaxCertificateFileSize) RaiseReadError(FileName, SystemReason(EFBIG));
  if (const int error = file.ReadAll(Bytes, kMaxCertificateFileSize); error != 0)
    RaiseReadError(FileName, SystemReason(error));
}

}  // namespace

// O_NOCTTY: a terminal device under a certificate's name must not become the program's
// controlling terminal just by being looked at.
TReadOnlyFile::TReadOnlyFile(const std::string& Path) noexcept
    : FFd(::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)) {
  if (FFd < 0) {
    FError = errno;
  } else if (::fstat(FFd, &FInfo) != 0) {
    FError = errno;
    FInfo = {};
  }
}

TReadOnlyFile::~TReadOnlyFile() {
  if (FFd >= 0) ::close(FFd);
}

// pread from the start: the descriptor's offset is not touched, so a second call reads the
// same bytes again.
int TReadOnlyFile::ReadAll(std::string& Bytes, std::int64_t MaxSize) const {
  Wipe(Bytes);
  if (FError != 0) return FError;
  // Room for the whole file at once, so the buffer is not reallocated (which would leave an
  // unwiped copy behind) unless the file grows while it is read.
  Bytes.reserve(static_cast<std::size_t>(std::clamp<std::int64_t>(FInfo.st_size, 0, MaxSize)) + 1);
  char chunk[16384];
  int error = 0;
  for (;;) {
    const ssize_t count = ::pread(FFd, chunk, sizeof chunk, static_cast<off_t>(Bytes.size()));
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      if (count < 0) error = errno;
      break;
    }
    if (static_cast<std::int64_t>(Bytes.size()) + count > MaxSize) {
      error = EFBIG;
      break;
    }
    Bytes.append(chunk, static_cast<std::size_t>(count));
  }
  OPENSSL_cleanse(chunk, sizeof chunk);
  if (error != 0) Wipe(Bytes);
  return error;
}

int TReadOnlyFile::ReadStart(std::string& Bytes, std::size_t Count) const {
  Wipe(Bytes);
  if (FError != 0) return FError;
  // Sized once and shrunk at the end, so no unwiped copy is left behind by a reallocation.
  Bytes.assign(Count, '\0');
  std::size_t got = 0;
  int error = 0;
  while (got < Count) {
    const ssize_t count = ::pread(FFd, Bytes.data() + got, Count - got, static_cast<off_t>(got));
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      if (count < 0) error = errno;
      break;
    }
    got += static_cast<std::size_t>(count);
  }
  if (error != 0) {
    Wipe(Bytes);
    return error;
  }
  Bytes.resize(got);  // shrinking keeps the buffer, which a later Wipe clears whole
  return 0;
}

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
