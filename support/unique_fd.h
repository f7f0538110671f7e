#pragma once
// Owns one file descriptor and closes it on every path out of its scope.
#include <unistd.h>

#include <string_view>

namespace orx {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) noexcept : fd_(fd) {}
  ~UniqueFd() { (void)Close(); }  // a failure here has no one to tell
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      (void)Close();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  // Closes now and tells whether close() succeeded: a delayed write error
  // (NFS, a full disk) shows up only here.
  [[nodiscard]] bool Close() noexcept {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

// Writes every byte, retrying short writes and interrupted calls. False on
// any other failure (errno tells why).
[[nodiscard]] bool WriteAll(int fd, std::string_view bytes);

}  // namespace orx
