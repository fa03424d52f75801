// The focus can be seen wherever it is: the read-only panes show a frame while they have it,
// and a page brought up with Ctrl+Tab shows the mark of the control that got it at once.
#include "tests/ui/WindowFixture.h"

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QStyleOptionButton>

namespace velmora::test {
namespace {

class FocusMark : public WindowFixture {
 protected:
  static QImage Picture(QWidget* Widget) {
    QApplication::processEvents();
    return Widget->grab().toImage();
  }
};

TEST_F(FocusMark, ReadOnlyPanesShowAFrameWhileTheyHaveTheFocus) {
  struct Pane {
    const char* name;
    const char* page;
  };
  for (const Pane& p : {Pane{"memKeyInfo", "tabKey"}, Pane{"memStoreInfo", "tabStore"},
                        Pane{"memPreview", "tabStore"}}) {
    SCOPED_TRACE(p.name);
    ShowTab(p.page);
    auto* pane = Control<QPlainTextEdit>(p.name);
    pane->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(pane->hasFocus());
    const QImage marked = Picture(pane);
    Control<QPushButton>("btnAbout")->setFocus(Qt::TabFocusReason);
    ASSERT_FALSE(pane->hasFocus());
    const QImage plain = Picture(pane);

    ASSERT_EQ(marked.size(), plain.size());
    EXPECT_NE(marked, plain) << "the focus makes no difference to the pane";
    // The frame runs along every edge in the highlight colour, and goes with the focus.
    const QColor highlight = pane->palette().color(QPalette::Active, QPalette::Highlight);
    const int w = marked.width();
    const int h = marked.height();
    for (const QPoint& edge : {QPoint(0, h / 2), QPoint(w - 1, h / 2), QPoint(w / 2, 0),
                               QPoint(w / 2, h - 1), QPoint(1, h / 3)}) {
      SCOPED_TRACE(testing::Message() << edge.x() << "," << edge.y());
      EXPECT_EQ(marked.pixelColor(edge), highlight);
      EXPECT_NE(plain.pixelColor(edge), highlight);
    }
    // The text inside is left as it was.
    EXPECT_EQ(marked.pixelColor(w / 2, h / 2), plain.pixelColor(w / 2, h / 2));
  }
}

// A mouse user's window has not been told that the keyboard moves the focus; Ctrl+Tab tells
// it, so the radio button that gets the focus on the next page draws its focus rectangle.
TEST_F(FocusMark, CtrlTabShowsTheMarkOfTheControlItFocuses) {
  QTest::mouseClick(Control<QWidget>("edtStoreDir"), Qt::LeftButton);
  Window->setAttribute(Qt::WA_KeyboardFocusChange, false);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
  auto* radio = Control<QRadioButton>("rbECC");
  ASSERT_EQ(QApplication::focusWidget(), radio);

  QStyleOptionButton option;
  option.initFrom(radio);
  EXPECT_TRUE(option.state.testFlag(QStyle::State_HasFocus));
  EXPECT_TRUE(option.state.testFlag(QStyle::State_KeyboardFocusChange));
  const QImage shown = Picture(radio);
  Window->setAttribute(Qt::WA_KeyboardFocusChange, false);
  EXPECT_NE(shown, Picture(radio)) << "no focus rectangle was drawn";
}

}  // namespace
}  // namespace velmora::test
