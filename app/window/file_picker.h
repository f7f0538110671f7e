#pragma once
// The one file picker that the three "..." buttons share. It remembers the
// last file chosen through it, whatever its kind, and opens with that name.
#include <QString>
#include <optional>

class QWidget;

namespace orx {

class DialogRunner;

struct FilePickerSetup {
  QString defaultSuffix;  // added to a name typed without one
  QString filter;         // the pattern alone, e.g. "*.xml"
  QString title;
};

class FilePicker {
 public:
  // parent and runner are not owned and must outlive the picker.
  FilePicker(QWidget* parent, DialogRunner& runner) : parent_(parent), runner_(runner) {}

  // The full path of the chosen file (it need not exist), or nullopt when
  // the picker was cancelled.
  [[nodiscard]] std::optional<QString> Execute(const FilePickerSetup& setup);
  const QString& lastFile() const { return lastFile_; }

 private:
  QWidget* parent_;
  DialogRunner& runner_;
  QString lastFile_;
};

}  // namespace orx
