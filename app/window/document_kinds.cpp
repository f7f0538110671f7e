#include "app/window/document_kinds.h"

#include <cstdlib>

#include "support/files.h"

namespace orx {
namespace {

// Regular files, folders, hidden and system entries alike: the archive bit
// decides afterwards.
constexpr std::uint32_t kAnyAttributes = 0x3F;

struct SearchCloser {
  TSearchRecW& rec;
  ~SearchCloser() { FindCloseW(rec); }
};

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

}  // namespace

std::optional<std::string> FindKeyFile(std::string_view folder, std::string_view pattern) {
  TSearchRecW rec;
  const SearchCloser closer{rec};
  const std::string mask = std::string(folder) + "/" + std::string(pattern);
  for (int status = FindFirstW(mask, kAnyAttributes, rec); status == 0;
       status = FindNextW(rec)) {
    if (rec.Attributes & kAttrArchive) return rec.Name;
  }
  return std::nullopt;
}

std::string WindowStateFilePath() {
  constexpr std::string_view kFileName = "ConvertorOrx.xml";
  std::string folder = EnvOrEmpty("APPDATA");
  if (folder.empty()) folder = EnvOrEmpty("XDG_CONFIG_HOME");
  if (folder.empty()) folder = JoinPath(EnvOrEmpty("HOME"), ".config");
  return JoinPath(folder, kFileName);
}

}  // namespace orx
