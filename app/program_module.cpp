#include "app/program_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "support/c_handle.h"
#include "app/module_place.h"
#include "support/files.h"

namespace orx {
namespace {

using ModuleHandle = CHandle<void, dlclose>;

std::string LoaderError() {
  const char* text = dlerror();
  return text ? text : "";
}

}  // namespace

std::vector<std::string> ModuleCandidates(const std::string& programFolder, std::string_view file) {
  const std::filesystem::path folder(programFolder);
  return {(folder / file).string(),
          (folder / kModuleFolderFromProgram / file).lexically_normal().string()};
}

void* OpenModuleEntry(std::string_view file, const char* entryName, std::string& error) {
  const std::string folder = ProgramFolder();
  if (folder.empty()) {
    error = "не найден каталог программы";
    return nullptr;
  }
  const std::vector<std::string> candidates = ModuleCandidates(folder, file);
  std::string path;
  for (const std::string& candidate : candidates) {
    if (access(candidate.c_str(), F_OK) == 0) {
      path = candidate;
      break;
    }
  }
  if (path.empty()) {
    error = "нет файла " + candidates.back();
    return nullptr;
  }

  // The toolkit and the TLS libraries keep process-wide state that their own
  // exit handlers tear down; unloading them before the process ends is not
  // supported. With NODELETE the module outlives the handle closed here.
  const ModuleHandle module(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
  if (!module) {
    error = LoaderError();
    return nullptr;
  }
  void* entry = dlsym(module.get(), entryName);
  if (entry == nullptr) error = LoaderError();
  return entry;
}

}  // namespace orx
