// TJobRunner: the window's background work. Key generation, issuance with its saves and
// store listings run on a worker thread, so the window keeps painting and answering while
// they take their time. A job owns what it works on; the window only sees the result, on its
// own thread, when the job is over.
#pragma once

#include "ui/Platform.h"

#include <QObject>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QLabel;
class QProgressBar;
class QWidget;

namespace velmora {

class TJobRunner : public QObject {
  Q_OBJECT

 public:
  // A command shows the busy cursor and is not dropped by closing the window without asking;
  // a listing is neither.
  enum class TKind { Command, Listing };

  // Window is where results are delivered and whose focus is kept; Commands are the controls
  // that would conflict with a job and are disabled while one runs. All are borrowed.
  TJobRunner(IPlatform& Platform, QWidget* Window, QProgressBar* Progress, QLabel* ProgressText,
             std::vector<QWidget*> Commands);

  // Runs Work on a worker thread and Done on the window's thread when it is over, whatever
  // way. Work must catch its own errors. Meanwhile the conflicting commands are disabled, the
  // busy cursor (for a command) and the progress bar show, and the window goes on painting.
  // The focus that disabling the commands sent on comes back to the control that had it once
  // the job is over, unless the user moved it meanwhile.
  void Run(TKind Kind, std::function<void()> Work, std::function<void()> Done);

  // Whether a job runs, and whether it is a command.
  bool Running() const noexcept { return FRunning; }
  bool CommandRunning() const noexcept { return FCommandRunning; }

  // How a job's ending is run; by default guarded, so an escaping error becomes a message.
  void SetEndingRunner(std::function<void(const std::function<void()>&)> Runner) {
    FEndingRunner = std::move(Runner);
  }

  // Runs F on the window's thread from a worker: queued, or waiting for its end when the
  // worker needs the answer (a question to the user).
  void PostToWindow(std::function<void()> F);
  void CallOnWindow(const std::function<void()>& F);

 signals:
  // After each job's ending, once nothing runs any more.
  void Idle();

 private:
  void Start(TKind Kind, std::function<void()> Work, std::function<void()> Done);
  void Finish(const std::function<void()>& Done);
  void SetCommandsEnabled(bool Enabled);

  IPlatform& FPlatform;
  QWidget* FWindow;
  QProgressBar* FProgress;
  QLabel* FProgressText;
  std::vector<QWidget*> FCommands;
  bool FRunning = false;
  bool FCommandRunning = false;
  std::unique_ptr<TBusyCursor> FCursor;
  std::vector<std::pair<QWidget*, bool>> FDisabledCommands;
  std::function<void(const std::function<void()>&)> FEndingRunner;
};

}  // namespace velmora
