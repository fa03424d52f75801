#include "ui/WindowPlacer.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <optional>

namespace velmora {

TWindowPlacer::TWindowPlacer(QWidget& Window, IPlatform& Platform)
    : FWindow(&Window), FPlatform(Platform), FFormSize(Window.size()) {}

void TWindowPlacer::FirstShow() {
  if (FPlaced) return;
  FPlaced = true;
  PlaceOnScreen();
}

// Sizes are of the window without its frame and positions of its frame, as Qt's resize() and
// move() take them; the frame counts when it comes to fitting on a screen. Most window
// managers tell the frame only once the window is up: until then a title bar of two lines of
// text and thin borders are allowed for, so the button bar is not pushed off the screen's
// bottom by a title bar nobody measured.
void TWindowPlacer::PlaceOnScreen() {
  const QWindow* handle = FWindow->windowHandle();
  QMargins frame = handle ? handle->frameMargins() : QMargins();
  if (frame.isNull() && !FWindow->windowFlags().testFlag(Qt::FramelessWindowHint))
    frame = QMargins(4, 2 * FWindow->fontMetrics().height() + 4, 4, 4);
  const QSize frameSize(frame.left() + frame.right(), frame.top() + frame.bottom());
  const QSize least = FWindow->minimumSize().expandedTo(FWindow->minimumSizeHint());
  if (const std::optional<TWindowPlacement> saved = FPlatform.ReadWindowPlacementSetting()) {
    const QSize size = QSize(saved->Width, saved->Height).expandedTo(least);
    const QRect outer(QPoint(saved->X, saved->Y), size + frameSize);
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (std::any_of(screens.begin(), screens.end(), [&outer](const QScreen* Screen) {
          return Screen->availableGeometry().contains(outer);
        })) {
      FWindow->resize(size);
      FWindow->move(outer.topLeft());
      return;
    }
  }
  const QScreen* on = QGuiApplication::screenAt(FWindow->frameGeometry().center());
  const QRect available = (on ? on : FWindow->screen())->availableGeometry();
  FWindow->resize(FFormSize.boundedTo(available.size() - frameSize).expandedTo(least));
  QRect outer(QPoint(0, 0), FWindow->size() + frameSize);
  outer.moveCenter(available.center());
  // On a screen smaller than the window keep the title bar reachable.
  FWindow->move(std::max(outer.left(), available.left()), std::max(outer.top(), available.top()));
}

// A maximised or minimised window keeps the place it had before it was.
void TWindowPlacer::Save() const {
  if (FWindow->windowState() != Qt::WindowNoState || !FPlaced) return;
  FPlatform.WriteWindowPlacementSetting(
      {FWindow->x(), FWindow->y(), FWindow->width(), FWindow->height()});
}

}  // namespace velmora
