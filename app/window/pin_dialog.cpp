#include "app/window/pin_dialog.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QThread>

#include "app/window/dialog_runner.h"

namespace orx {

bool DialogRunner::RunInput(QInputDialog& dialog) { return dialog.exec() == QDialog::Accepted; }

PinDialog::PinDialog(QWidget* parent, DialogRunner& runner) : parent_(parent), runner_(runner) {}

bool PinDialog::GetPin(std::string_view tokenLabel, TokenPin& pin, std::string& problem) {
  const QString label = QString::fromUtf8(tokenLabel.data(), qsizetype(tokenLabel.size()));
  if (QThread::currentThread() == thread()) return Ask(label, pin, problem);
  bool given = false;
  // The window's thread waits for the transfer in an event loop of its own,
  // which takes this call in.
  QMetaObject::invokeMethod(
      this, [&] { given = Ask(label, pin, problem); }, Qt::BlockingQueuedConnection);
  return given;
}

bool PinDialog::Ask(const QString& tokenLabel, TokenPin& pin, std::string& problem) {
  pin.Clear();
  QInputDialog dialog(parent_);
  dialog.setWindowTitle(QStringLiteral("PIN-код токена"));
  dialog.setLabelText(QStringLiteral("Введите PIN-код токена «%1»:").arg(tokenLabel));
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setTextEchoMode(QLineEdit::Password);
  if (!runner_.RunInput(dialog)) {
    problem = "ввод PIN-кода отменён";
    return false;
  }
  QByteArray typed = dialog.textValue().toUtf8();
  dialog.setTextValue(QString());
  const bool fits = !typed.isEmpty() && pin.Assign(std::string_view(typed.data(), typed.size()));
  typed.fill('\0');
  if (!fits) {
    problem = typed.isEmpty() ? "PIN-код не введён"
                              : "PIN-код длиннее " + std::to_string(TokenPin::kMaxLength) + " знаков";
    return false;
  }
  return true;
}

}  // namespace orx
