// TWindowBands: the window's four bands, top to bottom and each as wide as the window (title,
// tab area, preview, button bar), which give way in that order of need when the window is
// short, and the tab pages, whose contents scroll when the window is too short or narrow
// for them.
#pragma once

#include <QObject>

class QWidget;

namespace Ui {
class TfrmVelmora;
}

namespace velmora {

class TWindowBands final : public QObject {
 public:
  // Lays the form's bands out anew and makes its pages scroll. Form is borrowed and must
  // outlive the bands.
  explicit TWindowBands(Ui::TfrmVelmora& Form);

 private:
  void UseWindowBands();
  // Each page's contents scroll when the window is too short or narrow for them.
  void MakePagesScroll();
  void KeepFocusedControlInView(QWidget* Focused);

  Ui::TfrmVelmora* const ui;  // borrowed
};

}  // namespace velmora
