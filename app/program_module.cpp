#include "app/program_module.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "support/c_handle.h"
#include "support/unique_fd.h"

namespace orx {
namespace {

using ModuleHandle = CHandle<void, dlclose>;

std::string LoaderError() {
  const char* text = dlerror();
  return text ? text : "";
}

// Reads exactly size bytes at offset; false at the end of the file or on an
// error (errno tells which: 0 for the end).
bool ReadAt(int fd, void* buffer, std::size_t size, off_t offset) {
  auto* bytes = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t got = ::pread(fd, bytes, size, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = 0;
      return false;
    }
    bytes += got;
    size -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

// The ELF header of the core library as the loader mapped it: what a module
// for this process must match.
const ElfW(Ehdr)* OwnElfHeader() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&CoreLibraryFolder), &info) == 0 || !info.dli_fbase) {
    return nullptr;
  }
  const auto* header = static_cast<const ElfW(Ehdr)*>(info.dli_fbase);
  return std::memcmp(header->e_ident, ELFMAG, SELFMAG) == 0 ? header : nullptr;
}

}  // namespace

std::string CoreLibraryFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&CoreLibraryFolder), &info) == 0 || !info.dli_fname ||
      !*info.dli_fname) {
    return {};
  }
  std::error_code error;
  const std::filesystem::path library = std::filesystem::absolute(info.dli_fname, error);
  if (error) return {};
  return library.lexically_normal().parent_path().string();
}

std::string ModuleFileProblem(const std::string& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (!fd.valid() || ::fstat(fd.get(), &status) != 0) {
    return "не удалось прочитать файл " + path + ": " + std::strerror(errno);
  }
  if (!S_ISREG(status.st_mode)) return "файл " + path + " не является обычным файлом";
  const auto size = static_cast<std::uint64_t>(status.st_size);
  const std::string cut = "файл " + path + " обрезан: " + std::to_string(size) + " байт";

  ElfW(Ehdr) header{};
  if (!ReadAt(fd.get(), &header, sizeof header, 0)) {
    if (errno != 0) return "не удалось прочитать файл " + path + ": " + std::strerror(errno);
    return std::memcmp(&header, ELFMAG, std::min<std::uint64_t>(size, SELFMAG)) == 0
               ? cut
               : "файл " + path + " не является модулем ELF";
  }
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_type != ET_DYN) {
    return "файл " + path + " не является модулем ELF";
  }
  const ElfW(Ehdr)* own = OwnElfHeader();
  constexpr unsigned char kOwnClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
  if (header.e_ident[EI_CLASS] != kOwnClass ||
      (own != nullptr && (header.e_ident[EI_DATA] != own->e_ident[EI_DATA] ||
                          header.e_machine != own->e_machine))) {
    return "файл " + path + " собран для другой архитектуры";
  }
  if (header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phnum == 0) {
    return "файл " + path + " не является модулем ELF";
  }
  // The loader maps every segment from the file; one that the file does not
  // hold whole would fault when touched.
  const std::uint64_t tableEnd =
      static_cast<std::uint64_t>(header.e_phoff) + std::uint64_t{header.e_phnum} * sizeof(ElfW(Phdr));
  if (header.e_phoff > size || tableEnd > size) return cut;
  std::vector<ElfW(Phdr)> segments(header.e_phnum);
  if (!ReadAt(fd.get(), segments.data(), segments.size() * sizeof(ElfW(Phdr)),
              static_cast<off_t>(header.e_phoff))) {
    return errno != 0 ? "не удалось прочитать файл " + path + ": " + std::strerror(errno) : cut;
  }
  for (const ElfW(Phdr)& segment : segments) {
    if (segment.p_type != PT_LOAD && segment.p_type != PT_DYNAMIC) continue;
    if (segment.p_offset > size || segment.p_filesz > size - segment.p_offset) return cut;
  }
  return {};
}

void* OpenModuleEntry(std::string_view file, const char* entryName, std::string& error) {
  const std::string folder = CoreLibraryFolder();
  if (folder.empty()) {
    error = "не найден каталог библиотеки программы";
    return nullptr;
  }
  const std::string path = (std::filesystem::path(folder) / file).string();
  if (access(path.c_str(), F_OK) != 0) {
    error = "нет файла " + path;
    return nullptr;
  }
  error = ModuleFileProblem(path);
  if (!error.empty()) return nullptr;

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
