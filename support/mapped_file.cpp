#include "support/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "support/files.h"
#include "support/unique_fd.h"

namespace orx {

MappedFile::MappedFile(const std::string& path) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.valid()) {
    const int fd = file.get();
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
      const auto length = static_cast<std::size_t>(info.st_size);
      void* map = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
      if (map != MAP_FAILED) {
        map_ = map;
        mapSize_ = length;
        // Populated at once, one call instead of a fault for every few
        // pages, but for reading: MAP_POPULATE would copy every page of a
        // writable mapping. A kernel without this only faults more often.
        static_cast<void>(::madvise(map, length, MADV_POPULATE_READ));
      }
    }
  }
  if (map_ != nullptr) {
    data_ = static_cast<char*>(map_);
    size_ = mapSize_;
    return;
  }
  // Whatever cannot be mapped is read the ordinary way, which also gives a
  // file that cannot be opened its usual message.
  copy_ = FileToString(path);
  data_ = copy_.data();
  size_ = copy_.size();
}

MappedFile::~MappedFile() {
  if (map_ != nullptr) ::munmap(map_, mapSize_);
}

void MappedFile::RemovePrefix(std::size_t n) {
  n = std::min(n, size_);
  data_ += n;
  size_ -= n;
}

}  // namespace orx
