#include "app/window/run_window.h"

#include <QApplication>
#include <QMainWindow>

namespace orx {

int RunWindow(int& argc, char** argv, const CommandLineFields&, KeyParameters&, EventSink&,
              const Clock&) {
  QApplication application(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Конвертор XML"));
  window.show();
  return application.exec();
}

}  // namespace orx
