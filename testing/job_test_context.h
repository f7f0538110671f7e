#pragma once
// A job context for tests: a fixed clock, fresh key parameters, a log pane
// that counts its event-processing points, and records kept in memory.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "package/job_context.h"
#include "support/clock.h"
#include "support/event_log.h"
#include "support/log_pane.h"

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

struct TestJobContext {
  TestJobContext() { log.SetView(&view); }
  TestJobContext(const TestJobContext&) = delete;
  TestJobContext& operator=(const TestJobContext&) = delete;

  const std::vector<std::string>& lines() const { return log.Lines(); }
  const std::vector<EventRecord>& records() const { return events.records(); }

  FixedClock clock{LocalDateTime{2024, 3, 5, 10, 20, 30}};
  KeyParameters params = KeyParameters::Initial(clock);
  LogPane log;
  CountingLogView view;
  MemoryEventSink events;
  JobContext context{params, log, events, clock, true};
};

// A record under the exchange's source name.
inline EventRecord Rec(EventType type, std::uint16_t category, std::uint32_t eventId,
                       std::vector<std::string> strings) {
  return EventRecord{std::string(kDefaultEventSource), type, category, eventId,
                     std::move(strings)};
}

}  // namespace testing
}  // namespace orx
