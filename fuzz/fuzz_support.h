#pragma once
// A scratch file reused across fuzz iterations, for readers that take a path.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace orx::fuzz {

class ScratchFile {
 public:
  ScratchFile() {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir && *dir ? dir : "/tmp") + "/orx-fuzz-XXXXXX";
    const int fd = ::mkstemp(path_.data());
    if (fd < 0) std::abort();
    ::close(fd);
  }
  ~ScratchFile() { ::unlink(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& Write(std::string_view bytes) const {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path_;
  }

 private:
  std::string path_;
};

}  // namespace orx::fuzz
