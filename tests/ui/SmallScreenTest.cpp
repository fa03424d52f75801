// The window on small screens: how far it shrinks, which band gives way first, and that every
// button stays on screen and every control can be brought into view.
#include "tests/ui/WindowFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>

#include <string>
#include <vector>

namespace velmora::test {
namespace {

class SmallScreen : public WindowFixture {
 protected:
  void ResizeClient(int Width, int Height) const {
    Window->resize(Width, Height);
    QApplication::processEvents();
    ASSERT_EQ(Window->size(), QSize(Width, Height));
  }

  QRect InWindow(const QWidget* Widget) const {
    return QRect(Widget->mapTo(Window.get(), QPoint(0, 0)), Widget->size());
  }

  // Every page in turn, brought up with Ctrl+PgDn as a user would.
  template <typename F>
  void ForEachPage(F&& Check) const {
    auto* tabs = Control<QTabWidget>("pgcMain");
    for (int i = 0; i < tabs->count(); ++i) {
      QWidget* focused = QApplication::focusWidget();
      QTest::keyClick(focused ? focused : Window.get(), Qt::Key_PageDown, Qt::ControlModifier);
      QApplication::processEvents();
      SCOPED_TRACE(tabs->currentWidget()->objectName().toStdString());
      Check(tabs->currentWidget());
    }
  }
};

TEST_F(SmallScreen, WindowShrinksToFitSmallScreens) {
  const QSize least = Window->minimumSize().expandedTo(Window->minimumSizeHint());
  EXPECT_LE(least.height(), 560);
  EXPECT_LE(least.width(), 800);
  ResizeClient(800, 560);
}

// The title and button bar keep their heights; the band above the preview gives way first,
// then the preview down to its smallest, and only then the tab area.
TEST_F(SmallScreen, ThePreviewGivesWayBeforeTheTabArea) {
  const int previewLeast = Control<QWidget>("grpPreview")->minimumHeight();
  ASSERT_GT(previewLeast, 0);
  for (int height : {900, 800, 780, 700, 660, 600, 560}) {
    SCOPED_TRACE(height);
    ResizeClient(940, height);
    const QRect top = Control<QWidget>("pnlTop")->geometry();
    const QRect tabs = Control<QWidget>("pgcMain")->geometry();
    const QRect preview = Control<QWidget>("grpPreview")->geometry();
    const QRect bottom = Control<QWidget>("pnlBottom")->geometry();
    EXPECT_EQ(top, QRect(0, 0, 940, 48));
    EXPECT_EQ(bottom, QRect(0, height - 52, 940, 52));
    EXPECT_EQ(tabs.top(), 48);
    EXPECT_EQ(preview.bottom() + 1, bottom.top());
    EXPECT_LE(tabs.bottom(), preview.top() - 1);  // no overlap
    EXPECT_LE(tabs.height(), 500);
    EXPECT_LE(preview.height(), 168);
    // The band is gone before the preview shrinks, the preview at its smallest before the tab
    // area does.
    if (preview.height() < 168) {
      EXPECT_EQ(tabs.bottom() + 1, preview.top());
    }
    if (tabs.height() < 500) {
      EXPECT_EQ(preview.height(), previewLeast);
    }
  }
}

// At 1024 x 600 every button of every page and of the button bar lies whole inside the window,
// with no scrolling needed.
TEST_F(SmallScreen, At1024x600EveryButtonIsInsideTheWindow) {
  ResizeClient(1024, 600);
  ForEachPage([this](QWidget*) {
    int buttons = 0;
    for (QAbstractButton* button : Window->findChildren<QAbstractButton*>()) {
      if (!button->isVisible()) continue;
      SCOPED_TRACE(button->objectName().toStdString());
      ++buttons;
      EXPECT_TRUE(Window->rect().contains(InWindow(button)));
      EXPECT_EQ(button->visibleRegion().boundingRect(), button->rect()) << "partly scrolled away";
    }
    EXPECT_GE(buttons, 3);  // the button bar at least
  });
}

// At the smallest size the pages scroll, and whatever Tab reaches is scrolled into view.
TEST_F(SmallScreen, AtTheSmallestSizeTabBringsEveryControlIntoView) {
  const QSize least = Window->minimumSize().expandedTo(Window->minimumSizeHint());
  ResizeClient(least.width(), least.height());
  bool someScrolled = false;
  ForEachPage([&](QWidget* Page) {
    auto* scroll = Page->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    someScrolled = someScrolled || scroll->verticalScrollBar()->maximum() > 0;
    const QWidget* first = QApplication::focusWidget();
    for (int i = 0; i < 40; ++i) {
      QWidget* focused = QApplication::focusWidget();
      ASSERT_NE(focused, nullptr);
      if (!Page->isAncestorOf(focused)) break;  // on to the preview
      SCOPED_TRACE(focused->objectName().toStdString());
      EXPECT_FALSE(focused->visibleRegion().isEmpty());
      EXPECT_TRUE(Window->rect().intersects(InWindow(focused)));
      QTest::keyClick(focused, Qt::Key_Tab);
      if (QApplication::focusWidget() == first) break;
    }
  });
  EXPECT_TRUE(someScrolled) << "the smallest window needs no scrolling; this test tests nothing";
}

}  // namespace
}  // namespace velmora::test
