#include "app/window_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/startup.h"
#include "app/window_module_place.h"
#include "support/files.h"

namespace orx {
namespace {

struct ModuleCloser {
  void operator()(void* handle) const { dlclose(handle); }
};
using ModuleHandle = std::unique_ptr<void, ModuleCloser>;

std::string LoaderError() {
  const char* text = dlerror();
  return text ? text : "";
}

int MissingWindow(const std::string& detail) {
  const std::string line = "Окно недоступно: не загружен модуль окна " +
                           std::string(kWindowModuleFile) + " (" + detail +
                           "); для работы без окна добавьте HIDE, см. --help.\n";
  std::fputs(line.c_str(), stderr);
  return kExitMissingField;
}

}  // namespace

std::vector<std::string> WindowModuleCandidates(const std::string& programFolder) {
  const std::filesystem::path folder(programFolder);
  return {(folder / kWindowModuleFile).string(),
          (folder / kWindowModuleFolderFromProgram / kWindowModuleFile).lexically_normal().string()};
}

int RunWindowModule(const WindowStart& start) {
  const std::string folder = ProgramFolder();
  if (folder.empty()) return MissingWindow("не найден каталог программы");
  std::string path;
  for (const std::string& candidate : WindowModuleCandidates(folder)) {
    if (access(candidate.c_str(), F_OK) == 0) {
      path = candidate;
      break;
    }
  }
  if (path.empty()) return MissingWindow("нет файла " + WindowModuleCandidates(folder).back());

  // Qt keeps process-wide state its own exit handlers tear down; unloading
  // its libraries before the process ends is not supported, hence NODELETE.
  const ModuleHandle module(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
  if (!module) return MissingWindow(LoaderError());
  const auto entry = reinterpret_cast<WindowEntry>(dlsym(module.get(), kWindowEntryName));
  if (!entry) return MissingWindow(LoaderError());
  return entry(&start);
}

}  // namespace orx
