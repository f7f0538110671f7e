#include "testing/json_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <stdexcept>

#include "support/text.h"

namespace orx::testing {

void JsonReader::Fail(std::string_view what) const {
  throw std::runtime_error(std::string(what) + " at " + std::to_string(pos_) + " in " +
                           std::string(text_));
}

char JsonReader::Peek() {
  while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  if (pos_ >= text_.size()) Fail("unexpected end");
  return text_[pos_];
}

bool JsonReader::Accept(char c) {
  if (Peek() != c) return false;
  ++pos_;
  return true;
}

void JsonReader::Expect(char c) {
  if (!Accept(c)) Fail(std::string("expected ") + c);
}

void JsonReader::Object(const std::function<void(const std::string& key)>& onKey) {
  Expect('{');
  if (Accept('}')) return;
  do {
    const std::string key = String();
    Expect(':');
    onKey(key);
  } while (Accept(','));
  Expect('}');
}

void JsonReader::Array(const std::function<void()>& onItem) {
  Expect('[');
  if (Accept(']')) return;
  do onItem();
  while (Accept(','));
  Expect(']');
}

char32_t JsonReader::Hex4() {
  unsigned value = 0;
  const char* begin = text_.data() + pos_;
  const char* end = text_.data() + std::min(text_.size(), pos_ + 4);
  const auto [stop, error] = std::from_chars(begin, end, value, 16);
  if (error != std::errc() || stop != begin + 4) Fail("bad \\u escape");
  pos_ += 4;
  return value;
}

std::string JsonReader::String() {
  Expect('"');
  std::string out;
  while (pos_ < text_.size()) {
    const char c = text_[pos_++];
    if (c == '"') return out;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (pos_ >= text_.size()) break;
    switch (const char e = text_[pos_++]) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'u': {
        char32_t code = Hex4();
        if (code >= 0xD800 && code < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
          pos_ += 2;
          code = 0x10000 + ((code - 0xD800) << 10) + (Hex4() - 0xDC00);
        }
        AppendUtf8(out, code);
        break;
      }
      default: out += e;
    }
  }
  Fail("unterminated string");
}

double JsonReader::Number() {
  Peek();
  double value = 0;
  const char* end = text_.data() + text_.size();
  const auto [stop, error] = std::from_chars(text_.data() + pos_, end, value);
  if (error != std::errc()) Fail("expected a number");
  pos_ = static_cast<std::size_t>(stop - text_.data());
  return value;
}

bool JsonReader::Literal(std::string_view word) {
  Peek();
  if (text_.substr(pos_, word.size()) != word) return false;
  pos_ += word.size();
  return true;
}

void JsonReader::SkipValue() {
  switch (Peek()) {
    case '"': String(); break;
    case '{': Object([this](const std::string&) { SkipValue(); }); break;
    case '[': Array([this] { SkipValue(); }); break;
    default:
      if (!Literal("true") && !Literal("false") && !Literal("null")) Number();
  }
}

}  // namespace orx::testing
