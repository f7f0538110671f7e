#include "app/window/run_window.h"

#include <QApplication>
#include <QIcon>

#include "app/window/document_kinds.h"
#include "app/window/form_main.h"
#include "support/files.h"

namespace orx {

int RunWindow(int& argc, char** argv, const CommandLineFields& fields, KeyParameters& params,
              EventSink& events, const Clock& clock) {
  QApplication application(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("convertor-orx"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("convertor-orx")));

  TFormMain form({params, events, clock, ProgramFolder(), WindowStateFilePath(), nullptr});
  form.SetFields(fields);
  form.show();
  application.exec();
  return 0;
}

}  // namespace orx
