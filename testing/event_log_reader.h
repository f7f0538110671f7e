#pragma once
// Reads back the JSON Lines event log that ORX_EVENT_LOG names, for tests that
// run the built program.
#include <string>
#include <vector>

#include "support/event_log.h"

namespace orx::testing {

// Each line's "source", "type", "category", "eventId" and "strings".
// Throws std::runtime_error on a line that is not such an object.
std::vector<EventRecord> ReadEventLog(const std::string& path);
EventRecord ParseEventLine(const std::string& line);

}  // namespace orx::testing
