#pragma once
// Package cipher (OrxDCP): AES-256 in CFB-8 mode with a fixed IV. The key is
// the first 32 bytes of the key text, taken as they stand. Output has exactly
// the length of the input.
#include <string>
#include <string_view>

namespace orx {

inline constexpr std::string_view FixedKeyText = "7F3C19A0D4E2B865C1F0A93D2E7B4C16";
inline constexpr std::string_view FixedIvText = "3E91C07B5D28A4F6";

// Enciphers the whole buffer in place. An empty keyText selects FixedKeyText.
// A non-empty key text shorter than 32 bytes throws Error.
void EncryptCodStream(std::string& stream, std::string_view keyText);
void DecryptCodStream(std::string& stream, std::string_view keyText);

}  // namespace orx
