#pragma once
// Reads a single-entry ZIP archive byte by byte, so that tests check what was
// written rather than what a ZIP library makes of it.
#include <cstdint>
#include <string>

namespace orx::testing {

struct ZipEntryHeader {
  std::uint16_t versionNeeded = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint16_t dosTime = 0;
  std::uint16_t dosDate = 0;
  std::uint32_t crc = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t size = 0;
  std::string name;
  std::string extra;
};

struct ZipSingleEntry {
  ZipEntryHeader local;
  ZipEntryHeader central;
  std::uint16_t versionMadeBy = 0;
  std::uint32_t externalAttributes = 0;
  std::uint16_t entryCount = 0;  // from the end-of-central-directory record
  std::string content;           // inflated (or stored) data
  bool hasDataDescriptor = false;
};

// Throws std::runtime_error when the bytes are not such an archive.
ZipSingleEntry ReadSingleEntryZip(const std::string& archive);

}  // namespace orx::testing
