#include "crypto/AtomicFile.h"

#include "crypto/Directory.h"
#include "crypto/Exception.h"
#include "crypto/FileLock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <random>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace velmora {

namespace {

constexpr std::string_view kTempPrefix = ".velmora-";
constexpr std::string_view kTempSuffix = ".tmp";
constexpr std::string_view kIntentSuffix = ".intent";
constexpr std::string_view kIntentHeader = "velmora-set 1";
constexpr std::string_view kIntentEnd = "end";

std::mutex gHooksGuard;
std::function<void(const std::string&)> gReporter;
void (*gBeforeRename)(int) = nullptr;

void Report(const std::string& Text) {
  std::function<void(const std::string&)> reporter;
  {
    std::lock_guard<std::mutex> lock(gHooksGuard);
    reporter = gReporter;
  }
  if (reporter) reporter(Text);
}

fs::path AbsoluteFileName(const std::string& FileName) {
  std::error_code ec;
  fs::path path = fs::absolute(FileName, ec);
  return ec ? fs::path(FileName) : path;
}

// ".velmora-<pid>-<16 hex digits><suffix>": the process id only helps a person reading the
// folder; the random part keeps writers apart, and O_EXCL settles the rest.
std::string RandomName(std::string_view Suffix) {
  static const char digits[] = "0123456789abcdef";
  std::random_device source;
  std::string name = std::string(kTempPrefix) + std::to_string(::getpid()) + "-";
  for (int i = 0; i < 4; ++i) {
    unsigned value = source();
    for (int j = 0; j < 4; ++j, value >>= 4) name += digits[value & 0xF];
  }
  return name + std::string(Suffix);
}

std::string Reason(int Errno) { return std::system_category().message(Errno); }

[[noreturn]] void RaiseFileError(const fs::path& Target, int Errno) {
  throw Exception("Cannot write file \"" + Target.string() + "\". " + Reason(Errno),
                  SystemFailure(kStepWriteFile, Errno));
}

void LockHeld(int Fd) {
  while (::flock(Fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

void SyncDirectory(const fs::path& Dir) noexcept {
  const int fd = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Leftovers are looked for once per directory and process: later ones could only come from
// writers that died since, and a store of many files should not be read at every save.
void TidyOnce(const fs::path& Dir) noexcept {
  static std::mutex guard;
  static std::set<std::string> done;
  try {
    {
      std::lock_guard<std::mutex> lock(guard);
      if (!done.insert(Dir.string()).second) return;
    }
    TidyInterruptedWrites(Dir.string());
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

std::error_code InspectTarget(const fs::path& Target, TReplaced& Replaced) {
  struct stat info {};
  if (::lstat(Target.c_str(), &info) != 0) return {};
  // A folder at the target's name would make the rename fail after others of the set were
  // published; it is refused before anything is written.
  if (S_ISDIR(info.st_mode)) return {EISDIR, std::system_category()};
  // A link is replaced by a regular file, never written through: what it points to is not
  // the file the user named.
  if (!S_ISREG(info.st_mode)) return {};
  // A file the user may not write is not replaced behind their back.
  if (::faccessat(AT_FDCWD, Target.c_str(), W_OK, AT_EACCESS) != 0)
    return {errno, std::system_category()};
  Replaced = {true, static_cast<mode_t>(info.st_mode & 0777), info.st_gid,
              info.st_uid == ::geteuid()};
  return {};
}

// A new temporary file in Dir, locked before anyone can see it: made unnamed (O_TMPFILE) and
// linked in once locked, so a sweep never finds it unlocked. Where the file system cannot do
// that, it is created by name and locked at once.
int CreateLockedTemp(const fs::path& Dir, mode_t Mode, fs::path& Temp, int& Error) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path name = Dir / RandomName(kTempSuffix);
    int fd = ::open(Dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, Mode);
    if (fd >= 0) {
      LockHeld(fd);
      const std::string self = "/proc/self/fd/" + std::to_string(fd);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        Temp = name;
        return fd;
      }
      const int linkError = errno;
      ::close(fd);
      if (linkError == EEXIST) continue;
      if (linkError != ENOENT && linkError != EPERM && linkError != EXDEV) {
        Error = linkError;
        return -1;
      }
      // No /proc to name the file by: fall back to a named file.
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      Error = errno;
      return -1;
    }
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, Mode);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      Error = errno;
      return -1;
    }
    LockHeld(fd);
    Temp = name;
    return fd;
  }
  Error = EEXIST;
  return -1;
}

// Paths in an intent file are hex, so no name can break its lines.
std::string Hex(const std::string& Bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : Bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 0xF];
  }
  return hex.empty() ? "-" : hex;
}

