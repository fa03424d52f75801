// The floor for a Qt program's start: an empty QMainWindow of our window's size.
#include "bench/WindowProbe.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  TExposeReporter reporter;
  app.installEventFilter(&reporter);
  QMainWindow window;
  window.resize(940, 800);  // the form's own size
  window.show();
  return QApplication::exec();
}
