#include "app/window/about_box.h"

#include <QFile>
#include <QMessageBox>

#include "app/window/dialog_runner.h"
#include "support/version.h"

namespace orx {

void ShowAboutBox(QWidget* parent, DialogRunner& runner) {
  QMessageBox box(parent);
  box.setObjectName(QStringLiteral("AboutBox"));
  box.setWindowTitle(QStringLiteral("О программе"));
  box.setIconPixmap(ProgramIcon().pixmap(64, 64));
  box.setTextFormat(Qt::PlainText);
  box.setText(QStringLiteral("Конвертор XML (Convertor ORX), версия ") +
              QString::fromUtf8(kVersionText) +
              QStringLiteral("\n\nФормирование файлов пакетов сертификатов происхождения "
                             "и отправка сертификатов на сервер.\n\n"
                             "Распространяется по лицензии MIT; текст лицензии под кнопкой "
                             "подробностей."));
  QFile licence(QStringLiteral(":/orx/LICENSE"));
  if (licence.open(QIODevice::ReadOnly)) box.setDetailedText(QString::fromUtf8(licence.readAll()));
  box.setStandardButtons(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  runner.Ask(box);
}

QIcon ProgramIcon() {
  QIcon bundled;
  for (const int size : {32, 48, 64, 128}) {
    bundled.addFile(QStringLiteral(":/orx/convertor-orx-%1.png").arg(size), QSize(size, size));
  }
  return QIcon::fromTheme(QStringLiteral("convertor-orx"), bundled);
}

}  // namespace orx
