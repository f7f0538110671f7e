#pragma once
// A file's bytes without copying them: a regular file is mapped
// copy-on-write, so the page cache's pages serve as they are and only pages
// written to become the process's own. Anything else (an empty file, a pipe,
// a device) is read whole.
#include <cstddef>
#include <string>
#include <string_view>

namespace orx {

class MappedFile {
 public:
  // Throws what FileToString throws for a file that cannot be read. The file
  // must not shrink while mapped: use it for the program's own files only.
  explicit MappedFile(const std::string& path);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // The bytes, writable; changes are never written back.
  char* data() { return data_; }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }
  // Leaves the first n bytes (at most size()) out of the bytes from now on.
  void RemovePrefix(std::size_t n);

 private:
  void* map_ = nullptr;
  std::size_t mapSize_ = 0;
  std::string copy_;
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace orx
