// Reading a whole file that the user picked or the store lists: opened once, checked through
// its descriptor, and decoded as text whatever editor saved it.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// The most a certificate or key file may hold to be read. Real ones, even long chains, are a
// few hundred kilobytes at most; a huge file would only keep the window busy and take its size
// in memory: libcrypto's key reader takes the whole text and tries every format on it (over
// half a second for 50 MB).
inline constexpr std::int64_t kMaxCertificateFileSize = std::int64_t{4} * 1024 * 1024;

// One file opened for reading, so that the file checked (fstat on the descriptor) is the file
// read, even when its name is given to a pipe or a folder in between. Links are followed.
// The open itself never waits: without O_NONBLOCK a pipe that has no writer would block it.
// The descriptor is closed with the object.
class TReadOnlyFile {
 public:
  // Never raises; a failed open or fstat is kept in Error().
  explicit TReadOnlyFile(const std::string& Path) noexcept;
  ~TReadOnlyFile();
  TReadOnlyFile(const TReadOnlyFile&) = delete;
  TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

  // 0, or the errno of the open or fstat that failed.
  int Error() const noexcept { return FError; }
  // What fstat told of the descriptor; all zero when Error() is not 0.
  const struct stat& Info() const noexcept { return FInfo; }
  bool IsRegularFile() const noexcept { return FError == 0 && S_ISREG(FInfo.st_mode); }

  // Reads the whole file into Bytes (whatever it held is wiped first), which is not
  // reallocated on the way unless the file grew since it was opened. Returns 0, the errno of
  // the failed open or read, or EFBIG when the file holds more than MaxSize bytes. On failure
  // Bytes is wiped: the file may hold a private key. Only for a regular file: a pipe or a
  // device could block or never end.
  int ReadAll(std::string& Bytes, std::int64_t MaxSize) const;

  // Reads the first Count bytes into Bytes (whatever it held is wiped first), fewer when the
  // file is shorter. Returns 0, or the errno of the failed open or read, with Bytes wiped: the
  // file may hold a private key. The descriptor's offset is not moved. Only for a regular file.
  int ReadStart(std::string& Bytes, std::size_t Count) const;

 private:
  int FFd = -1;
  int FError = 0;
  struct stat FInfo {};
};

// The text of a file as UTF-8. A byte-order mark chooses the decoding and is dropped:
// UTF-8 (EF BB BF), UTF-16 little-endian (FF FE) or UTF-16 big-endian (FE FF). Without one,
// bytes that are valid UTF-8 are read as UTF-8 and anything else as Latin-1, where every
// byte is one character. Sequences that cannot be decoded become U+FFFD.
//
// Raises Exception "Cannot read file "<full path>". <reason>" when the file cannot be opened
// or read, is not a regular file (a directory, a device or a pipe) or holds more than
// kMaxCertificateFileSize bytes ("File too large"). The bytes read are wiped from memory once
// decoded: the file may hold a private key.
std::string ReadTextFile(const std::string& FileName);

// The decoding step of ReadTextFile, on bytes already in memory.
std::string DecodeText(std::string_view Bytes);

}  // namespace velmora
