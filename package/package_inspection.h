#pragma once
// Looks into a package file for support staff: the archive inside, its one
// entry and what the file's name says.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// libzip's archive and entry handles (zip.h).
struct zip;
struct zip_file;

namespace orx {

// Why an archive whose one entry has another name is no package.
inline constexpr std::string_view kNotSyncEntry = "Файл в архиве называется не sync.xml";

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
// Receives an entry's content piece by piece, in order.
using ContentSink = std::function<void(std::string_view piece)>;

// A package file opened for a look inside. The archive is read where it
// lies and deciphered as it is read, and the entry is handed on in pieces,
// so memory does not grow with the size of the file or of its entry.
class PackageFile {
 public:
  // Opens the package file at path (a regular file: a device or a pipe
  // might never end) with officeKey (the fixed key text when it is empty)
  // and checks that it is a ZIP archive with exactly one entry, named
  // exactly "sync.xml", not enciphered. Tells "entry", "size" and "method"
  // on the way.
  //
  // Throws Error naming the first thing that does not hold: the file
  // layer's open message; that the package does not decipher with this key
  // (another office's key file, or a file that is no package); the archive
  // library's message for an archive whose headers are damaged.
  PackageFile(const std::string& path, std::string_view officeKey, const PackageFactSink& fact);
  ~PackageFile();
  PackageFile(const PackageFile&) = delete;
  PackageFile& operator=(const PackageFile&) = delete;

  // The entry read from its start, as long as the PackageFile lives.
  class Entry {
   public:
    ~Entry();
    Entry(Entry&&) noexcept;
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
    Entry& operator=(Entry&&) = delete;
    // Up to length bytes into buffer; 0 at the end. Throws the archive
    // library's message for damaged data (a CRC-32 that differs is found at
    // the end) or an entry shorter or longer than its header says.
    std::size_t Read(char* buffer, std::size_t length);

   private:
    friend class PackageFile;
    Entry(::zip_file* file, std::uint64_t size) : file_(file), size_(size) {}
    ::zip_file* file_;
    std::uint64_t size_;
    std::uint64_t read_ = 0;
  };
  Entry OpenEntry() const;
  // The whole entry, each piece handed to content; throws as Entry::Read does
  // and what content throws.
  void ReadEntry(const ContentSink& content) const;

 private:
  class Source;
  struct Discard {
    void operator()(::zip* archive) const noexcept;
  };
  std::unique_ptr<Source> source_;  // outlives the archive, which reads it
  std::unique_ptr<::zip, Discard> archive_;
};

// Reads the entry once, checking its CRC-32 ("crc") and that it is XML, and
// counts the certificates: the root's child elements less the converter's
// own "arm" ("certificates"). Throws as ReadEntry does, or the XML layer's
// message (XmlParseError, without the source line) for content that does
// not parse.
void InspectEntry(const PackageFile& package, const PackageFactSink& fact);

}  // namespace orx
