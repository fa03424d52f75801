// The window probes are programs that start a window the way a program of their kind does and
// say "exposed" on their standard output the moment that window is first on screen, then quit.
// bench_ui times them from the spawn to that line: loading the program and its libraries,
// Qt's platform, building the window and its first expose, all of it.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QWindow>

#include <cstdio>

// Installed on the application before the window is shown, so it sees every window's first
// expose, whichever window that is.
class TExposeReporter : public QObject {
 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (!FReported && Event->type() == QEvent::Expose && Watched->isWindowType() &&
        static_cast<QWindow*>(Watched)->isExposed()) {
      FReported = true;
      std::fputs("exposed\n", stdout);
      std::fflush(stdout);
      QCoreApplication::quit();
    }
    return QObject::eventFilter(Watched, Event);
  }

 private:
  bool FReported = false;
};
