#include "package/text_relay.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orx {

void TextRelay::FollowFile(int fd) {
  UniqueFd own(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (!own.valid()) return;
  const std::lock_guard lock(mutex_);
  if (fileLength_ == 0 && waiting_ == 0) file_ = std::move(own);
}

void TextRelay::Write(std::string_view bytes) {
  if (bytes.empty()) return;
  std::unique_lock lock(mutex_);
  if (file_.valid()) {
    if (stopped_ || end_ != End::Open) return;
    fileLength_ += bytes.size();
    lock.unlock();
    readable_.notify_one();
    return;
  }
  writable_.wait(lock, [&] { return stopped_ || waiting_ < capacity_; });
  if (stopped_ || end_ != End::Open) return;
  pieces_.emplace_back(bytes);
  waiting_ += bytes.size();
  lock.unlock();
  readable_.notify_one();
}

void TextRelay::Finish() {
  {
    const std::lock_guard lock(mutex_);
    if (end_ == End::Open) end_ = End::Finished;
  }
  readable_.notify_one();
}

void TextRelay::Abandon() {
  {
    const std::lock_guard lock(mutex_);
    if (end_ == End::Open) end_ = End::Abandoned;
  }
  readable_.notify_one();
}

long TextRelay::Read(char* buffer, std::size_t length) {
  std::unique_lock lock(mutex_);
  readable_.wait(lock, [&] {
    return stopped_ || !pieces_.empty() || fileLength_ > fileRead_ || end_ != End::Open;
  });
  if (stopped_ || end_ == End::Abandoned) return -1;
  if (file_.valid()) {
    const std::size_t wanted = std::min(length, fileLength_ - fileRead_);
    if (wanted == 0) return 0;
    const auto at = static_cast<off_t>(fileRead_);
    // Only this thread reads; the writer only appends past fileLength_.
    lock.unlock();
    ssize_t got = 0;
    do {
      got = ::pread(file_.get(), buffer, wanted, at);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return -1;
    lock.lock();
    fileRead_ += static_cast<std::size_t>(got);
    return static_cast<long>(got);
  }
  std::size_t copied = 0;
  while (copied < length && !pieces_.empty()) {
    const std::string& piece = pieces_.front();
    const std::size_t n = std::min(length - copied, piece.size() - front_);
    std::memcpy(buffer + copied, piece.data() + front_, n);
    copied += n;
    front_ += n;
    if (front_ == piece.size()) {
      pieces_.pop_front();
      front_ = 0;
    }
  }
  waiting_ -= copied;
  lock.unlock();
  writable_.notify_one();
  return static_cast<long>(copied);
}

void TextRelay::StopReading() {
  {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    pieces_.clear();
    front_ = 0;
    waiting_ = 0;
  }
  writable_.notify_one();
}

int TextRelay::ReadCallback(void* self, char* buffer, int length) {
  if (length <= 0) return 0;
  return static_cast<int>(
      static_cast<TextRelay*>(self)->Read(buffer, static_cast<std::size_t>(length)));
}

}  // namespace orx
