#pragma once
// Every dialog the window shows goes through a runner, so that tests can
// answer a dialog instead of a person.
#include <QMessageBox>

class QFileDialog;
class QInputDialog;

namespace orx {

class DialogRunner {
 public:
  virtual ~DialogRunner() = default;
  // Shows the prepared dialog and returns true when it was accepted; the
  // caller then reads the dialog's selection.
  virtual bool Run(QFileDialog& dialog) = 0;
  // Shows the prepared message box and returns the button chosen (the
  // box's escape button when it was closed otherwise).
  virtual QMessageBox::StandardButton Ask(QMessageBox& box) = 0;
  // Shows a dialog that asks for a line of text (a token's PIN) and returns
  // true when it was accepted; modal unless a runner answers it itself.
  virtual bool RunInput(QInputDialog& dialog);
};

// The ordinary runner: the dialog runs modally.
class ModalDialogRunner final : public DialogRunner {
 public:
  bool Run(QFileDialog& dialog) override;
  QMessageBox::StandardButton Ask(QMessageBox& box) override;
};

}  // namespace orx
