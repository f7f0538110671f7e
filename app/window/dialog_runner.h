#pragma once
// Every dialog the window shows goes through a runner, so that tests can
// answer a dialog instead of a person.
class QFileDialog;

namespace orx {

class DialogRunner {
 public:
  virtual ~DialogRunner() = default;
  // Shows the prepared dialog and returns true when it was accepted; the
  // caller then reads the dialog's selection.
  [[nodiscard]] virtual bool Run(QFileDialog& dialog) = 0;
};

// The ordinary runner: the dialog runs modally.
class ModalDialogRunner final : public DialogRunner {
 public:
  [[nodiscard]] bool Run(QFileDialog& dialog) override;
};

}  // namespace orx
