#include "crypto/AtomicFile.h"

#include "crypto/OpenSSLWrapper.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

namespace velmora {

namespace {

std::filesystem::path AbsoluteFileName(const std::string& FileName) {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(FileName, ec);
  return ec ? std::filesystem::path(FileName) : path;
}

// A name that no other writer in the same directory picks by chance; O_EXCL settles the rest.
std::string RandomTempName() {
  static const char digits[] = "0123456789abcdef";
  std::random_device source;
  std::string name = ".velmora-";
  for (int i = 0; i < 4; ++i) {
    unsigned value = source();
    for (int j = 0; j < 4; ++j, value >>= 4) name += digits[value & 0xF];
  }
  return name + ".tmp";
}

std::string Reason(int Errno) { return std::system_category().message(Errno); }

}  // namespace

TAtomicFile::TAtomicFile(const std::string& FileName, TFileAccess Access)
    : FTarget(AbsoluteFileName(FileName)), FAccess(Access) {}

TAtomicFile::~TAtomicFile() { Discard(); }

std::error_code TAtomicFile::Create() noexcept {
  const mode_t mode = FAccess == TFileAccess::OwnerOnly ? 0600 : 0666;
  try {
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path temp = FTarget.parent_path() / RandomTempName();
      const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
      if (fd >= 0) {
        FFd = fd;
        FTemp = std::move(temp);
        return {};
      }
      if (errno != EEXIST) return {errno, std::system_category()};
    }
    return {EEXIST, std::system_category()};
  } catch (const std::exception&) {  // no random source or no memory for a name
    return {EIO, std::system_category()};
  }
}

void TAtomicFile::Write(std::string_view Bytes) {
  while (!Bytes.empty()) {
    const ssize_t written = ::write(FFd, Bytes.data(), Bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      RaiseWriteError(errno);
    }
    Bytes.remove_prefix(static_cast<size_t>(written));
  }
}

void TAtomicFile::Commit() {
  if (::fsync(FFd) != 0) RaiseWriteError(errno);
  const int fd = FFd;
  FFd = -1;
  if (::close(fd) != 0) RaiseWriteError(errno);
  if (std::rename(FTemp.c_str(), FTarget.c_str()) != 0) RaiseWriteError(errno);
  FTemp.clear();
}

void TAtomicFile::RaiseWriteError(int Errno) const {
  throw Exception("Cannot write file \"" + FTarget.string() + "\". " + Reason(Errno));
}

void TAtomicFile::Discard() noexcept {
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
  if (!FTemp.empty()) ::unlink(FTemp.c_str());
  FTemp.clear();
}

void WriteFileAtomically(const std::string& FileName, std::string_view Bytes, TFileAccess Access) {
  TAtomicFile file(FileName, Access);
  if (const std::error_code error = file.Create())
    throw Exception("Cannot create file \"" + file.Target().string() + "\". " + error.message());
  file.Write(Bytes);
  file.Commit();
}

}  // namespace velmora
