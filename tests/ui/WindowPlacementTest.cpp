// Where the window opens: at the form's size, centred, on a screen with room for it; smaller
// and centred on a small screen; where the user left it when that place is still wholly on a
// screen. The test program's screens are its own (UiTestMain.cpp): a large one and a small one
// of 1024 x 600 beside it.
#include "tests/ui/WindowFixture.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include <string>

namespace velmora::test {
namespace {

class WindowPlacement : public WindowFixture {
 protected:
  // The window is made and shown by each test, on the screen it names.
  void SetUp() override {}

  static QScreen* Screen(QSize AvailableSize) {
    for (QScreen* screen : QGuiApplication::screens())
      if (screen->availableGeometry().size() == AvailableSize) return screen;
    return nullptr;
  }
  static QScreen* Large() { return QGuiApplication::screens().value(0); }
  static QScreen* Small() { return Screen(QSize(1024, 600)); }

  void Open(QScreen* On) {
    ASSERT_NE(On, nullptr) << "the test program's screens are missing";
    Window = std::make_unique<TfrmVelmora>(Platform);
    // A window opens on the screen it stands on.
    Window->move(On->availableGeometry().topLeft());
    Window->setScreen(On);
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
    WaitIdle();
  }

  // The window with its frame, on the virtual desktop.
  QRect Outer() const { return Window->frameGeometry(); }
  TWindowPlacement Placement() const {
    return {Window->x(), Window->y(), Window->width(), Window->height()};
  }

  static testing::AssertionResult IsCentredIn(const QRect& Inner, const QRect& Outer) {
    const QPoint offset = Inner.center() - Outer.center();
    if (std::abs(offset.x()) <= 1 && std::abs(offset.y()) <= 1) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "centre off by " << offset.x() << ", " << offset.y();
  }
};

TEST_F(WindowPlacement, TheTestScreensAreThere) {
  ASSERT_NE(Large(), nullptr);
  EXPECT_GE(Large()->availableGeometry().width(), 1280);
  EXPECT_GE(Large()->availableGeometry().height(), 1000);
  EXPECT_NE(Small(), nullptr);
}

TEST_F(WindowPlacement, OnAScreenWithRoomItOpensAtTheFormSizeCentred) {
  Open(Large());
  EXPECT_EQ(Window->size(), QSize(940, 800));
  EXPECT_TRUE(Large()->availableGeometry().contains(Outer()));
  EXPECT_TRUE(IsCentredIn(Outer(), Large()->availableGeometry()));
}

// At 1024 x 600 the form's 800 pixels of height do not fit: the window takes the screen's
// height, keeps the form's width, and its button bar is on the screen.
TEST_F(WindowPlacement, OnASmallScreenItFitsAndIsCentred) {
  Open(Small());
  const QRect available = Small()->availableGeometry();
  EXPECT_TRUE(available.contains(Outer()))
      << "outer " << Outer().width() << "x" << Outer().height();
  EXPECT_TRUE(IsCentredIn(Outer(), available));
  EXPECT_EQ(Window->width(), 940);
  EXPECT_LT(Window->height(), 600);
  EXPECT_EQ(Outer().height(), 600) << "as tall as the screen lets it be";
  for (const char* name : {"btnGenCert", "btnClear", "btnAbout"}) {
    SCOPED_TRACE(name);
    const auto* button = Control<QPushButton>(name);
    const QRect onScreen(button->mapToGlobal(QPoint(0, 0)), button->size());
    EXPECT_TRUE(available.contains(onScreen));
  }
}

struct Remembered {
  const char* name;
  TWindowPlacement saved;
  bool restored;
};
void PrintTo(const Remembered& Case, std::ostream* Out) { *Out << Case.name; }

class RememberedPlacement : public WindowPlacement,
                            public testing::WithParamInterface<Remembered> {};

TEST_P(RememberedPlacement, IsRestoredOnlyWhenItFitsOnAScreen) {
  const Remembered& c = GetParam();
  Platform.WindowPlacementSetting = c.saved;
  Open(Large());
  if (c.restored) {
    EXPECT_EQ(Placement(), c.saved);
  } else {
    EXPECT_EQ(Window->size(), QSize(940, 800));
    EXPECT_TRUE(IsCentredIn(Outer(), Large()->availableGeometry()));
  }
  // Wherever it opened, the whole window is on a screen.
  const QScreen* on = QGuiApplication::screenAt(Outer().center());
  ASSERT_NE(on, nullptr);
  EXPECT_TRUE(on->availableGeometry().contains(Outer()));
}

INSTANTIATE_TEST_SUITE_P(
    Places, RememberedPlacement,
    testing::Values(Remembered{"OnTheLargeScreen", {100, 80, 1000, 700}, true},
                    Remembered{"SmallerThanTheForm", {300, 200, 820, 600}, true},
                    Remembered{"OnTheSmallScreen", {1920 + 20, 10, 960, 560}, true},
                    Remembered{"OffEveryScreen", {5000, 100, 940, 800}, false},
                    Remembered{"AboveTheScreens", {100, -700, 940, 800}, false},
                    Remembered{"LargerThanAnyScreen", {0, 0, 2500, 1300}, false},
                    Remembered{"AcrossTwoScreens", {1500, 100, 940, 800}, false},
                    Remembered{"TooTallForTheSmallScreen", {1920, 0, 940, 800}, false}),
    [](const auto& Info) { return std::string(Info.param.name); });

// Closing keeps where the window stood and its size, for the next start.
TEST_F(WindowPlacement, ClosingRemembersThePlaceAndSize) {
  Open(Large());
  ASSERT_TRUE(Platform.WindowPlacementWrites.empty());
  Window->resize(1000, 720);
  Window->move(210, 150);
  QApplication::processEvents();
  const TWindowPlacement left = Placement();
  ASSERT_EQ(left.Width, 1000);
  ASSERT_EQ(left.X, 210);
  Window->close();
  ASSERT_EQ(Platform.WindowPlacementWrites.size(), 1u);
  EXPECT_EQ(Platform.WindowPlacementWrites[0], left);

  // The next window opens there.
  Open(Large());
  EXPECT_EQ(Placement(), left);
}

}  // namespace
}  // namespace velmora::test
