// Background work: key generation, issuance with its saves and store listings run on a
// worker thread, so the window keeps painting and answering while they take their time.
// A job owns what it works on (the builder is handed over and handed back); the window only
// sees the result, on its own thread, when the job is over.
#include "ui/VelmoraMain.h"

#include "core/FileNameText.h"
#include "ui_VelmoraMain.h"

#include <QCloseEvent>
#include <QFutureWatcher>
#include <QPushButton>
#include <QtConcurrent/QtConcurrentRun>

namespace velmora {

void TfrmVelmora::RunInBackground(TJobKind Kind, std::function<void()> Work,
                                  std::function<void()> Done) {
  FJobRunning = true;
  FCommandRunning = Kind == TJobKind::Command;
  if (FCommandRunning) FJobCursor = std::make_unique<TBusyCursor>(FPlatform);
  SetConflictingCommandsEnabled(false);
  ui->pbProgress->setVisible(true);
  auto* watcher = new QFutureWatcher<void>(this);
  connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher, Done] {
    watcher->deleteLater();
    JobFinished(Done);
  });
  watcher->setFuture(QtConcurrent::run(std::move(Work)));
}

// The commands come back before the job's own ending, which may enable one of them (a new
// key enables "Generate Certificate"); its boxes show while the busy cursor is still up. A
// failure box of a CA-signed issuance may then say what the CA certificate file holds instead
// of a certificate.
void TfrmVelmora::JobFinished(const std::function<void()>& Done) {
  SetConflictingCommandsEnabled(true);
  ui->pbProgress->setVisible(false);
  ui->lblProgress->clear();
  {
    const TPlainWordsCACertFile words(
        FPlatform, ui->rbCASign->isChecked() ? TextToFileName(ui->edtCACertFile->text()) : "");
    RunGuarded(FPlatform, Done);
  }
  FJobCursor.reset();
  FJobRunning = false;
  FCommandRunning = false;
  if (FCloseWhenDone) {
    close();
    return;
  }
  if (FListingWanted) {
    FListingWanted = false;
    RunGuarded(FPlatform, [this] { RefreshStoreList(); });
  }
}

// Disabled while a job runs, never queued: a click meanwhile does nothing. Each command gets
// back the state it had, which for "Generate Certificate" depends on the key pair held.
void TfrmVelmora::SetConflictingCommandsEnabled(bool Enabled) {
  if (!Enabled) {
    FDisabledCommands.clear();
    for (QWidget* command :
         std::initializer_list<QWidget*>{ui->btnGenKey, ui->btnGenCert, ui->btnClear,
                                         ui->btnStoreRefresh, ui->btnStoreLoadCACert,
                                         ui->btnStoreLoadCAKey, ui->btnStoreDelete,
                                         ui->btnBrowseStoreDir}) {
      FDisabledCommands.emplace_back(command, command->isEnabled());
      command->setEnabled(false);
    }
    return;
  }
  for (const auto& [command, wasEnabled] : FDisabledCommands) command->setEnabled(wasEnabled);
  FDisabledCommands.clear();
}

void TfrmVelmora::PostToWindow(std::function<void()> F) {
  QMetaObject::invokeMethod(this, std::move(F), Qt::QueuedConnection);
}

// Blocks the worker until the window has run F. If the window goes first, Qt drops the call
// and releases the worker.
void TfrmVelmora::CallOnWindow(const std::function<void()>& F) {
  QMetaObject::invokeMethod(this, F, Qt::BlockingQueuedConnection);
}

void TfrmVelmora::btnCancelKeyClick() {
  if (FCancelKey) FCancelKey();
}

// Closing while a command runs asks first. Yes stops a key generation, lets a save finish
// its files, and closes when the job is over; No keeps working. A listing is simply dropped.
void TfrmVelmora::closeEvent(QCloseEvent* Event) {
  if (FCommandRunning) {
    Event->ignore();
    if (FCloseWhenDone || !FPlatform.ConfirmYesNo("Work is still in progress. Stop it and quit?"))
      return;
    FCloseWhenDone = true;
    if (FCancelKey) FCancelKey();
    return;
  }
  RunGuarded(FPlatform, [this] { FormClose(); });
  QMainWindow::closeEvent(Event);
}

}  // namespace velmora
