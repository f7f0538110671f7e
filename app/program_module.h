#pragma once
// Modules the executable opens only when it needs them, so that what most
// runs never use is never loaded: the window with its toolkit, and the server
// job with libcurl and the libraries that come with it.
#include <string>
#include <string_view>
#include <vector>

namespace orx {

// Where a module file may lie, in the order tried: beside the program (the
// build tree), then the installed place relative to it.
std::vector<std::string> ModuleCandidates(const std::string& programFolder, std::string_view file);

// The address of entryName in the module file, which stays loaded until the
// process ends. nullptr when there is none, with the reason in error.
[[nodiscard]] void* OpenModuleEntry(std::string_view file, const char* entryName, std::string& error);

}  // namespace orx
