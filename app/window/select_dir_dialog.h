#pragma once
// The folder picker the package job asks for the folder of the package file.
// It shows the toolkit's folder chooser; of the browse options only
// sRETURNONLYFSDIRS has an effect (only an existing folder can be chosen).
#include <cstdint>
#include <initializer_list>
#include <string>

#include "support/folder_picker.h"

class QWidget;

namespace orx {

class DialogRunner;

enum class TulFlag : std::uint8_t {
  sRETURNONLYFSDIRS,
  sDONTGOBELOWDOMAIN,
  sSTATUSTEXT,
  sRETURNFSANCESTORS,
  sBROWSEFORCOMPUTER,
  sBROWSEFORPRINTER,
  sBROWSEINCLUDEFILES,
};

class TulFlags {
 public:
  TulFlags() = default;
  TulFlags(std::initializer_list<TulFlag> flags);
  bool Has(TulFlag flag) const { return (bits_ & Bit(flag)) != 0; }

 private:
  static std::uint8_t Bit(TulFlag flag) { return std::uint8_t(1u << unsigned(flag)); }
  std::uint8_t bits_ = 0;
};

class TSelectDirDialog final : public FolderPicker {
 public:
  // parent (may be null) and runner are not owned and must outlive the picker.
  TSelectDirDialog(QWidget* parent, DialogRunner& runner) : parent_(parent), runner_(runner) {}

  // Clears Directory, shows the chooser and returns true when a folder was
  // chosen; Directory is then its path without a trailing "/" (except "/").
  [[nodiscard]] bool Execute() override;
  std::string Directory() const override { return directory_; }

  // The folder the chooser opens in (its nearest existing folder); each
  // folder chosen replaces it. Empty: the current folder.
  void SetStartFolder(std::string folder) { startFolder_ = std::move(folder); }
  const std::string& StartFolder() const { return startFolder_; }

  void SetCaption(std::string caption) { caption_ = std::move(caption); }
  void SetUlFlags(TulFlags flags) { flags_ = flags; }

 private:
  QWidget* parent_;
  DialogRunner& runner_;
  std::string caption_;
  std::string directory_;
  std::string startFolder_;
  TulFlags flags_;
};

}  // namespace orx
