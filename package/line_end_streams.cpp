#include "package/line_end_streams.h"

#include "package/text_relay.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "support/error.h"
#include "support/files.h"
#include "support/unique_fd.h"

namespace orx {

int NormalisedInput::Read(void* self, char* buffer, int length) {
  return static_cast<NormalisedInput*>(self)->Fill(buffer, length);
}

std::string NormalisedInput::All(std::string_view bytes) {
  NormalisedInput input(bytes);
  std::string text;
  char piece[4096];
  while (const int n = input.Fill(piece, sizeof piece)) text.append(piece, static_cast<std::size_t>(n));
  return text;
}

int NormalisedInput::Fill(char* buffer, int length) {
  int n = 0;
  while (n < length) {
    if (pendingLf_) {
      buffer[n++] = '\n';
      pendingLf_ = false;
      continue;
    }
    // Copy the run up to the next line end or zero byte in one piece.
    const std::size_t room = std::min(rest_.size(), static_cast<std::size_t>(length - n));
    std::size_t run = 0;
    while (run < room) {
      const auto c = static_cast<unsigned char>(rest_[run]);
      if (c <= '\r' && (c == '\r' || c == '\n' || c == '\0')) break;
      ++run;
    }
    if (run > 0) std::memcpy(buffer + n, rest_.data(), run);
    n += static_cast<int>(run);
    rest_.remove_prefix(run);
    if (run == room) {
      if (rest_.empty()) break;
      continue;
    }
    const char c = rest_.front();
    rest_.remove_prefix(1);
    if (c == '\0') {
      rest_ = {};
      break;
    }
    if (c == '\r' && !rest_.empty() && rest_.front() == '\n') rest_.remove_prefix(1);
    buffer[n++] = '\r';
    pendingLf_ = true;
  }
  return n;
}

CrLfWriter::CrLfWriter(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
  buffer_.reserve(kCapacity + kCapacity / 8);
}

CrLfWriter::CrLfWriter(std::string& text) : text_(&text) {}

CrLfWriter::CrLfWriter() { buffer_.reserve(kCapacity + kCapacity / 8); }

int CrLfWriter::Callback(void* self, const char* data, int length) noexcept {
  auto* writer = static_cast<CrLfWriter*>(self);
  try {
    writer->Write({data, static_cast<std::size_t>(length)});
    return length;
  } catch (...) {
    writer->failed_ = true;
    writer->failure_ = std::current_exception();
    return -1;
  }
}

void CrLfWriter::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const auto lf = bytes.find('\n');
    buffer_.append(bytes.substr(0, lf));
    if (lf == std::string_view::npos) break;
    buffer_ += "\r\n";
    bytes.remove_prefix(lf + 1);
  }
  if (buffer_.size() >= kCapacity) Flush();
}

void CrLfWriter::CopyTo(TextRelay* relay) {
  copy_ = relay;
  if (relay != nullptr && fd_ >= 0) relay->FollowFile(fd_);
}

void CrLfWriter::Flush() {
  if (text_ != nullptr) {
    text_->append(buffer_);
  } else if (fd_ >= 0 && !WriteAll(fd_, buffer_)) {
    failed_ = true;
    throw StreamWriteError(name_, errno);
  }
  // Only once the piece is in the file may a relay following it read it.
  if (copy_ != nullptr) copy_->Write(buffer_);
  buffer_.clear();
}

void CrLfWriter::RethrowFailure() const {
  if (failure_) std::rethrow_exception(failure_);
  throw Error("Stream write error");
}

}  // namespace orx
