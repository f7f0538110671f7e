#pragma once
// Looks into a package file for support staff: the archive inside, its one
// entry and what the file's name says.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orx {

// The parts of a package file's name, CODE_NNN_LL_YYYY.MM.DD_x.zip.cod, with
// a code of a known document kind.
struct PackageName {
  std::string kind;  // the code, FA
  std::string office;
  std::string locale;
  std::string date;  // YYYY.MM.DD
};
[[nodiscard]] std::optional<PackageName> ParsePackageFileName(std::string_view fileName);

// Receives each fact as it is established: "entry", "size", "method",
// "crc", "certificates".
using PackageFactSink = std::function<void(std::string_view name, const std::string& value)>;

// Deciphers a package file's bytes with officeKey (the fixed key text when
// it is empty) and checks that they are a ZIP archive with exactly one
// entry, "sync.xml", not enciphered, whose data gives the recorded size and
// CRC-32, and whose content is XML. Tells each fact on the way; the number
// of certificates counts the root's child elements less the converter's own
// "arm". Returns the entry's content.
//
// Throws Error naming the first thing that does not hold (the archive
// library's message for a file that is not a ZIP archive, as with a wrong
// key, or whose data is damaged; the XML layer's message for content that
// does not parse).
std::string InspectPackage(std::string bytes, std::string_view officeKey,
                           const PackageFactSink& fact);

}  // namespace orx
