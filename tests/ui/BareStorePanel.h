// The store tab on its own: a TStorePanel on the form's controls in a bare main window, without
// TfrmVelmora, reaching the window only through a host of the test's (THost). The form is made
// and the store remembered before the panel works on them; a test's SetUp puts its files into
// the store and then calls OpenPanel.
#pragma once

#include "tests/support/CryptoFixtures.h"
#include "tests/ui/FakePlatform.h"
#include "ui/JobRunner.h"
#include "ui/StorePanel.h"
#include "ui_VelmoraMain.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMenu>
#include <QTest>

#include <stdexcept>
#include <string>

namespace velmora::test {

template <typename THost>
class BareStorePanel : public testing::Test {
 protected:
  // Lists the store and waits until the panel is idle.
  void OpenPanel() {
    Panel.Open();
    Window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window));
    WaitIdle();
  }

  void WaitIdle() {
    if (!QTest::qWaitFor([this] { return !Jobs.Running() && !Panel.Busy(); }, 60000))
      throw std::runtime_error("the store panel's background work did not end");
  }

  int RowOf(const std::string& Name) const {
    const QAbstractItemModel* rows = Form.lvCerts->model();
    for (int row = 0; row < rows->rowCount(); ++row)
      if (rows->index(row, 0).data(Qt::UserRole).toByteArray().toStdString() == Name) return row;
    throw std::runtime_error("no row for " + Name);
  }

  // Picks the file's row afresh (a row picked again is described again) and waits for its
  // description.
  void Pick(const std::string& Name) {
    const int row = RowOf(Name);
    Form.lvCerts->clearSelection();
    Form.lvCerts->selectRow(row);
    WaitIdle();
  }

  // Opens the row's menu and chooses the action of that objectName, which must be on; the
  // work it starts runs to its end.
  void Choose(const std::string& Name, const char* Action) {
    const QModelIndex cell = Form.lvCerts->model()->index(RowOf(Name), 0);
    emit Form.lvCerts->customContextMenuRequested(Form.lvCerts->visualRect(cell).center());
    auto* menu = Window.findChild<QMenu*>(QStringLiteral("mnuStoreRow"));
    if (!menu) throw std::runtime_error("no context menu");
    auto* action = menu->findChild<QAction*>(QString::fromLatin1(Action));
    if (!action) throw std::runtime_error(std::string("no action ") + Action);
    EXPECT_TRUE(action->isEnabled()) << Action << " is off for " << Name;
    action->trigger();
    menu->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    WaitIdle();
  }

  TempDir Store;
  FakePlatform Platform;
  QMainWindow Window;
  Ui::TfrmVelmora Form;
  const bool Prepared = [this] {
    Form.setupUi(&Window);
    Platform.StoreDirSetting = Store.Path().string();
    return true;
  }();
  TJobRunner Jobs{Platform, &Window, Form.pbProgress, Form.lblProgress, {}};
  THost Host;
  TStorePanel Panel{Form, Platform, Jobs, Host};
};

}  // namespace velmora::test