std::string Unhex(const std::string& Hex) {
  if (Hex == "-") return {};
  std::string bytes;
  for (std::size_t i = 0; i + 1 < Hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(Hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// One line of an intent file: a temporary file, the target it becomes, the hard link that
// keeps the file it replaces (empty for a new target), and the temporary file's identity, so
// a later reader can tell whether the target already is the new file.
struct TIntentEntry {
  fs::path Temp;
  fs::path Target;
  fs::path Backup;
  dev_t Device = 0;
  ino_t Inode = 0;
};

bool IsFile(const fs::path& Path, dev_t Device, ino_t Inode) {
  struct stat info {};
  return ::lstat(Path.c_str(), &info) == 0 && info.st_dev == Device && info.st_ino == Inode;
}

std::string NamesOf(const std::vector<TIntentEntry>& Entries) {
  std::string names;
  for (const TIntentEntry& entry : Entries)
    names += (names.empty() ? "" : ", ") + entry.Target.filename().string();
  return names;
}

std::vector<TIntentEntry> ParseIntent(const std::string& Text) {
  std::istringstream lines(Text);
  std::string line;
  if (!std::getline(lines, line) || line != kIntentHeader) return {};
  std::vector<TIntentEntry> entries;
  while (std::getline(lines, line)) {
    // The last line: an intent cut short by a kill was never acted on, since the first rename
    // waits for the whole intent on disk.
    if (line == kIntentEnd) return entries;
    std::istringstream fields(line);
    std::string temp, target, backup;
    unsigned long long device = 0, inode = 0;
    if (!(fields >> temp >> target >> backup >> device >> inode)) return {};
    entries.push_back({Unhex(temp), Unhex(target), Unhex(backup), static_cast<dev_t>(device),
                       static_cast<ino_t>(inode)});
  }
  return {};
}

// A set whose writer died: forward when every member is either still a complete temporary
// file or already in place; otherwise (a member is nowhere) the old files are put back.
bool RecoverIntent(const fs::path& Intent) {
  const int fd = ::open(Intent.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {  // its writer is still at work
    ::close(fd);
    return false;
  }
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(got));
  const std::vector<TIntentEntry> entries = ParseIntent(text);

  const auto placed = [](const TIntentEntry& e) { return IsFile(e.Target, e.Device, e.Inode); };
  const bool forward = std::all_of(entries.begin(), entries.end(), [&](const TIntentEntry& e) {
    return placed(e) || IsFile(e.Temp, e.Device, e.Inode);
  });
  for (const TIntentEntry& entry : entries) {
    if (forward) {
      if (!placed(entry)) ::rename(entry.Temp.c_str(), entry.Target.c_str());
      if (!entry.Backup.empty()) ::unlink(entry.Backup.c_str());
      continue;
    }
    if (placed(entry)) {
      if (!entry.Backup.empty())
        ::rename(entry.Backup.c_str(), entry.Target.c_str());
      else
        ::unlink(entry.Target.c_str());
    } else if (!entry.Backup.empty()) {
      ::unlink(entry.Backup.c_str());
    }
    ::unlink(entry.Temp.c_str());
  }
  for (const TIntentEntry& entry : entries) SyncDirectory(entry.Target.parent_path());
  ::unlink(Intent.c_str());
  ::close(fd);
  SyncDirectory(Intent.parent_path());
  if (entries.empty()) return true;
  Report(forward
             ? "Completed an interrupted save: " + NamesOf(entries) + "."
             : "Undid an interrupted save; the earlier files are back: " + NamesOf(entries) + ".");
  return true;
}

// Names of Dir that end in Suffix and are ours.
std::vector<std::string> OurNames(const fs::path& Dir, std::string_view Suffix) {
  std::vector<std::string> names;
  const TDirPtr dir = OpenDirectory(Dir.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name.starts_with(kTempPrefix) && name.ends_with(Suffix)) names.emplace_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// With the folder's lock held. True when a set was completed or undone.
bool RecoverInterruptedSets(const fs::path& Dir) {
  bool recovered = false;
  for (const std::string& name : OurNames(Dir, kIntentSuffix))
    recovered = RecoverIntent(Dir / name) || recovered;
  return recovered;
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
  // Whatever the umask, nobody but the owner may write what is made here: someone else could
  // otherwise replace a CA certificate that others are told to trust.
  mode_t mode = FAccess == TFileAccess::OwnerOnly ? ownerOnly : 0644;
  if (replaced.Exists)
    mode = FAccess == TFileAccess::OwnerOnly ? (replaced.Mode & ownerOnly) : replaced.Mode;
  try {
    TidyOnce(FTarget.parent_path());
    int error = 0;
    // A replacement is opened no wider than its owner, then given the old file's mode
    // before the first byte; a new file gets the access's mode less the umask.
    const int fd = CreateLockedTemp(FTarget.parent_path(),
                                    replaced.Exists ? (mode & ownerOnly) : mode, FTemp, error);
    if (fd < 0) return {error, std::system_category()};
    FFd = fd;
    if (replaced.Exists) {
      // The group first: a change of group may clear bits of the mode. Not our group to
      // give, it stays ours; that is no reason to fail the save.
      if (replaced.Ours && replaced.Group != ::getegid() &&
          ::fchown(FFd, static_cast<uid_t>(-1), replaced.Group) != 0) {
        // stays in our own group
      }
      if (::fchmod(FFd, mode) != 0) {
        const int chmodError = errno;
        Discard();
        return {chmodError, std::system_category()};
      }
    }
    return {};
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
}

void TAtomicFile::Replace() {
  if (::rename(FTemp.c_str(), FTarget.c_str()) != 0) RaiseWriteError(errno);
  FTemp.clear();
  SyncDirectory(FTarget.parent_path());
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

void TAtomicFile::RaiseWriteError(int Errno) const { RaiseFileError(FTarget, Errno); }

void TAtomicFile::Close() noexcept {
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
}

void TAtomicFile::Discard() noexcept {
  // Removed while still locked, so no sweep can take a half-removed file for another's.
  if (!FTemp.empty()) ::unlink(FTemp.c_str());
  FTemp.clear();
  Close();
}

// ---- TAtomicFileSet ----------------------------------------------------------------------

// One Commit: the folders' locks, the links that keep replaced files, and the intent file.
struct TAtomicFileSet::TPublication {
  std::vector<std::unique_ptr<TFileLock>> Locks;
  std::vector<TIntentEntry> Entries;
  std::vector<int> HeldTargets;  // the replaced files, locked so no sweep takes their links
  fs::path Intent;
  int IntentFd = -1;

  ~TPublication() {
    for (int fd : HeldTargets) ::close(fd);
    if (IntentFd >= 0) ::close(IntentFd);
  }

  void WriteIntent() {
    Intent = Entries.front().Target.parent_path() / RandomName(kIntentSuffix);
    IntentFd = ::open(Intent.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (IntentFd < 0) RaiseFileError(Intent, errno);
    LockHeld(IntentFd);
    std::string text = std::string(kIntentHeader) + "\n";
    for (const TIntentEntry& e : Entries)
      text += Hex(e.Temp.string()) + " " + Hex(e.Target.string()) + " " + Hex(e.Backup.string()) +
              " " + std::to_string(e.Device) + " " + std::to_string(e.Inode) + "\n";
    text += std::string(kIntentEnd) + "\n";
    if (::write(IntentFd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        ::fsync(IntentFd) != 0) {
      const int error = errno == 0 ? EIO : errno;
      RemoveIntent();
      RaiseFileError(Intent, error);
    }
    SyncDirectory(Intent.parent_path());
  }

  void RemoveIntent() noexcept {
    if (Intent.empty()) return;
    ::unlink(Intent.c_str());
    SyncDirectory(Intent.parent_path());
    Intent.clear();
  }

  // After a set is in place and its folder flushed, the intent's removal need not reach the
  // disk before the lock is let go: an intent that a crash brings back names files that are
  // all in place, so the next writer or listing completes nothing and removes it. One flush
  // less under the folder's lock, which every writer of the folder waits for.
  void RemoveFulfilledIntent() noexcept {
    if (Intent.empty()) return;
    ::unlink(Intent.c_str());
    Intent.clear();
  }

  // The members published so far go back: the kept file where there was one, none otherwise.
  void Undo(std::size_t Published) noexcept {
    for (std::size_t i = 0; i < Published; ++i) {
      const TIntentEntry& e = Entries[i];
      if (!e.Backup.empty())
        ::rename(e.Backup.c_str(), e.Target.c_str());
      else
        ::unlink(e.Target.c_str());
    }
    RemoveBackups(Published);
  }

  void RemoveBackups(std::size_t From) noexcept {
    for (std::size_t i = From; i < Entries.size(); ++i)
      if (!Entries[i].Backup.empty()) ::unlink(Entries[i].Backup.c_str());
  }
};

TAtomicFileSet::TAtomicFileSet() = default;
TAtomicFileSet::~TAtomicFileSet() = default;

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
                        "\". " + error.message(),
                    SystemFailure(kStepCreateFile, error.value()));
  file->Write(Bytes);
  file->Flush();
}

void TAtomicFileSet::RequireAbsent(const std::string& FileName) {
  FRequiredAbsent.push_back(AbsoluteFileName(FileName));
}

namespace {

// Moves Temp to Target only while Target does not exist: atomic, so of two writers that both
// found the name free, one loses instead of replacing the other's file.
int RenameNoReplace(const fs::path& Temp, const fs::path& Target) {
  if (::renameat2(AT_FDCWD, Temp.c_str(), AT_FDCWD, Target.c_str(), RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: a hard link fails just as atomically on an existing name.
  if (::link(Temp.c_str(), Target.c_str()) != 0) return errno;
  ::unlink(Temp.c_str());
  return 0;
}

}  // namespace

void TAtomicFileSet::Commit() {
  try {
    Publish();
  } catch (...) {
    // Nothing of a set that failed stays behind, its temporary files included.
    FFiles.clear();
    FRequiredAbsent.clear();
    throw;
  }
}

void TAtomicFileSet::Publish() {
  if (FFiles.empty()) return;
  TPublication publication;
  std::set<fs::path> folders;
  for (const auto& file : FFiles) folders.insert(file->Target().parent_path());
  // In one order for every writer, so two sets over the same folders cannot wait on each other.
  // A set left pending by a writer killed since this process tidied the folder is finished
  // before this one touches its files; only such a writer leaves the lock file behind, so a
  // clean hand-over does not list the folder (a batch of many files would list it each time).
  for (const fs::path& folder : folders) {
    publication.Locks.push_back(std::make_unique<TFileLock>(StoreLockFile(folder.string())));
    if (publication.Locks.back()->LeftBehind()) RecoverInterruptedSets(folder);
  }

  // Every target is checked before the first rename: a failure now changes nothing.
  for (const auto& file : FFiles) {
    TIntentEntry entry{file->FTemp, file->Target(), {}, 0, 0};
    struct stat info {};
    if (::fstat(file->FFd, &info) != 0) file->RaiseWriteError(errno);
    entry.Device = info.st_dev;
    entry.Inode = info.st_ino;
    struct stat target {};
    if (::lstat(entry.Target.c_str(), &target) == 0) {
      if (S_ISDIR(target.st_mode)) file->RaiseWriteError(EISDIR);
      if (std::find(FRequiredAbsent.begin(), FRequiredAbsent.end(), entry.Target) !=
          FRequiredAbsent.end())
        throw Exception("Cannot write file \"" + entry.Target.string() +
                        "\". Another program created it meanwhile; nothing was written.");
      if (S_ISREG(target.st_mode)) {
        // The replaced file is kept under a second name until the whole set is in place.
        const int held = ::open(entry.Target.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (held >= 0) {
          LockHeld(held);
          publication.HeldTargets.push_back(held);
          const fs::path backup = entry.Target.parent_path() / RandomName(kTempSuffix);
          if (::link(entry.Target.c_str(), backup.c_str()) == 0) entry.Backup = backup;
        }
      }
    }
    publication.Entries.push_back(std::move(entry));
  }
  try {
    publication.WriteIntent();
  } catch (...) {
    publication.RemoveBackups(0);
    throw;
  }

  for (std::size_t i = 0; i < FFiles.size(); ++i) {
    if (gBeforeRename) gBeforeRename(static_cast<int>(i));
    const TIntentEntry& entry = publication.Entries[i];
    const bool absent = std::find(FRequiredAbsent.begin(), FRequiredAbsent.end(), entry.Target) !=
                        FRequiredAbsent.end();
    int error = 0;
    if (absent)
      error = RenameNoReplace(entry.Temp, entry.Target);
    else if (::rename(entry.Temp.c_str(), entry.Target.c_str()) != 0)
      error = errno;
    if (error != 0) {
      publication.Undo(i);
      publication.RemoveIntent();
      if (error == EEXIST)
        throw Exception("Cannot write file \"" + entry.Target.string() +
                        "\". Another program created it meanwhile; nothing was written.");
      FFiles[i]->RaiseWriteError(error);
    }
    FFiles[i]->FTemp.clear();
  }
  // The new names are on disk only once their folders are: otherwise a crash right after a
  // reported save could bring the old files back.
  for (const fs::path& folder : folders) SyncDirectory(folder);
  publication.RemoveBackups(0);
  publication.RemoveFulfilledIntent();
  FFiles.clear();
  FRequiredAbsent.clear();
}

void WriteFileAtomically(const std::string& FileName, std::string_view Bytes, TFileAccess Access) {
  TAtomicFileSet files;
  files.Add(FileName, Bytes, Access);
  files.Commit();
}

// ---- Leftovers -----------------------------------------------------------------------------

bool IsTemporaryFileName(std::string_view Name) noexcept {
  return Name.starts_with(kTempPrefix) &&
         (Name.ends_with(kTempSuffix) || Name.ends_with(kIntentSuffix));
}

bool IsAbandonedTemporaryFile(int DirFd, const char* Name) noexcept {
  const std::string_view name = Name;
  if (!name.starts_with(kTempPrefix) || !name.ends_with(kTempSuffix)) return false;
  const int fd = ::openat(DirFd, Name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

bool TidyInterruptedWrites(const std::string& Dir) noexcept {
  bool recovered = false;
  try {
    const fs::path dir = Dir;
    const std::vector<std::string> temps = OurNames(dir, kTempSuffix);
    const std::vector<std::string> intents = OurNames(dir, kIntentSuffix);
    if (temps.empty() && intents.empty()) return false;
    if (!intents.empty()) {
      TFileLock lock(StoreLockFile(Dir));
      recovered = RecoverInterruptedSets(dir);
      // A set that stays pending still needs its temporary files.
      if (!OurNames(dir, kIntentSuffix).empty()) return recovered;
    }
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return recovered;
    for (const std::string& name : OurNames(dir, kTempSuffix)) {
      // Removed while holding its lock, so a writer cannot be starting on it meanwhile.
      const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
      if (fd < 0) continue;
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlinkat(dirFd, name.c_str(), 0);
      ::close(fd);
    }
    ::close(dirFd);
  } catch (const std::exception&) {  // a folder we may not lock or read: another time
  }
  return recovered;
}

void SetInterruptedWriteReporter(std::function<void(const std::string&)> Reporter) {
  std::lock_guard<std::mutex> lock(gHooksGuard);
  gReporter = std::move(Reporter);
}

void SetBeforeRenameHookForTesting(void (*Hook)(int Index)) { gBeforeRename = Hook; }

}  // namespace velmora
