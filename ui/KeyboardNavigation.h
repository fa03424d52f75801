// TKeyboardNavigation: the window as a keyboard user goes through it. Tab walks the shown page
// in reading order, then the preview, the button bar and the tab bar; the page keys change the
// page and focus its first input; Enter presses the default button; the read-only panes show
// where the focus is; and inputs carry the names of their labels for screen readers.
#pragma once

#include <QObject>

class QWidget;

namespace Ui {
class TfrmVelmora;
}

namespace velmora {

class TStorePanel;

class TKeyboardNavigation final : public QObject {
 public:
  // Window, Form and Store are borrowed and must outlive the navigation.
  TKeyboardNavigation(QWidget& Window, Ui::TfrmVelmora& Form, TStorePanel& Store);

  // The focus goes to the first control of the shown page that takes it.
  void FocusFirstInput(bool SelectText = true);
  // Enter or Return that the focused control left to the window; true when it was used.
  bool PressDefaultButton();

 private:
  // The read-only panes show a frame while they have the focus, as the edits do.
  void MarkFocusOnPanes();
  // Tab walks the shown page in reading order, then the preview, the button bar and the tab bar.
  void BuildTabOrder();
  // The page keys, and Tab's stops among radio buttons.
  void BindPageKeys();
  void ShowPageByKeyboard(int Step);
  void MakeChosenRadioButtonsTheTabStops();
  // Labelled inputs are named after their labels for screen readers.
  void NameInputsAfterTheirLabels();

  QWidget* const FWindow;     // borrowed
  Ui::TfrmVelmora* const ui;  // borrowed
  TStorePanel* const FStore;  // borrowed
};

}  // namespace velmora
