#pragma once
// Owns one file descriptor and closes it on every path out of its scope.
#include <unistd.h>

namespace orx {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) noexcept : fd_(fd) {}
  ~UniqueFd() { Close(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  // Closes now and tells whether close() succeeded: a delayed write error
  // (NFS, a full disk) shows up only here.
  bool Close() noexcept {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

}  // namespace orx
