#include "testing/event_log_reader.h"

#include <fstream>

#include "testing/json_reader.h"

namespace orx::testing {

EventRecord ParseEventLine(const std::string& line) {
  JsonReader json(line);
  EventRecord record;
  json.Object([&](const std::string& key) {
    if (key == "source") {
      record.source = json.String();
    } else if (key == "type") {
      record.type = static_cast<EventType>(json.Number());
    } else if (key == "category") {
      record.category = static_cast<std::uint16_t>(json.Number());
    } else if (key == "eventId") {
      record.eventId = static_cast<std::uint32_t>(json.Number());
    } else if (key == "strings") {
      json.Array([&] { record.strings.push_back(json.String()); });
    } else {
      json.SkipValue();
    }
  });
  return record;
}

std::vector<EventRecord> ReadEventLog(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<EventRecord> records;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) records.push_back(ParseEventLine(line));
  }
  return records;
}

}  // namespace orx::testing
