#include "app/window/document_kinds.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

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

// An absolute folder, or "" for an unset, empty or relative value: a
// relative one would put files under whatever the current folder is.
std::string AbsoluteOrEmpty(const char* value) {
  return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

std::string EnvFolder(const char* name) { return AbsoluteOrEmpty(std::getenv(name)); }

std::string HomeFolder() {
  if (std::string home = EnvFolder("HOME"); !home.empty()) return home;
  // A service or a cleared environment still has a user with a home.
  const passwd* user = getpwuid(getuid());
  return AbsoluteOrEmpty(user != nullptr ? user->pw_dir : nullptr);
}

std::string DataHome(const char* xdgDataHome, const char* home) {
  if (std::string folder = AbsoluteOrEmpty(xdgDataHome); !folder.empty()) return folder;
  const std::string homeFolder = AbsoluteOrEmpty(home);
  return homeFolder.empty() ? std::string() : JoinPath(homeFolder, ".local/share");
}

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
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

SearchPlaces InstallSearchPlaces(std::string_view programFolder, const char* xdgDataHome,
                                 const char* home) {
  const std::string program = programFolder.empty() ? std::string("/") : std::string(programFolder);
  SearchPlaces places{{program}, {program}};
  const std::string dataHome = DataHome(xdgDataHome, home);
  if (!dataHome.empty()) places.keyFolders.push_back(JoinPath(dataHome, "convertor-orx/keys"));
  places.keyFolders.push_back("/etc/convertor-orx/keys");
  if (!dataHome.empty()) {
    places.schemaFolders.push_back(JoinPath(dataHome, "convertor-orx/schemas"));
  }
  places.schemaFolders.push_back("/etc/convertor-orx/schemas");
  places.schemaFolders.push_back("/usr/share/convertor-orx/schemas");
  return places;
}

SearchPlaces InstallSearchPlaces(std::string_view programFolder) {
  const std::string home = HomeFolder();
  return InstallSearchPlaces(programFolder, std::getenv("XDG_DATA_HOME"),
                             home.empty() ? nullptr : home.c_str());
}

std::optional<std::string> FindKeyFileIn(const SearchPlaces& places, std::string_view pattern) {
  for (const std::string& folder : places.keyFolders) {
    if (const auto name = FindKeyFile(folder, pattern)) return JoinPath(folder, *name);
  }
  return std::nullopt;
}

std::optional<std::string> FindSchema(const SearchPlaces& places, std::string_view schemaName) {
  for (const std::string& folder : places.schemaFolders) {
    std::string path = JoinPath(folder, schemaName);
    if (IsRegularFile(path)) return path;
  }
  return std::nullopt;
}

std::string SchemaNotFoundMessage(const SearchPlaces& places, std::string_view schemaName) {
  std::string message = "Не найден файл схемы " + std::string(schemaName) + ", искали в папках:";
  for (const std::string& folder : places.schemaFolders) message += "\r\n    " + folder;
  return message;
}

std::string WindowStateFilePath() {
  constexpr std::string_view kFileName = "ConvertorOrx.xml";
  std::string folder = EnvFolder("APPDATA");
  if (folder.empty()) folder = EnvFolder("XDG_CONFIG_HOME");
  if (folder.empty()) {
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    folder = JoinPath(home, ".config");
  }
  return JoinPath(folder, kFileName);
}

}  // namespace orx
