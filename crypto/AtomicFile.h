// Writing files so that each is either complete or not there at all: the bytes go to a
// temporary file beside the target, which replaces the target only once everything is on
// disk. A failed write leaves an existing file exactly as it was.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace velmora {

enum class TFileAccess {
  Usual,      // what a newly created file normally gets (0666 less the umask)
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
  // file. Returns the system's reason when that is impossible (a directory that does not
  // exist, a target the user may not write).
  std::error_code Create() noexcept;

  // All raise Exception naming the target's full path and the system's reason.
  void Write(std::string_view Bytes);
  void Flush();    // everything written reaches the disk; the temporary file is closed
  void Publish();  // renames over the target and flushes the directory that holds it
  void Commit() {
    Flush();
    Publish();
  }
  // After Flush: the bytes as the disk gives them back, so a writer can check what the
  // target will hold before Publish makes it the target. Raises Exception naming the target.
  std::string ReadBack() const;

  // The target as the user should see it in a message: an absolute path.
  const std::filesystem::path& Target() const noexcept { return FTarget; }

 private:
  [[noreturn]] void RaiseWriteError(int Errno) const;
  void Discard() noexcept;

  std::filesystem::path FTarget;
  std::filesystem::path FTemp;
  TFileAccess FAccess;
  int FFd = -1;
};

// Files that change together, such as the outputs of one command: each is written and
// flushed to a temporary file first, and only when all are complete are they renamed over
// their targets, one after another. Whatever fails before that leaves every target as it was.
class TAtomicFileSet {
 public:
  // A new member whose temporary file exists, or null with the system's reason in Error.
  TAtomicFile* Create(const std::string& FileName, TFileAccess Access, std::error_code& Error);
  // Create, Write and Flush in one; a file that cannot be created raises
  // "Cannot create file "<full path>". <reason>".
  void Add(const std::string& FileName, std::string_view Bytes, TFileAccess Access);
  void Commit();  // every member flushed and published, in the order added

 private:
  std::vector<std::unique_ptr<TAtomicFile>> FFiles;
};

// The whole of Bytes to FileName through a TAtomicFile. A file that cannot be created raises
// Exception "Cannot create file "<full path>". <reason>".
void WriteFileAtomically(const std::string& FileName, std::string_view Bytes, TFileAccess Access);

// Temporary files carry the writer's process id in their name. Whether Name is one of ours
// whose writer no longer runs: what a crash or a kill left behind.
bool IsAbandonedTemporaryFile(std::string_view Name) noexcept;
// Removes every abandoned temporary file of Dir (an open directory descriptor); errors are
// ignored, a leftover that stays is removed another time.
void RemoveAbandonedTemporaryFiles(int DirFd) noexcept;

}  // namespace velmora
