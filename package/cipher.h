#pragma once
// Package cipher (OrxDCP): AES-256 in CFB-8 mode with a fixed IV. The key is
// the first 32 bytes of the key text, taken as they stand. Output has exactly
// the length of the input.
#include <cstddef>
#include <string>
#include <string_view>

namespace orx {

inline constexpr std::string_view FixedKeyText = "7F3C19A0D4E2B865C1F0A93D2E7B4C16";
inline constexpr std::string_view FixedIvText = "3E91C07B5D28A4F6";

// Enciphers the whole buffer in place. An empty keyText selects FixedKeyText.
// A non-empty key text shorter than 32 bytes throws Error.
void EncryptCodStream(std::string& stream, std::string_view keyText);
void DecryptCodStream(std::string& stream, std::string_view keyText);

// Deciphers in place length bytes that stood anywhere in a stream enciphered
// from its start, without the bytes before them: CFB-8 needs only the 16
// ciphertext bytes that precede a byte. preceding holds the ciphertext just
// before data: its last 16 bytes, or all of them when data lies within the
// stream's first 16. Same key text rules as DecryptCodStream.
void DecryptCodRange(std::string_view preceding, char* data, std::size_t length,
                     std::string_view keyText);

}  // namespace orx
