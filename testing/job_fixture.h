#pragma once
// A job's surroundings for tests: a fixed clock (5 March 2008, 10:20:30),
// fresh key parameters, a log pane whose view counts its event-processing
// points, and records kept in memory. JobFixture adds a scratch folder and a
// private TMPDIR inside it, so that temporary files can be looked at.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "package/job_context.h"
#include "support/clock.h"
#include "support/event_log.h"
#include "support/log_pane.h"
#include "support/xml_document.h"
#include "testing/test_support.h"

namespace orx {

// Lets gtest print records readably on a mismatch.
inline void PrintTo(const EventRecord& record, std::ostream* out) {
  *out << "{" << record.source << ", type " << static_cast<int>(record.type) << ", category "
       << record.category << ", 0x" << std::hex << record.eventId << std::dec;
  for (const std::string& text : record.strings) *out << ", \"" << text << "\"";
  *out << "}";
}

namespace testing {

class CountingLogView final : public LogPaneView {
 public:
  void OnCleared() override { ++clears; }
  void OnLineAppended(const std::string&) override {}
  void ProcessPendingEvents() override {
    ++pendingEventPoints;
    if (onPendingEvents) onPendingEvents();
  }

  int clears = 0;
  int pendingEventPoints = 0;
  std::function<void()> onPendingEvents;  // what the window would run there
};

// Runs each long step in place, as the window's runner would on a worker,
// first asking the job to stop when the job is at the given step, as an
// operator's Cancel would meanwhile.
class CancelAtStep final : public BlockingCallRunner {
 public:
  // The Cancel comes with the blocking call of step that follows passing
  // others of that step.
  CancelAtStep(JobProgress& progress, JobStep step, int passing = 0)
      : progress_(progress), step_(step), passing_(passing) {}
  void Run(const std::function<void()>& call) override {
    if (progress_.Step() == step_ && passing_-- == 0) progress_.RequestCancel();
    call();
  }

 private:
  JobProgress& progress_;
  JobStep step_;
  int passing_;
};

struct TestJobContext {
  TestJobContext() { log.SetView(&view); }
  TestJobContext(const TestJobContext&) = delete;
  TestJobContext& operator=(const TestJobContext&) = delete;

  const std::vector<std::string>& lines() const { return log.Lines(); }
  const std::vector<EventRecord>& records() const { return events.records(); }

  FixedClock clock{LocalDateTime{2008, 3, 5, 10, 20, 30}};
  KeyParameters params = KeyParameters::Initial(clock);
  LogPane log;
  CountingLogView view;
  MemoryEventSink events;
  JobContext context{
      .params = params, .log = log, .events = events, .clock = clock, .batchMode = true};
};

class JobFixture : public ::testing::Test {
 public:
  JobFixture()
      : tmp_((std::filesystem::create_directory(dir_.path() / "tmp"), dir_ / "tmp")),
        tmpEnv_("TMPDIR", tmp_.c_str()) {
    InitXmlLibrary();
  }

  // Names of the files left in the program's temporary folder.
  std::vector<std::string> TempFileNames() const {
    std::vector<std::string> names;
    for (const auto& folder : std::filesystem::directory_iterator(tmp_)) {
      for (const auto& file : std::filesystem::directory_iterator(folder.path())) {
        names.push_back(file.path().filename().string());
      }
    }
    return names;
  }

  ScratchDir dir_;
  std::string tmp_;
  ScopedEnv tmpEnv_;
  TestJobContext job_;
};

// A record under the exchange's source name.
inline EventRecord Rec(EventType type, std::uint16_t category, std::uint32_t eventId,
                       std::vector<std::string> strings) {
  return EventRecord{std::string(kDefaultEventSource), type, category, eventId,
                     std::move(strings)};
}

inline EventRecord ErrorRecord(std::string source, std::vector<std::string> strings) {
  return EventRecord{std::move(source), EventType::Error, 7, 0x40000103, std::move(strings)};
}

}  // namespace testing
}  // namespace orx
