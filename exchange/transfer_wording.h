#pragma once
// The operator reads the transport's failures in the program's own Russian
// wording, after the "[ErrorCode N]" that names libcurl's code.
#include <cstdint>
#include <optional>
#include <string_view>

namespace orx {

// The wording of libcurl's error code (a CURLcode) for the failures a
// server job meets; nullopt for a code without one.
std::optional<std::string_view> TransferErrorWording(std::uint32_t code);

}  // namespace orx
