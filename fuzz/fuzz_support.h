#pragma once
// A scratch file reused across fuzz iterations, for readers that take a path.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "package/job_context.h"

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

// A batch job's surroundings with a fixed date and an in-memory event log.
struct FuzzJob {
  FixedClock clock{LocalDateTime{2008, 3, 5, 10, 0, 0}};
  KeyParameters params = KeyParameters::Initial(clock);
  LogPane log;
  MemoryEventSink events;
  JobContext context{
      .params = params, .log = log, .events = events, .clock = clock, .batchMode = true};
};

}  // namespace orx::fuzz
