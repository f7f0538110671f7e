// How long the window goes without taking in events while a package job
// works on a certificate file: the longest gap between the ticks of a 10 ms
// timer, from the press of "Сформировать файл" to the job's end. While the
// gap stays short the window repaints, names the job's step and takes Cancel.
//   window_stall CERTIFICATES.xml SCHEMA.xsd KEYFILE OUTPUT_FOLDER
// Run with QT_QPA_PLATFORM=offscreen where there is no display.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/window/form_main.h"
#include "app/window/scripted_dialogs.h"
#include "support/clock.h"
#include "support/event_log.h"
#include "support/xml_document.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: window_stall CERTIFICATES.xml SCHEMA.xsd KEYFILE OUTPUT_FOLDER\n", stderr);
    return 2;
  }
  using namespace orx;
  QApplication application(argc, argv);
  InitXmlLibrary();
  const SystemClock clock;
  KeyParameters params = KeyParameters::Initial(clock);
  MemoryEventSink events;
  ScriptedDialogs dialogs;
  dialogs.Push(ScriptedDialogs::Choose(QString::fromLocal8Bit(argv[4])));
  TFormMain form({params, events, clock, SearchPlaces{}, std::string(), &dialogs});
  CommandLineFields fields;
  fields.xmlPath = argv[1];
  fields.xsdPath = argv[2];
  fields.keyFilePath = argv[3];
  form.SetFields(fields);
  form.show();

  QElapsedTimer sinceTick;
  qint64 longestGap = 0;
  QTimer ticks;
  ticks.setInterval(10);
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    longestGap = std::max(longestGap, sinceTick.restart());
  });
  QElapsedTimer job;
  QTimer::singleShot(0, [&] {
    sinceTick.start();
    ticks.start();
    job.start();
    form.ButtonFileClick();
    longestGap = std::max(longestGap, sinceTick.elapsed());
    ticks.stop();
    application.quit();
  });
  application.exec();

  const std::vector<std::string>& lines = form.log().Lines();
  std::printf("job %.2f s, longest gap between window events %lld ms; last line: %s\n",
              double(job.elapsed()) / 1000, static_cast<long long>(longestGap),
              lines.empty() ? "(none)" : lines.back().c_str());
  return lines.empty() || lines.back().rfind("Файл сформирован: ", 0) != 0;
}
