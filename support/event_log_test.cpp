#include "support/event_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <regex>
#include <sstream>
#include <thread>

#include "testing/test_support.h"

namespace orx {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

EventRecord Record(std::vector<std::string> strings) {
  return {"ОРХ РФ", EventType::Error, kCategoryJob, kEventOperationFailed, std::move(strings)};
}

// The line up to the time stamp, which differs from run to run.
std::string WithoutTime(const std::string& line) {
  const auto at = line.find(",\"time\":");
  return at == std::string::npos ? line : line.substr(0, at);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(JsonLinesEventSink, FormatsEveryFieldAndEscapesStrings) {
  struct Case {
    std::vector<std::string> strings;
    std::string expectedStrings;
  } cases[] = {
      {{}, "[]"},
      {{"TFormMain.XmlToCod", "ошибка"}, "[\"TFormMain.XmlToCod\",\"ошибка\"]"},
      {{"q\"b\\s/"}, R"(["q\"b\\s/"])"},
      {{"a\nb\r\tc\b\f"}, R"(["a\nb\r\tc\b\f"])"},
      {{std::string("\x01\x1f\x7f", 3)}, R"(["\u0001\u001f\u007f"])"},
      {{std::string("nul\0end", 7)}, R"(["nul\u0000end"])"},
      {{"bad \xff\xfe utf8 \xd0"}, "[\"bad \xEF\xBF\xBD\xEF\xBF\xBD utf8 \xEF\xBF\xBD\"]"},
  };
  for (const auto& c : cases) {
    const std::string line = JsonLinesEventSink::Format(Record(c.strings));
    EXPECT_EQ(WithoutTime(line),
              "{\"source\":\"ОРХ РФ\",\"type\":1,\"category\":7,"
              "\"eventId\":1073742083,\"strings\":" +
                  c.expectedStrings)
        << line;
    EXPECT_TRUE(std::regex_search(
        line, std::regex(R"(,"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z"\}$)")))
        << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
  }
}

TEST(JsonLinesEventSink, AppendsWholeLinesFromConcurrentWriters) {
  ScratchDir dir;
  const std::string path = dir.Write("events.jsonl", "{\"earlier\":1}\n");
  const std::string big(20000, 'z');
  auto writer = [&](std::string tag) {
    JsonLinesEventSink sink(path);
    for (int i = 0; i < 50; ++i) sink.Write(Record({tag, big}));
  };
  std::thread a(writer, "a"), b(writer, "b");
  a.join();
  b.join();
  // Silently dropped, and never waited for: no folder, a FIFO nobody reads.
  JsonLinesEventSink(dir / "missing/events.jsonl").Write(Record({}));
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  JsonLinesEventSink(dir / "fifo").Write(Record({}));
  // A link of another user is not followed (as an output file's is not);
  // the user's own link is.
  const std::string other = dir.Write("other.jsonl", "");
  std::filesystem::create_symlink(other, dir / "planted.jsonl");
  if (::lchown((dir / "planted.jsonl").c_str(), ::geteuid() + 1, static_cast<gid_t>(-1)) == 0) {
    JsonLinesEventSink(dir / "planted.jsonl").Write(Record({}));
    EXPECT_EQ(testing::ReadFile(other), "");
  }
  std::filesystem::create_symlink(other, dir / "own.jsonl");
  JsonLinesEventSink(dir / "own.jsonl").Write(Record({}));
  EXPECT_EQ(Lines(testing::ReadFile(other)).size(), 1u);

  const auto lines = Lines(testing::ReadFile(path));
  ASSERT_EQ(lines.size(), 101u);
  EXPECT_EQ(lines[0], "{\"earlier\":1}");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string tag = lines[i].substr(lines[i].find("[\"") + 2, 1);
    EXPECT_EQ(WithoutTime(lines[i]), WithoutTime(JsonLinesEventSink::Format(Record({tag, big}))));
  }
}

TEST(MakeDefaultEventSink, FileWhenVariableSetJournalOtherwise) {
  ScratchDir dir;
  const std::string path = dir / "events.jsonl";
  struct Case {
    const char* value;
    bool json;
  } cases[] = {{path.c_str(), true}, {"", false}, {nullptr, false}};
  for (const auto& c : cases) {
    ScopedEnv env("ORX_EVENT_LOG", c.value);
    const auto sink = MakeDefaultEventSink();
    EXPECT_EQ(dynamic_cast<JsonLinesEventSink*>(sink.get()) != nullptr, c.json);
    EXPECT_EQ(dynamic_cast<JournalEventSink*>(sink.get()) != nullptr, !c.json);
  }
}

TEST(TqvEventLoggerW, WritesTheFirstNumStringsClampedToTheList) {
  const std::vector<std::string> all = {"one", "two", "three"};
  const std::pair<std::size_t, std::vector<std::string>> cases[] = {
      {0, {}}, {2, {"one", "two"}}, {3, all}, {4, all}, {65535, all}};
  for (const auto& [numStrings, expected] : cases) {
    MemoryEventSink sink;
    TqvEventLoggerW(sink, "ОРХ РФ")
        .WriteEvent(all, EventType::AuditFailure, kCategoryExchange, kEventDialogueOutcome,
                    numStrings);
    EXPECT_EQ(sink.records(),
              (std::vector<EventRecord>{{"ОРХ РФ", EventType::AuditFailure, kCategoryExchange,
                                         kEventDialogueOutcome, expected}}));
  }
  MemoryEventSink sink;
  LogEvent(sink, "Форма А", EventType::Error, kCategoryJob, kEventOperationFailed, all);
  EXPECT_EQ(sink.records(), (std::vector<EventRecord>{{"Форма А", EventType::Error, kCategoryJob,
                                                       kEventOperationFailed, all}}));
}

}  // namespace
}  // namespace orx
