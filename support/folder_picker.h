#pragma once
// The folder picker a job asks for the output folder when the window is shown.
#include <string>

namespace orx {

class FolderPicker {
 public:
  virtual ~FolderPicker() = default;
  // True when the user chose a folder; false when cancelled or not shown.
  [[nodiscard]] virtual bool Execute() = 0;
  // The folder chosen by the last Execute (UTF-8), empty otherwise.
  virtual std::string Directory() const = 0;
};

}  // namespace orx
