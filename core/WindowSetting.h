// The window's place on the screen when it last closed: a per-user setting beside the store
// directory, so the window opens where the user left it.
#pragma once

#include <optional>

namespace velmora {

// The window's top-left corner (with its frame) on the virtual desktop and its size without
// the frame, as QWidget's pos() and size() give them.
struct TWindowPlacement {
  int X = 0;
  int Y = 0;
  int Width = 0;
  int Height = 0;
  friend bool operator==(const TWindowPlacement&, const TWindowPlacement&) = default;
};

// Nothing when it was never saved, holds anything but a rectangle of some size, or the
// settings file cannot be read; never raises (the window opens as the first time then).
std::optional<TWindowPlacement> ReadWindowPlacementSetting();
// Saves it; a settings file that cannot be written keeps what it had.
void WriteWindowPlacementSetting(const TWindowPlacement& Placement);

}  // namespace velmora
