#include "app/window_module.h"

#include <cstdio>

#include "app/module_place.h"
#include "app/program_module.h"
#include "app/startup.h"

namespace orx {
namespace {

int MissingWindow(const std::string& detail) {
  const std::string line = "Окно недоступно: не загружен модуль окна " +
                           std::string(kWindowModuleFile) + " (" + detail +
                           "). Установите пакет convertor-orx-gui или, чтобы работать без окна, "
                           "добавьте HIDE (см. --help).\n";
  std::fputs(line.c_str(), stderr);
  return kExitMissingField;
}

}  // namespace

int RunWindowModule(const WindowStart& start) {
  std::string error;
  const auto entry =
      reinterpret_cast<WindowEntry>(OpenModuleEntry(kWindowModuleFile, kWindowEntryName, error));
  if (!entry) return MissingWindow(error);
  return entry(&start);
}

}  // namespace orx
