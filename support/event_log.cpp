#include "support/event_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "support/files.h"
#include "support/text.h"
#include "support/unique_fd.h"

namespace orx {
namespace {

// Invalid UTF-8 becomes U+FFFD so that every line stays valid JSON.
void AppendJsonString(std::string& out, std::string_view text) {
  std::string repaired;
  if (!IsWellFormedUtf8(text)) {
    repaired = Utf16ToUtf8(Utf8ToUtf16(text));
    text = repaired;
  }
  static constexpr std::string_view kShort = "\"\\\b\f\n\r\t";
  static constexpr std::string_view kShortLetters = "\"\\bfnrt";
  out += '"';
  for (const char c : text) {
    if (const auto at = kShort.find(c); at != std::string_view::npos) {
      out += '\\';
      out += kShortLetters[at];
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

// UTC with milliseconds, e.g. 2024-12-09T05:22:09.123Z.
std::string IsoTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(now.tv_nsec / 1000000));
  return text;
}

}  // namespace

std::string CLibraryErrorText(std::uint32_t code) {
  if (code > INT_MAX) return {};
  const int number = static_cast<int>(code);
  // strerrordesc_np tells known codes from unknown ones whatever the locale.
  if (strerrordesc_np(number) == nullptr) return {};
  char buffer[256];
  const char* text = strerror_r(number, buffer, sizeof buffer);
  return text ? text : "";
}

JsonLinesEventSink::JsonLinesEventSink(std::string path) : path_(std::move(path)) {}

std::string JsonLinesEventSink::Format(const EventRecord& record) {
  std::string line = "{\"source\":";
  AppendJsonString(line, record.source);
  line += ",\"type\":" + std::to_string(static_cast<unsigned>(record.type));
  line += ",\"category\":" + std::to_string(record.category);
  line += ",\"eventId\":" + std::to_string(record.eventId);
  line += ",\"strings\":[";
  for (std::size_t i = 0; i < record.strings.size(); ++i) {
    if (i > 0) line += ',';
    AppendJsonString(line, record.strings[i]);
  }
  line += "],\"time\":\"" + IsoTimeNow() + "\"}";
  return line;
}

void JsonLinesEventSink::Write(const EventRecord& record) noexcept {
  try {
    std::string line = Format(record);
    line += '\n';
    // Records go where output files may go: through the user's own links,
    // never through another user's (ReplacedFile throws then).
    const std::string target = ReplacedFile(path_);
    // O_APPEND and a single write() keep concurrent writers' lines whole.
    // Opened without blocking: a FIFO that nobody reads would otherwise hold
    // the job in open() for ever. Only a regular file takes records.
    const UniqueFd file(::open(target.c_str(),
                               O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                               0644));
    if (file.get() < 0) return;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return;
    const int flags = ::fcntl(file.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return;
    ssize_t written = -1;
    do {
      written = ::write(file.get(), line.data(), line.size());
    } while (written < 0 && errno == EINTR);
  } catch (...) {
    // A record that cannot be written is dropped.
  }
}

void MemoryEventSink::Write(const EventRecord& record) noexcept {
  try {
    records_.push_back(record);
  } catch (...) {
  }
}

std::unique_ptr<EventSink> MakeDefaultEventSink() {
  const char* path = std::getenv("ORX_EVENT_LOG");
  if (path && *path) return std::make_unique<JsonLinesEventSink>(path);
  return std::make_unique<JournalEventSink>();
}

TqvEventLoggerW::TqvEventLoggerW(EventSink& sink, std::string sourceName)
    : sink_(sink), sourceName_(std::move(sourceName)) {}

void TqvEventLoggerW::WriteEvent(const std::vector<std::string>& strings, EventType eventType,
                                 std::uint16_t category, std::uint32_t eventId,
                                 std::size_t numStrings) noexcept {
  try {
    EventRecord record;
    record.source = sourceName_;
    record.type = eventType;
    record.category = category;
    record.eventId = eventId;
    const std::size_t count = numStrings < strings.size() ? numStrings : strings.size();
    record.strings.assign(strings.begin(), strings.begin() + static_cast<std::ptrdiff_t>(count));
    sink_.Write(record);
  } catch (...) {
    // Logging never disturbs the job that logs.
  }
}

void LogEvent(EventSink& sink, std::string_view sourceName, EventType eventType,
              std::uint16_t category, std::uint32_t eventId,
              const std::vector<std::string>& strings) noexcept {
  try {
    TqvEventLoggerW logger(sink, std::string(sourceName));
    logger.WriteEvent(strings, eventType, category, eventId, strings.size());
  } catch (...) {
  }
}

}  // namespace orx
