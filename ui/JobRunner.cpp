#include "ui/JobRunner.h"

#include <QFutureWatcher>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QWidget>
#include <QtConcurrent/QtConcurrentRun>

namespace velmora {

TJobRunner::TJobRunner(IPlatform& Platform, QWidget* Window, QProgressBar* Progress,
                       QLabel* ProgressText, std::vector<QWidget*> Commands)
    : QObject(Window),
      FPlatform(Platform),
      FWindow(Window),
      FProgress(Progress),
      FProgressText(ProgressText),
      FCommands(std::move(Commands)),
      FEndingRunner(
          [&Platform](const std::function<void()>& Done) { RunGuarded(Platform, Done); }) {}

void TJobRunner::Run(TKind Kind, std::function<void()> Work, std::function<void()> Done) {
  const QPointer<QWidget> before = FWindow->focusWidget();
  auto landed = std::make_shared<QPointer<QWidget>>();
  Start(Kind, std::move(Work), [this, before, landed, Done = std::move(Done)] {
    if (before && before != *landed && FWindow->focusWidget() == *landed && before->isEnabled() &&
        before->isVisible())
      before->setFocus(Qt::OtherFocusReason);
    Done();
  });
  *landed = FWindow->focusWidget();
}

void TJobRunner::Start(TKind Kind, std::function<void()> Work, std::function<void()> Done) {
  FRunning = true;
  FCommandRunning = Kind == TKind::Command;
  if (FCommandRunning) FCursor = std::make_unique<TBusyCursor>(FPlatform);
  SetCommandsEnabled(false);
  FProgress->setVisible(true);
  auto* watcher = new QFutureWatcher<void>(FWindow);
  connect(watcher, &QFutureWatcher<void>::finished, FWindow,
          [this, watcher, Done = std::move(Done)] {
            watcher->deleteLater();
            Finish(Done);
          });
  watcher->setFuture(QtConcurrent::run(std::move(Work)));
}

// The commands come back before the job's own ending, which may enable one of them (a new
// key enables "Generate Certificate"); its boxes show while the busy cursor is still up.
void TJobRunner::Finish(const std::function<void()>& Done) {
  SetCommandsEnabled(true);
  FProgress->setVisible(false);
  FProgressText->clear();
  FEndingRunner(Done);
  FCursor.reset();
  FRunning = false;
  FCommandRunning = false;
  emit Idle();
}

// Disabled while a job runs, never queued: a click meanwhile does nothing. Each command gets
// back the state it had, which for "Generate Certificate" depends on the key pair held.
void TJobRunner::SetCommandsEnabled(bool Enabled) {
  if (!Enabled) {
    FDisabledCommands.clear();
    for (QWidget* command : FCommands) {
      FDisabledCommands.emplace_back(command, command->isEnabled());
      command->setEnabled(false);
    }
    return;
  }
  for (const auto& [command, wasEnabled] : FDisabledCommands) command->setEnabled(wasEnabled);
  FDisabledCommands.clear();
}

void TJobRunner::PostToWindow(std::function<void()> F) {
  QMetaObject::invokeMethod(FWindow, std::move(F), Qt::QueuedConnection);
}

// Blocks the worker until the window has run F. If the window goes first, Qt drops the call
// and releases the worker.
void TJobRunner::CallOnWindow(const std::function<void()>& F) {
  QMetaObject::invokeMethod(FWindow, F, Qt::BlockingQueuedConnection);
}

}  // namespace velmora
