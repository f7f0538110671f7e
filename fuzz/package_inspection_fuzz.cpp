// Package inspection on hostile input: the bytes are a ZIP archive (its
// entry the document), enciphered here with an office key so that the
// inspection gets past the cipher into the archive and the streamed parse.
// Every refusal is an Error; nothing else may escape.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "package/cipher.h"
#include "package/package_inspection.h"
#include "support/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const orx::fuzz::ScratchFile file;
  static constexpr std::string_view kKey = "0123456789ABCDEF0123456789ABCDEF";
  std::string bytes(reinterpret_cast<const char*>(data), size);
  orx::EncryptCodStream(bytes, kKey);
  const auto ignore = [](std::string_view, const std::string&) {};
  try {
    const orx::PackageFile package(file.Write(bytes), kKey, ignore);
    orx::InspectEntry(package, ignore);
  } catch (const orx::Error&) {
  }
  return 0;
}
