#include "crypto/FileLock.h"

#include "crypto/Exception.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace velmora {

TFileLock::TFileLock(const std::string& LockFile) : FPath(LockFile) {
  for (;;) {
    // O_RDONLY is enough for flock. Made exclusively first, to know whether it was there.
    FFd = ::open(LockFile.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    const bool made = FFd >= 0;
    if (!made && errno == EEXIST) {
      FFd = ::open(LockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
      if (FFd < 0 && errno == ENOENT) continue;  // its holder released it just now
    }
    if (FFd < 0)
      throw Exception("Cannot open the lock file \"" + LockFile + "\". " +
                      std::system_category().message(errno));
    while (::flock(FFd, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(FFd);
      throw Exception("Cannot lock \"" + LockFile + "\". " + std::system_category().message(error));
    }
    // The holder before us removed the file on release: our lock is on a file nobody else
    // will ever open, and the next writer makes a new one. Only the file at the name counts.
    struct stat held {
    }, named{};
    if (::fstat(FFd, &held) == 0 && ::stat(LockFile.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      FLeftBehind = !made;
      return;
    }
    ::close(FFd);
  }
}

TFileLock::~TFileLock() {
  // Removed while still held, so whoever waits on this file sees it gone and starts over.
  ::unlink(FPath.c_str());
  ::close(FFd);
}

std::string StoreLockFile(const std::string& Dir) {
  return Dir.empty() || Dir.back() == '/' ? Dir + ".velmora.lock" : Dir + "/.velmora.lock";
}

}  // namespace velmora
