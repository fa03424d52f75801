// Writing files so that each is either complete or not there at all: the bytes go to a
// temporary file beside the target, which replaces the target only once everything is on
// disk. A failed write leaves an existing file exactly as it was.
//
// Several programs may write into one folder at once (a script and the window, two windows),
// and any of them may be killed. So a set of files is published under an advisory lock on its
// folder, with a small intent file written before the first rename: whoever takes the lock
// next completes a set whose writer died half way, or puts the old files back.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace velmora {

enum class TFileAccess {
  Usual,      // a certificate: 0644 less the umask, never writable by others
  OwnerOnly,  // 0600 at most, for private key material
};

class TAtomicFile {
 public:
  TAtomicFile(const std::string& FileName, TFileAccess Access);
  ~TAtomicFile();  // removes the temporary file unless it was published
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;

  // Creates the temporary file, with its final permissions from the first byte: those of the
  // file it replaces (never wider than 0600 for OwnerOnly), or the access's own for a new
  // file. The file stays locked (flock) while it exists, which is how a later sweep tells it
  // from a dead writer's leftover. Returns the system's reason when that is impossible (a
  // directory that does not exist, a target the user may not write, a folder at the target).
  std::error_code Create() noexcept;

  // All raise Exception naming the target's full path and the system's reason.
  void Write(std::string_view Bytes);
  void Flush();  // everything written reaches the disk; the file stays open and locked
  // After Flush: the bytes as the disk gives them back, so a writer can check what the
  // target will hold before it becomes the target. Raises Exception naming the target.
  std::string ReadBack() const;
  // After Flush, for a file that changes alone and whose writers already hold a lock of their
  // own (a CA's revocation list): renames the temporary file over the target and makes the new
  // name durable. One rename is all or nothing by itself, so no intent file is needed. Raises
  // Exception naming the target; the target is then as it was.
  void Replace();

  // The target as the user should see it in a message: an absolute path.
  const std::filesystem::path& Target() const noexcept { return FTarget; }

 private:
  friend class TAtomicFileSet;
  [[noreturn]] void RaiseWriteError(int Errno) const;
  void Discard() noexcept;
  void Close() noexcept;

  std::filesystem::path FTarget;
  std::filesystem::path FTemp;
  TFileAccess FAccess;
  int FFd = -1;
};

// Files that change together, such as the outputs of one command: each is written and
// flushed to a temporary file first, and only when all are complete are they renamed over
// their targets. Whatever fails, before or during the renames, leaves every target as it was.
class TAtomicFileSet {
 public:
  TAtomicFileSet();
  ~TAtomicFileSet();
  TAtomicFileSet(const TAtomicFileSet&) = delete;
  TAtomicFileSet& operator=(const TAtomicFileSet&) = delete;

  // A new member whose temporary file exists, or null with the system's reason in Error.
  TAtomicFile* Create(const std::string& FileName, TFileAccess Access, std::error_code& Error);
  // Create, Write and Flush in one; a file that cannot be created raises
  // "Cannot create file "<full path>". <reason>".
  void Add(const std::string& FileName, std::string_view Bytes, TFileAccess Access);
  // FileName was not there when the user was asked about replacing files: a file that another
  // program puts there meanwhile is not replaced, and the whole set is refused instead.
  void RequireAbsent(const std::string& FileName);
  // Every member published under the lock of its folder: all targets are checked first, the
  // files they replace are kept until the last rename succeeded, and a failed rename puts
  // them back. Raises Exception naming the target; nothing of the set is published then.
  void Commit();

 private:
  struct TPublication;
  void Publish();
  std::vector<std::unique_ptr<TAtomicFile>> FFiles;
  std::vector<std::filesystem::path> FRequiredAbsent;
};

// The whole of Bytes to FileName through a TAtomicFile. A file that cannot be created raises
// Exception "Cannot create file "<full path>". <reason>".
void WriteFileAtomically(const std::string& FileName, std::string_view Bytes, TFileAccess Access);

// Whether Name is one of our temporary or intent files (not a file a user made).
bool IsTemporaryFileName(std::string_view Name) noexcept;
// Whether the temporary file Name of Dir (an open directory descriptor) is a dead writer's
// leftover: nobody holds its lock. A process id in the name means nothing, since writers may
// live in other PID namespaces and ids are reused.
bool IsAbandonedTemporaryFile(int DirFd, const char* Name) noexcept;
// Completes or undoes the sets that killed writers left half published in Dir (under the
// folder's lock), then removes abandoned temporary files. Errors are ignored: what stays is
// handled another time. True when a set was completed or undone.
bool TidyInterruptedWrites(const std::string& Dir) noexcept;

// Where completed or undone sets are reported ("Completed an interrupted save: a.crt, a.key").
// Set once at start by the program; without it they are done silently.
void SetInterruptedWriteReporter(std::function<void(const std::string&)> Reporter);

// For tests of killed writers only: called before each rename of a set with its index.
void SetBeforeRenameHookForTesting(void (*Hook)(int Index));

}  // namespace velmora
