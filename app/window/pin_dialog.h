#pragma once
// The window's source of a token's PIN: a masked dialog that names the token.
// The server job asks for the PIN from the thread its transfer runs on; the
// dialog is shown on the window's thread all the same, and the asking thread
// waits for the answer.
#include <QObject>
#include <string>
#include <string_view>

#include "support/token_pin.h"

class QWidget;

namespace orx {

class DialogRunner;

class PinDialog final : public QObject, public TokenPinSource {
  Q_OBJECT

 public:
  // parent and runner are not owned and must outlive the dialog source; it
  // must be made on the window's thread.
  PinDialog(QWidget* parent, DialogRunner& runner);

  bool GetPin(std::string_view tokenLabel, TokenPin& pin, std::string& problem) override;

 private:
  bool Ask(const QString& tokenLabel, TokenPin& pin, std::string& problem);

  QWidget* parent_;
  DialogRunner& runner_;
};

}  // namespace orx
