#pragma once
// Reads the small JSON texts that tests get back from the program and from
// the test server: the event log's lines and the server's request records.
// Anything it cannot read throws std::runtime_error naming the text.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace orx::testing {

class JsonReader {
 public:
  // text must outlive the reader.
  explicit JsonReader(std::string_view text) : text_(text) {}

  // An object: onKey runs for each key with the reader at its value, and
  // must read or skip that value.
  void Object(const std::function<void(const std::string& key)>& onKey);
  // An array: onItem runs for each item and must read or skip it.
  void Array(const std::function<void()>& onItem);
  // A string, as UTF-8.
  std::string String();
  double Number();
  // Reads the literal (true, false, null) when it stands next; false otherwise.
  bool Literal(std::string_view word);
  void SkipValue();

 private:
  [[noreturn]] void Fail(std::string_view what) const;
  char Peek();
  bool Accept(char c);
  void Expect(char c);
  char32_t Hex4();

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace orx::testing
