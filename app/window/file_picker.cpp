#include "app/window/file_picker.h"

#include <QFileDialog>
#include <QFileInfo>

#include "app/window/dialog_runner.h"

namespace orx {

bool ModalDialogRunner::Run(QFileDialog& dialog) { return dialog.exec() == QDialog::Accepted; }

QMessageBox::StandardButton ModalDialogRunner::Ask(QMessageBox& box) {
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

std::optional<QString> FilePicker::Execute(const FilePickerSetup& setup) {
  QFileDialog dialog(parent_, setup.title);
  // The toolkit's own dialog on every desktop, so that it behaves the same
  // whatever platform theme is installed.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilter(setup.filter);
  dialog.setDefaultSuffix(setup.defaultSuffix);
  if (!lastFile_.isEmpty()) {
    const QFileInfo last(lastFile_);
    dialog.setDirectory(last.absolutePath());
    dialog.selectFile(last.fileName());
  }
  if (!runner_.Run(dialog)) return std::nullopt;
  const QString chosen = dialog.selectedFiles().value(0);
  if (chosen.isEmpty()) return std::nullopt;
  lastFile_ = chosen;
  return chosen;
}

}  // namespace orx
