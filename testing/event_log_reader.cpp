#include "testing/event_log_reader.h"
#include "support/text.h"

#include <fstream>
#include <stdexcept>

namespace orx::testing {
namespace {

// A small recursive-descent reader for the subset of JSON the log uses.
class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : text_(text) {}

  EventRecord ReadRecord() {
    EventRecord record;
    Expect('{');
    if (Peek() != '}') {
      for (;;) {
        const std::string key = ReadString();
        Expect(':');
        if (key == "source") {
          record.source = ReadString();
        } else if (key == "type") {
          record.type = static_cast<EventType>(ReadNumber());
        } else if (key == "category") {
          record.category = static_cast<std::uint16_t>(ReadNumber());
        } else if (key == "eventId") {
          record.eventId = static_cast<std::uint32_t>(ReadNumber());
        } else if (key == "strings") {
          Expect('[');
          if (Peek() != ']') {
            do record.strings.push_back(ReadString());
            while (Accept(','));
          }
          Expect(']');
        } else {
          SkipValue();
        }
        if (!Accept(',')) break;
      }
    }
    Expect('}');
    return record;
  }

 private:
  char Peek() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ >= text_.size()) throw std::runtime_error("unexpected end of JSON");
    return text_[pos_];
  }
  bool Accept(char c) {
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }
  void Expect(char c) {
    if (!Accept(c)) throw std::runtime_error(std::string("expected ") + c + " in " + text_);
  }

  double ReadNumber() {
    Peek();
    std::size_t used = 0;
    const double value = std::stod(text_.substr(pos_), &used);
    pos_ += used;
    return value;
  }


  char32_t ReadHex4() {
    if (pos_ + 4 > text_.size()) throw std::runtime_error("short \\u escape");
    const char32_t value = static_cast<char32_t>(std::stoul(text_.substr(pos_, 4), nullptr, 16));
    pos_ += 4;
    return value;
  }

  std::string ReadString() {
    Expect('"');
    std::string out;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      const char c = text_[pos_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) break;
      const char e = text_[pos_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          char32_t code = ReadHex4();
          if (code >= 0xD800 && code <= 0xDBFF && text_.compare(pos_, 2, "\\u") == 0) {
            pos_ += 2;
            code = 0x10000 + ((code - 0xD800) << 10) + (ReadHex4() - 0xDC00);
          }
          AppendUtf8(out, code);
          break;
        }
        default: out += e;
      }
    }
    Expect('"');
    return out;
  }

  void SkipValue() {
    const char c = Peek();
    if (c == '"') {
      ReadString();
    } else if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      ++pos_;
      if (Accept(close)) return;
      do {
        if (c == '{') {
          ReadString();
          Expect(':');
        }
        SkipValue();
      } while (Accept(','));
      Expect(close);
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      while (pos_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    } else {
      ReadNumber();
    }
  }

  const std::string& text_;
  std::size_t pos_ = 0;
};

}  // namespace

EventRecord ParseEventLine(const std::string& line) { return JsonReader(line).ReadRecord(); }

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
