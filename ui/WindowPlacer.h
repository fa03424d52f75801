// TWindowPlacer: where the main window opens the first time it is shown, and the place it
// leaves behind when it closes.
#pragma once

#include "ui/Platform.h"

#include <QSize>

class QWidget;

namespace velmora {

class TWindowPlacer {
 public:
  // Window and Platform are borrowed and must outlive the placer. The window's size now is
  // the form's size, the one it opens at when nothing else is known.
  TWindowPlacer(QWidget& Window, IPlatform& Platform);

  // Places the window on its first show; later shows leave it where it is.
  void FirstShow();
  // Remembers where the window is.
  void Save() const;

 private:
  // Where the user left the window when that place lies wholly on one of the screens now
  // there; otherwise at the form's size, made smaller to fit the free area of its screen,
  // and centred there.
  void PlaceOnScreen();

  QWidget* const FWindow;
  IPlatform& FPlatform;
  const QSize FFormSize;
  bool FPlaced = false;
};

}  // namespace velmora
