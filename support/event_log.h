#pragma once
// Event log (qvDebug). Records go to a sink: the systemd journal, a JSON Lines
// file named by ORX_EVENT_LOG, or memory (tests). Writing never throws and
// never blocks the caller for long.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orx {

enum class EventType : std::uint16_t {
  Error = 0x0001,
  Information = 0x0004,
  AuditSuccess = 0x0008,
  AuditFailure = 0x0010,
};

inline constexpr std::uint16_t kCategoryJob = 7;
inline constexpr std::uint16_t kCategoryExchange = 2;

inline constexpr std::uint32_t kEventOperationFailed = 0x40000103;
inline constexpr std::uint32_t kEventDialogueOutcome = 0x40000101;
inline constexpr std::uint32_t kEventRequestFault = 0x40007500;
inline constexpr std::uint32_t kEventNoProtocolNode = 0x40006500;
inline constexpr std::uint32_t kEventNoProtocolVersion = 0x40006501;
inline constexpr std::uint32_t kEventWrongProtocolVersion = 0x40006502;

// The source name every record uses unless a key file set another title.
inline constexpr std::string_view kDefaultEventSource = "ОРХ РФ";

struct EventRecord {
  std::string source;  // UTF-8
  EventType type = EventType::Error;
  std::uint16_t category = 0;
  std::uint32_t eventId = 0;
  std::vector<std::string> strings;  // UTF-8, in order

  bool operator==(const EventRecord&) const = default;
};

class EventSink {
 public:
  virtual ~EventSink() = default;
  // Must not throw; a record that cannot be written is dropped.
  virtual void Write(const EventRecord& record) noexcept = 0;
};

inline constexpr std::string_view kJournalSocketPath = "/run/systemd/journal/socket";

// Journal entries sent without blocking (a journald that does not read its
// socket must not hold up a job): a record that cannot be handed over at once
// is dropped. socketPath is journald's native socket; tests bind their own.
class JournalEventSink final : public EventSink {
 public:
  explicit JournalEventSink(std::string socketPath = std::string(kJournalSocketPath));
  void Write(const EventRecord& record) noexcept override;
  // The native-protocol datagram for record.
  static std::string Format(const EventRecord& record);

 private:
  std::string socketPath_;
};

// One JSON object per line, appended to the named file.
class JsonLinesEventSink final : public EventSink {
 public:
  explicit JsonLinesEventSink(std::string path);
  void Write(const EventRecord& record) noexcept override;
  static std::string Format(const EventRecord& record);  // without the line end

 private:
  std::string path_;
};

class MemoryEventSink final : public EventSink {
 public:
  void Write(const EventRecord& record) noexcept override;
  const std::vector<EventRecord>& records() const { return records_; }
  void clear() { records_.clear(); }

 private:
  std::vector<EventRecord> records_;
};

// The sink the program uses: the ORX_EVENT_LOG file when that variable is
// set and not empty, the journal otherwise.
std::unique_ptr<EventSink> MakeDefaultEventSink();

// Writes one record under one source name for the lifetime of the object.
class TqvEventLoggerW {
 public:
  TqvEventLoggerW(EventSink& sink, std::string sourceName);
  void WriteEvent(const std::vector<std::string>& strings, EventType eventType,
                  std::uint16_t category, std::uint32_t eventId, std::size_t numStrings) noexcept;
  const std::string& SourceName() const { return sourceName_; }

 private:
  EventSink& sink_;
  std::string sourceName_;
};

// Writes exactly one record. Never throws.
void LogEvent(EventSink& sink, std::string_view sourceName, EventType eventType,
              std::uint16_t category, std::uint32_t eventId,
              const std::vector<std::string>& strings) noexcept;

// strerror's text (in the current locale) for a code the C library knows;
// empty for any other.
std::string CLibraryErrorText(std::uint32_t code);

}  // namespace orx
