#pragma once
// Modules the executable opens only when it needs them, so that what most
// runs never use is never loaded: the window with its toolkit, and the server
// job with libcurl and the libraries that come with it. They lie beside the
// core library they share with the executable: in the build folder, or in
// <libdir>/convertor-orx when installed.
#include <string>
#include <string_view>

namespace orx {

// The folder of the core library this code was loaded from; empty when the
// loader cannot tell.
std::string CoreLibraryFolder();

// Checks that the file at path can be handed to the loader: an ELF shared
// object of this machine's class, byte order and architecture, long enough
// to hold its program headers. Empty when it is; otherwise the reason.
// A truncated or foreign file would otherwise fault inside the loader.
std::string ModuleFileProblem(const std::string& path);

// The address of entryName in the module file, which stays loaded until the
// process ends. nullptr when there is none, with the reason in error.
[[nodiscard]] void* OpenModuleEntry(std::string_view file, const char* entryName, std::string& error);

}  // namespace orx
