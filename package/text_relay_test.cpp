#include "package/text_relay.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "support/c_handle.h"

namespace orx {
namespace {

enum class WriterEnd { Finish, Abandon };

struct RelayCase {
  const char* what;
  WriterEnd end;
  std::size_t readerStopsAfter;  // bytes; SIZE_MAX: reads to the end
  long lastRead;                 // what the last Read returned
  bool throughFile;              // the writer writes a file the reader follows
};

TEST(TextRelayTest, ReaderGetsTheBytesInOrderAndHowTheyEnded) {
  std::string text;
  for (int i = 0; text.size() < 200000; ++i) text += std::to_string(i) + ',';
  const RelayCase cases[] = {
      {"finished", WriterEnd::Finish, SIZE_MAX, 0, false},
      {"abandoned", WriterEnd::Abandon, SIZE_MAX, -1, false},
      // The writer must not wait for a reader that has gone.
      {"reader stops", WriterEnd::Finish, 5000, 1, false},
      {"finished, file", WriterEnd::Finish, SIZE_MAX, 0, true},
      {"abandoned, file", WriterEnd::Abandon, SIZE_MAX, -1, true},
      {"reader stops, file", WriterEnd::Finish, 5000, 1, true},
  };
  for (const RelayCase& c : cases) {
    SCOPED_TRACE(c.what);
    TextRelay relay(4096);  // far less than the text: a copying writer has to wait
    const CHandle<std::FILE, [](std::FILE* f) { std::fclose(f); }> file(std::tmpfile());
    ASSERT_TRUE(file);
    if (c.throughFile) relay.FollowFile(fileno(file.get()));
    std::thread writer([&] {
      for (std::size_t at = 0; at < text.size(); at += 1000) {
        const std::string_view piece = std::string_view(text).substr(at, 1000);
        if (c.throughFile) {
          std::fwrite(piece.data(), 1, piece.size(), file.get());
          std::fflush(file.get());
        }
        relay.Write(piece);
      }
      c.end == WriterEnd::Finish ? relay.Finish() : relay.Abandon();
    });
    std::string read;
    long n = 0;
    char buffer[777];
    {
      StopReadingOnExit stop(relay);
      while (read.size() < c.readerStopsAfter && (n = relay.Read(buffer, sizeof buffer)) > 0) {
        read.append(buffer, static_cast<std::size_t>(n));
      }
    }
    writer.join();
    EXPECT_EQ(n > 0 ? 1 : n, c.lastRead);
    const bool whole = c.end == WriterEnd::Finish && c.readerStopsAfter == SIZE_MAX;
    EXPECT_EQ(read, whole ? text : text.substr(0, read.size()));
  }
}

}  // namespace
}  // namespace orx
