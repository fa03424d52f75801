// A directory opened for reading its names, closed on every path: one owner for the DIR
// handles of the store listings and of the recovery of interrupted saves.
#pragma once

#include <dirent.h>

#include <memory>

namespace velmora {

struct TDirCloser {
  void operator()(DIR* Dir) const noexcept { ::closedir(Dir); }
};
using TDirPtr = std::unique_ptr<DIR, TDirCloser>;

// Path opened with opendir; empty when it cannot be, with errno as opendir left it.
inline TDirPtr OpenDirectory(const char* Path) { return TDirPtr(::opendir(Path)); }

}  // namespace velmora
