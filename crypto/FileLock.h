// Advisory locks on files, the way writers of one folder keep out of each other's way: two
// programs (a script and the window, or two windows) may work on one store at once.
#pragma once

#include <string>

namespace velmora {

// An exclusive flock on a lock file, held until destruction. The file is made when missing
// (0644: others may take the lock, never write it) and removed again on release, so a folder
// keeps no trace of it; a waiter that then holds a removed file's lock tries again.
class TFileLock {
 public:
  // Waits for the lock. Raises Exception naming the lock file when it cannot be opened.
  explicit TFileLock(const std::string& LockFile);
  ~TFileLock();
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  // True when the lock file was already there and nobody held it: its last holder ended
  // without releasing it (killed), so whatever that holder was doing may be unfinished. A
  // holder that releases removes the file, so a file made by this lock means a clean hand-over.
  bool LeftBehind() const { return FLeftBehind; }

 private:
  std::string FPath;
  int FFd = -1;
  bool FLeftBehind = false;
};

// The lock that one command's set of files in Dir is published under.
std::string StoreLockFile(const std::string& Dir);

}  // namespace velmora
