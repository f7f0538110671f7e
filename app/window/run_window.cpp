#include "app/window/run_window.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <QTranslator>

#include "app/message_locale.h"
#include "app/window/about_box.h"
#include "app/window/document_kinds.h"
#include "app/window/form_main.h"
#include "app/window/session_end.h"
#include "support/files.h"

namespace orx {
namespace {

// The toolkit's own texts (file dialog, context menus) in the user's
// language; Russian, the language of every other text of the window, when
// the toolkit has no translation for it.
void LoadToolkitTranslation(QTranslator& translator) {
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (translator.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"), folder) ||
      translator.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                      QStringLiteral("_"), folder)) {
    QCoreApplication::installTranslator(&translator);
  }
}

}  // namespace

int RunWindow(int& argc, char** argv, const CommandLineFields& fields, KeyParameters& params,
              EventSink& events, const Clock& clock) {
  // The file dialog keeps its own settings in the user's configuration
  // folder; they go to a folder that lives as long as the window instead.
  // This must come before the first settings are read.
  const QTemporaryDir toolkitSettings;
  if (toolkitSettings.isValid()) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, toolkitSettings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, toolkitSettings.path());
  }
  QApplication application(argc, argv);
  // The toolkit has set every locale category from the environment.
  FollowUsersLanguage();
  QTranslator translator;
  LoadToolkitTranslation(translator);
  QGuiApplication::setDesktopFileName(QStringLiteral("convertor-orx"));
  QApplication::setWindowIcon(ProgramIcon());

  TFormMain form(
      {params, events, clock, InstallSearchPlaces(ProgramFolder()), WindowStateFilePath(), nullptr});
  form.SetFields(fields);
  const SessionEndSignals sessionEnd;
  QObject::connect(&sessionEnd, &SessionEndSignals::sessionEnds, &form, &TFormMain::EndSession);
  form.show();
  application.exec();
  return 0;
}

}  // namespace orx
