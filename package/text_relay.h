#pragma once
// Bytes written on one thread, read in the same order on another while the
// writing goes on. At most a few pieces wait between the two: the writer
// waits for the reader, never the other way round for longer than it takes
// the writer to produce the next piece. When the writer writes a file, the
// reader reads that file behind it instead, so a slow reader costs no memory
// and never holds the writer up.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "support/unique_fd.h"

namespace orx {

class TextRelay {
 public:
  explicit TextRelay(std::size_t capacity = 4 * 1024 * 1024) : capacity_(capacity) {}
  TextRelay(const TextRelay&) = delete;
  TextRelay& operator=(const TextRelay&) = delete;

  // Writer: the text is the content of the file open as fd (read from its
  // start; the relay keeps a descriptor of its own), each piece written to
  // it before Write is called. Without a descriptor to spare, the pieces are
  // copied as usual.
  void FollowFile(int fd);
  // Writer: hands over bytes, waiting while capacity bytes are already
  // waiting; when following a file, only their count (they are in the file
  // already) and the writer never waits. Once the reader has stopped, the
  // bytes are dropped.
  void Write(std::string_view bytes);
  // Writer: the text is complete; the reader gets its end after the rest.
  void Finish();
  // Writer: the text will not be complete; the reader gets an error instead
  // of its end. Safe to call after Finish (it does nothing then).
  void Abandon();

  // Reader: copies up to length bytes into buffer, waiting for them. Returns
  // 0 at the end of a finished text, -1 when the writer abandoned it or the
  // reader stopped.
  long Read(char* buffer, std::size_t length);
  // Reader: no more bytes are wanted; the writer no longer waits. Any thread.
  void StopReading();

  // libxml2 input callbacks; the context is the TextRelay.
  static int ReadCallback(void* self, char* buffer, int length);
  static int CloseCallback(void*) { return 0; }

 private:
  enum class End { Open, Finished, Abandoned };

  const std::size_t capacity_;
  std::mutex mutex_;
  std::condition_variable readable_;
  std::condition_variable writable_;
  std::deque<std::string> pieces_;
  std::size_t front_ = 0;    // bytes of pieces_.front() already read
  std::size_t waiting_ = 0;  // bytes in pieces_ not yet read
  UniqueFd file_;             // the followed file, or none
  std::size_t fileLength_ = 0;  // bytes of the file written so far
  std::size_t fileRead_ = 0;    // bytes of the file read so far
  End end_ = End::Open;
  bool stopped_ = false;
};

// Stops the relay's writer when the reader leaves its scope in any way, so
// that a writer never waits for a reader that is gone.
class StopReadingOnExit {
 public:
  explicit StopReadingOnExit(TextRelay& relay) : relay_(relay) {}
  ~StopReadingOnExit() { relay_.StopReading(); }
  StopReadingOnExit(const StopReadingOnExit&) = delete;
  StopReadingOnExit& operator=(const StopReadingOnExit&) = delete;

 private:
  TextRelay& relay_;
};

}  // namespace orx
