// A fresh main window on the fake desktop, shown offscreen, with its controls found by name
// as the form names them.
#pragma once

#include "tests/ui/FakePlatform.h"
#include "ui/VelmoraMain.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStringList>
#include <QTabWidget>
#include <QTest>

#include <memory>
#include <stdexcept>
#include <string>

namespace velmora::test {

class WindowFixture : public testing::Test {
 protected:
  void SetUp() override {
    Window = std::make_unique<TfrmVelmora>(Platform);
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
    WaitIdle();
  }

  // The window's background work runs to its end, as a user waiting for it would see.
  void WaitIdle() const {
    if (!QTest::qWaitFor([this] { return !Window->Busy(); }, 60000))
      throw std::runtime_error("the window's background work did not end");
  }

  // The control with that objectName; a missing one fails the test with its name.
  template <typename T>
  T* Control(const char* Name) const {
    T* control = Window->findChild<T*>(QString::fromLatin1(Name));
    if (!control) throw std::runtime_error(std::string("no control named ") + Name);
    return control;
  }

  // Brings a tab sheet to the front, as a user clicking its tab would.
  void ShowTab(const char* Name) const {
    Control<QTabWidget>("pgcMain")->setCurrentWidget(Control<QWidget>(Name));
  }

  // Clicks a control as the mouse would. A check box or radio button answers only on its
  // indicator and caption, not on the empty rest of its row, so it is clicked on the indicator.
  void Click(const char* Name) const {
    QWidget* control = Control<QWidget>(Name);
    const bool indicator =
        qobject_cast<QCheckBox*>(control) || qobject_cast<QRadioButton*>(control);
    QTest::mouseClick(control, Qt::LeftButton, {},
                      indicator ? QPoint(8, control->height() / 2) : QPoint());
    WaitIdle();
  }

  QStringList LogLines() const {
    const QString text = Control<QPlainTextEdit>("memKeyInfo")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
  }

  FakePlatform Platform;
  std::unique_ptr<TfrmVelmora> Window;
};

// A caption as the screen shows it: an access key's "&" is no part of it ("&&" shows one).
inline QString WithoutAccessKey(QString Caption) {
  Caption.replace(QLatin1String("&&"), QStringLiteral("\x01"));
  Caption.remove(QLatin1Char('&'));
  return Caption.replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

// The line is "[hh:nn:ss] " (a valid time of day) followed by exactly Text.
inline testing::AssertionResult IsStampedLine(const QString& Line, const std::string& Text) {
  const QRegularExpression stamp(
      QStringLiteral("^\\[([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\\] "));
  const QRegularExpressionMatch match = stamp.match(Line);
  if (!match.hasMatch())
    return testing::AssertionFailure() << "no stamp in: " << Line.toStdString();
  if (Line.mid(match.capturedLength()) != QString::fromStdString(Text))
    return testing::AssertionFailure() << "line is: " << Line.toStdString();
  return testing::AssertionSuccess();
}

}  // namespace velmora::test
