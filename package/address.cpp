#include "package/address.h"

#include <climits>

#include "support/error.h"
#include "support/kelma_win.h"

namespace orx {
namespace {

// Where the host text starts: after the first "//", or at the start.
std::size_t HostStart(std::string_view address) {
  const int slashes = TextPos("//", address);
  return slashes > 0 ? static_cast<std::size_t>(slashes) + 1 : 0;
}

// The text after the host. The host is cut at the place it was taken from,
// not at its first occurrence, so a host that also occurs in the scheme
// ("ps" in "https") does not cut the address too early.
std::string_view AfterHost(std::string_view address) {
  const std::size_t hostSize = HostFromAddress(address).size();
  if (hostSize == 0) return {};
  return address.substr(HostStart(address) + hostSize);
}

Error NotAnInteger(std::string_view text) {
  return Error("'" + std::string(text) + "' is not a valid integer value");
}

// An optional sign and decimal digits; anything else, or a value outside
// 32 bits, is a conversion error.
std::int64_t ParseInteger(std::string_view text) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) ++i;
  if (i == text.size()) throw NotAnInteger(text);
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') throw NotAnInteger(text);
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<std::int64_t>(INT_MAX) + 1) throw NotAnInteger(text);
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) throw NotAnInteger(text);
  return value;
}

}  // namespace

std::string HostFromAddress(std::string_view address) {
  std::string s(address);
  if (TextPos("//", s) > 0) s = TextAfter("//", s);
  if (TextPos(":", s) > 0) s = TextBefore(":", s);
  if (TextPos("/", s) > 0) s = TextBefore("/", s);
  return s;
}

std::string PathFromAddress(std::string_view address) {
  const std::string path = TextAfter("/", AfterHost(address));
  return path.empty() ? std::string() : "/" + path;
}

std::int32_t PortFromAddress(std::string_view address) {
  const std::string port = TextBefore("/", TextAfter(":", AfterHost(address)));
  const std::int64_t value = ParseInteger(port);
  if (value < 0) throw Error("Range check error");
  return static_cast<std::int32_t>(value);
}

}  // namespace orx
