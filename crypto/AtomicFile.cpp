#include "crypto/AtomicFile.h"

#include "crypto/OpenSSLWrapper.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <mutex>
#include <random>
#include <set>

namespace velmora {

namespace {

constexpr std::string_view kTempPrefix = ".velmora-";
constexpr std::string_view kTempSuffix = ".tmp";

std::filesystem::path AbsoluteFileName(const std::string& FileName) {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(FileName, ec);
  return ec ? std::filesystem::path(FileName) : path;
}

// ".velmora-<pid>-<16 hex digits>.tmp": the process id tells a later writer whether the file
// is still being written; the random part keeps writers of one process apart, and O_EXCL
// settles the rest.
std::string RandomTempName() {
  static const char digits[] = "0123456789abcdef";
  std::random_device source;
  std::string name = std::string(kTempPrefix) + std::to_string(::getpid()) + "-";
  for (int i = 0; i < 4; ++i) {
    unsigned value = source();
    for (int j = 0; j < 4; ++j, value >>= 4) name += digits[value & 0xF];
  }
  return name + std::string(kTempSuffix);
}

std::string Reason(int Errno) { return std::system_category().message(Errno); }

// Leftovers are looked for once per directory and process: later ones could only come from
// writers that died since, and a store of many files should not be read at every save.
void RemoveAbandonedTemporaryFilesOnce(const std::filesystem::path& Dir) noexcept {
  static std::mutex guard;
  static std::set<std::string> done;
  try {
    {
      std::lock_guard<std::mutex> lock(guard);
      if (!done.insert(Dir.string()).second) return;
    }
    const int fd = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    RemoveAbandonedTemporaryFiles(fd);
    ::close(fd);
  } catch (const std::exception&) {  // no memory for the bookkeeping: another time
  }
}

// What the temporary file must look like to replace the target without changing what the
// user set on it: its mode and, when it is ours, its group.
struct TReplaced {
  bool Exists = false;
  mode_t Mode = 0;
  gid_t Group = 0;
  bool Ours = false;
};

std::error_code InspectTarget(const std::filesystem::path& Target, TReplaced& Replaced) {
  struct stat info {};
  // A link is replaced by a regular file, never written through: what it points to is not
  // the file the user named.
  if (::lstat(Target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  // A file the user may not write is not replaced behind their back.
  if (::faccessat(AT_FDCWD, Target.c_str(), W_OK, AT_EACCESS) != 0)
    return {errno, std::system_category()};
  Replaced = {true, static_cast<mode_t>(info.st_mode & 0777), info.st_gid,
              info.st_uid == ::geteuid()};
  return {};
}

}  // namespace

// ---- TAtomicFile -------------------------------------------------------------------------

TAtomicFile::TAtomicFile(const std::string& FileName, TFileAccess Access)
    : FTarget(AbsoluteFileName(FileName)), FAccess(Access) {}

TAtomicFile::~TAtomicFile() { Discard(); }

std::error_code TAtomicFile::Create() noexcept {
  TReplaced replaced;
  if (const std::error_code error = InspectTarget(FTarget, replaced)) return error;
  const mode_t ownerOnly = 0600;
  mode_t mode = FAccess == TFileAccess::OwnerOnly ? ownerOnly : 0666;
  if (replaced.Exists)
    mode = FAccess == TFileAccess::OwnerOnly ? (replaced.Mode & ownerOnly) : replaced.Mode;
  try {
    RemoveAbandonedTemporaryFilesOnce(FTarget.parent_path());
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path temp = FTarget.parent_path() / RandomTempName();
      // A replacement is opened no wider than its owner, then given the old file's mode
      // before the first byte; a new file gets the access's mode less the umask.
      const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                            replaced.Exists ? (mode & ownerOnly) : mode);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return {errno, std::system_category()};
      }
      FFd = fd;
      FTemp = std::move(temp);
      if (replaced.Exists) {
        // The group first: a change of group may clear bits of the mode. Not our group to
        // give, it stays ours; that is no reason to fail the save.
        if (replaced.Ours && replaced.Group != ::getegid() &&
            ::fchown(FFd, static_cast<uid_t>(-1), replaced.Group) != 0) {
          // stays in our own group
        }
        if (::fchmod(FFd, mode) != 0) {
          const int error = errno;
          Discard();
          return {error, std::system_category()};
        }
      }
      return {};
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

void TAtomicFile::Flush() {
  if (::fsync(FFd) != 0) RaiseWriteError(errno);
  const int fd = FFd;
  FFd = -1;
  if (::close(fd) != 0) RaiseWriteError(errno);
}

void TAtomicFile::Publish() {
  if (std::rename(FTemp.c_str(), FTarget.c_str()) != 0) RaiseWriteError(errno);
  FTemp.clear();
  // The new name is on disk only once its directory is: otherwise a crash right after a
  // reported save could bring the old file back.
  const int dir = ::open(FTarget.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) RaiseWriteError(errno);
  const int synced = ::fsync(dir) == 0 ? 0 : errno;
  ::close(dir);
  if (synced != 0 && synced != EINVAL) RaiseWriteError(synced);  // EINVAL: nothing to flush
}

std::string TAtomicFile::ReadBack() const {
  const int fd = ::open(FTemp.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) RaiseWriteError(errno);
  std::string bytes;
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      RaiseWriteError(error);
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return bytes;
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

// ---- TAtomicFileSet ----------------------------------------------------------------------

TAtomicFile* TAtomicFileSet::Create(const std::string& FileName, TFileAccess Access,
                                    std::error_code& Error) {
  auto file = std::make_unique<TAtomicFile>(FileName, Access);
  Error = file->Create();
  if (Error) return nullptr;
  FFiles.push_back(std::move(file));
  return FFiles.back().get();
}

void TAtomicFileSet::Add(const std::string& FileName, std::string_view Bytes, TFileAccess Access) {
  std::error_code error;
  TAtomicFile* file = Create(FileName, Access, error);
  if (!file)
    throw Exception("Cannot create file \"" + TAtomicFile(FileName, Access).Target().string() +
                    "\". " + error.message());
  file->Write(Bytes);
  file->Flush();
}

void TAtomicFileSet::Commit() {
  for (const std::unique_ptr<TAtomicFile>& file : FFiles) file->Publish();
  FFiles.clear();
}

void WriteFileAtomically(const std::string& FileName, std::string_view Bytes, TFileAccess Access) {
  TAtomicFileSet files;
  files.Add(FileName, Bytes, Access);
  files.Commit();
}

// ---- Leftovers -----------------------------------------------------------------------------

bool IsAbandonedTemporaryFile(std::string_view Name) noexcept {
  if (!Name.starts_with(kTempPrefix) || !Name.ends_with(kTempSuffix)) return false;
  Name.remove_prefix(kTempPrefix.size());
  Name.remove_suffix(kTempSuffix.size());
  pid_t writer = 0;
  const auto [end, error] = std::from_chars(Name.data(), Name.data() + Name.size(), writer);
  if (error != std::errc() || writer <= 0 || end == Name.data() + Name.size() || *end != '-')
    return false;
  if (writer == ::getpid()) return false;  // another thread of ours may be writing it
  return ::kill(writer, 0) != 0 && errno == ESRCH;
}

void RemoveAbandonedTemporaryFiles(int DirFd) noexcept {
  // A description of its own: a duplicate would share the caller's reading position.
  const int fd = ::openat(DirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return;
  }
  while (const dirent* entry = ::readdir(dir))
    if (IsAbandonedTemporaryFile(entry->d_name)) ::unlinkat(::dirfd(dir), entry->d_name, 0);
  ::closedir(dir);
}

}  // namespace velmora
