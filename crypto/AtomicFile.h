// Writing a file so that it is either complete or not there at all: the bytes go to a
// temporary file beside the target, which replaces the target only once everything is on
// disk. A failed write leaves an existing file exactly as it was.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace velmora {

enum class TFileAccess {
  Usual,      // what a newly created file normally gets (0666 less the umask)
  OwnerOnly,  // 0600, for private key material
};

class TAtomicFile {
 public:
  TAtomicFile(const std::string& FileName, TFileAccess Access);
  ~TAtomicFile();  // removes the temporary file unless Commit succeeded
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;

  // Creates the temporary file, with its final permissions from the first byte. Returns the
  // system's reason when that is impossible (for example a directory that does not exist).
  std::error_code Create() noexcept;

  // Both raise Exception naming the target's full path and the system's reason.
  void Write(std::string_view Bytes);
  void Commit();  // flushes to disk and renames over the target

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

// The whole of Bytes to FileName through a TAtomicFile. A file that cannot be created raises
// Exception "Cannot create file "<full path>". <reason>".
void WriteFileAtomically(const std::string& FileName, std::string_view Bytes, TFileAccess Access);

}  // namespace velmora
