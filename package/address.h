#pragma once
// Splitting a server address such as https://certsrv:8443/cdb/ into host,
// path and port. The host is the text after the first "//" up to the first
// ":" or "/"; path and port are read from the text right after it.
#include <cstdint>
#include <string>
#include <string_view>

namespace orx {

std::string HostFromAddress(std::string_view address);
// "/" followed by the path, or empty.
std::string PathFromAddress(std::string_view address);
// Throws Error("'<text>' is not a valid integer value") or "Range check error".
std::int32_t PortFromAddress(std::string_view address);

}  // namespace orx
