#include "app/window/select_dir_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include "app/window/dialog_runner.h"

namespace orx {

TulFlags::TulFlags(std::initializer_list<TulFlag> flags) {
  for (const TulFlag flag : flags) bits_ |= Bit(flag);
}

bool TSelectDirDialog::Execute() {
  directory_.clear();
  QFileDialog dialog(parent_, QString::fromStdString(caption_));
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  if (!startFolder_.empty()) {
    // A folder removed since opens its nearest existing parent.
    QDir start(QString::fromStdString(startFolder_));
    while (!start.exists() && start.cdUp()) {
    }
    if (start.exists()) dialog.setDirectory(start);
  }
  if (!runner_.Run(dialog)) return false;

  const QString chosen = dialog.selectedFiles().value(0);
  if (chosen.isEmpty()) return false;
  // The chooser lets a name be typed; with file-system folders only, a name
  // that is not an existing folder is no choice at all.
  if (flags_.Has(TulFlag::sRETURNONLYFSDIRS) && !QFileInfo(chosen).isDir()) return false;
  directory_ = QDir::cleanPath(chosen).toStdString();
  startFolder_ = directory_;
  return true;
}

}  // namespace orx
