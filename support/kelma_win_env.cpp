// Environment-variable expansion of the string toolkit.
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "support/kelma_win.h"
#include "support/text.h"

namespace orx {
namespace {

// An expansion longer than this many UTF-16 units is not done: the text is
// returned as it was given.
constexpr std::size_t kMaxExpandedUnits = 32767;

std::size_t Utf16Units(std::u16string_view text) { return text.size(); }

// UTF-16 units of UTF-8 text: one per sequence, two for four-byte sequences.
std::size_t Utf16Units(std::string_view text) {
  std::size_t units = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;
    if (byte >= 0xF0) ++units;
  }
  return units;
}

// Worst case of code units per UTF-16 unit, to stop building a result that
// can only end up too long.
template <class C>
constexpr std::size_t kUnitsPerUtf16 = sizeof(C) == 1 ? 3 : 1;

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return FoldCase(Utf8ToUtf16(a)) == FoldCase(Utf8ToUtf16(b));
}

// The value of the variable named exactly `name`, else of the first variable
// in the environment whose name matches it without regard to letter case.
std::optional<std::string> LookUp(std::string_view name) {
  // Such a name cannot be defined, and getenv would misread it.
  if (name.empty() || name.find_first_of(std::string_view("=\0", 2)) != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string key(name);
  if (const char* value = std::getenv(key.c_str())) return std::string(value);
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view line(*entry);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (SameNameIgnoringCase(line.substr(0, equals), name)) return std::string(line.substr(equals + 1));
  }
  return std::nullopt;
}

std::optional<std::string> LookUp(std::u16string_view name) { return LookUp(Utf16ToUtf8(name)); }

void AppendValue(std::string& out, const std::string& value) { out += value; }
void AppendValue(std::u16string& out, const std::string& value) { out += Utf8ToUtf16(value); }

template <class C>
std::basic_string<C> Expand(std::basic_string_view<C> text) {
  constexpr C kPercent = static_cast<C>('%');
  constexpr std::size_t kNone = std::basic_string_view<C>::npos;
  std::basic_string<C> out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find(kPercent, at);
    if (open == kNone) {
      out.append(text.substr(at));
      break;
    }
    out.append(text.substr(at, open - at));
    const std::size_t close = text.find(kPercent, open + 1);
    if (close == kNone) {  // a lone % stays as written
      out.append(text.substr(open));
      break;
    }
    const auto reference = text.substr(open, close - open + 1);
    if (const auto value = LookUp(reference.substr(1, reference.size() - 2))) {
      AppendValue(out, *value);
    } else {
      out.append(reference);
    }
    at = close + 1;
    if (out.size() > kMaxExpandedUnits * kUnitsPerUtf16<C>) return std::basic_string<C>(text);
  }
  if (Utf16Units(std::basic_string_view<C>(out)) > kMaxExpandedUnits) {
    return std::basic_string<C>(text);
  }
  return out;
}

}  // namespace

std::u16string ExpandEnvVars(std::u16string_view text) { return Expand(text); }
std::string ExpandEnvVars(std::string_view utf8) { return Expand(utf8); }

}  // namespace orx
