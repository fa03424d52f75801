// Long work runs in the background: the window answers meanwhile, conflicting commands are
// disabled rather than queued, key generation can be cancelled, and closing asks first.
#include "tests/ui/CommandFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <thread>

namespace velmora::test {
namespace {

class Jobs : public CommandFixture {
 protected:
  // Starts an RSA-4096 generation and holds it at its steps until it is cancelled, so it is
  // still running whatever the test does meanwhile, on a fast machine or a slow one. Returns
  // once the job has reached its first step.
  void StartHeldKey() {
    Window->KeyGenerationStep = [this](const std::atomic<bool>& Cancelled) {
      Held = true;
      // Let go after a minute at most: a cancel that never arrives then shows as a finished
      // key pair in the test's checks, not as a hung test program.
      const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
      while (!Cancelled.load() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    Press("rbRSA");
    Control<QComboBox>("cmbRSABits")->setCurrentText(QStringLiteral("4096"));
    QTest::mouseClick(Control<QPushButton>("btnGenKey"), Qt::LeftButton);
    ASSERT_TRUE(Window->JobRunning());
    ASSERT_TRUE(QTest::qWaitFor([this] { return Held.load(); }, 60000))
        << "the generation never reached its first step";
  }

  std::atomic<bool> Held{false};

  bool Enabled(const char* Name) const { return Control<QWidget>(Name)->isEnabled(); }

  int LinesWith(const std::string& Text) const {
    int count = 0;
    for (const QString& line : LogLines())
      if (line.endsWith(QString::fromStdString(Text))) ++count;
    return count;
  }
};

TEST_F(Jobs, KeyGenerationRunsAsideAndCancelLeavesNoKey) {
  StartHeldKey();
  // Visible while the work goes on: the log line, the progress bar, Cancel; the conflicting
  // commands are disabled, and a click on one of them does nothing.
  EXPECT_EQ(LinesWith("Generating RSA-4096 key pair ..."), 1);
  EXPECT_TRUE(Control<QProgressBar>("pbProgress")->isVisible());
  EXPECT_TRUE(Enabled("btnCancelKey"));
  for (const char* command : {"btnGenKey", "btnGenCert", "btnClear", "btnStoreRefresh",
                              "btnStoreDelete", "btnBrowseStoreDir"})
    EXPECT_FALSE(Enabled(command)) << command;
  EXPECT_EQ(Platform.BusyDepth, 1);
  QTest::mouseClick(Control<QPushButton>("btnGenKey"), Qt::LeftButton);

  QTest::mouseClick(Control<QPushButton>("btnCancelKey"), Qt::LeftButton);
  WaitIdle();
  EXPECT_EQ(LinesWith("Generating RSA-4096 key pair ..."), 1) << "the second click was queued";
  EXPECT_TRUE(IsStampedLine(LogLines().back(), "Key generation cancelled."));
  EXPECT_EQ(Window->Builder().Key(), nullptr);
  EXPECT_TRUE(Platform.Messages.empty());
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
  EXPECT_FALSE(Enabled("btnCancelKey"));
  EXPECT_TRUE(Enabled("btnGenKey"));
  EXPECT_FALSE(Control<QProgressBar>("pbProgress")->isVisible());
  EXPECT_EQ(Platform.BusyDepth, 0);
}

TEST_F(Jobs, ClosingDuringWorkAsksNoKeepsWorkingYesStopsAndCloses) {
  StartHeldKey();
  Platform.ConfirmAnswers = {false};
  Window->close();
  EXPECT_EQ(Platform.Confirmations,
            std::vector<std::string>{"Work is still in progress. Stop it and quit?"});
  EXPECT_TRUE(Window->isVisible());
  EXPECT_TRUE(Window->JobRunning());

  Platform.ConfirmAnswers = {true};
  Window->close();
  WaitIdle();
  EXPECT_FALSE(Window->isVisible());
  EXPECT_EQ(Window->Builder().Key(), nullptr);
  EXPECT_EQ(Platform.Confirmations.size(), 2u);
}

TEST_F(Jobs, AFailedJobShowsItsBoxAndGivesTheCommandsBack) {
  GenerateKey();
  Type("edtC", "U");  // a one-letter country is refused by the job
  GenerateCertificate();
  ASSERT_EQ(Platform.Messages.size(), 1u);
  EXPECT_EQ(Platform.Messages[0].rfind("Certificate generation failed:\n", 0), 0u);
  for (const char* command : {"btnGenKey", "btnGenCert", "btnClear", "btnStoreRefresh"})
    EXPECT_TRUE(Enabled(command)) << command;
  EXPECT_NE(Window->Builder().Key(), nullptr) << "the builder came back from the job";
}

TEST_F(Jobs, AWindowGoneBeforeItsJobEndsDropsTheResult) {
  StartHeldKey();
  Window.reset();  // stops the generation; its result has no window to go to
  EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(30000));
  QCoreApplication::processEvents();  // anything the job left for the window is dropped
}

}  // namespace
}  // namespace velmora::test
