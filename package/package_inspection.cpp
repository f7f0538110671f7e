#include "package/package_inspection.h"

#include <zip.h>

#include <memory>
#include <regex>

#include "support/c_handle.h"
#include "package/cipher.h"
#include "package/key_parameters.h"
#include "support/error.h"
#include "support/xml_document.h"

namespace orx {
namespace {

constexpr std::string_view kEntryName = "sync.xml";

struct ZipErrorText {
  zip_error_t error{};
  ZipErrorText() { zip_error_init(&error); }
  ~ZipErrorText() { zip_error_fini(&error); }
  ZipErrorText(const ZipErrorText&) = delete;
  ZipErrorText& operator=(const ZipErrorText&) = delete;
  std::string text() { return zip_error_strerror(&error); }
};

// The archive over bytes that must outlive it. A strict consistency check
// compares every local header with the central directory, so that a
// changed byte anywhere in the headers is noticed.
CHandle<zip_t, zip_discard> OpenArchive(const std::string& bytes) {
  ZipErrorText error;
  CHandle<zip_source_t, zip_source_free> source(
      zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error.error));
  if (!source) throw Error(error.text());
  CHandle<zip_t, zip_discard> archive(
      zip_open_from_source(source.get(), ZIP_RDONLY | ZIP_CHECKCONS, &error.error));
  if (!archive) throw Error(error.text());
  source.release();  // the archive owns it now
  return archive;
}

std::string MethodName(std::uint16_t method) {
  if (method == ZIP_CM_STORE) return "stored";
  if (method == ZIP_CM_DEFLATE) return "deflated";
  return std::to_string(method);
}

// libzip compares the CRC-32 of the data with the recorded one when the data
// has been read to its end, and fails the read that finds a difference.
std::string ReadEntry(zip_t* archive, const zip_stat_t& stat) {
  CHandle<zip_file_t, zip_fclose> file(zip_fopen_index(archive, 0, 0));
  if (!file) throw Error(zip_strerror(archive));
  std::string content;
  char piece[64 * 1024];
  for (;;) {
    const zip_int64_t got = zip_fread(file.get(), piece, sizeof piece);
    if (got < 0) throw Error(zip_file_strerror(file.get()));
    if (got == 0) break;
    content.append(piece, static_cast<std::size_t>(got));
  }
  if (content.size() != stat.size) {
    throw Error("The entry holds " + std::to_string(content.size()) + " bytes, its header says " +
                std::to_string(stat.size));
  }
  return content;
}

std::uint64_t CountCertificates(const std::string& content) {
  const XmlDocument document = XmlDocument::Parse(content);
  const XmlNode root = document.Root();
  if (!root) return 0;
  std::uint64_t count = 0;
  bool first = true;
  for (xmlNodePtr node = root.get()->children; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    if (!first || XmlNode(node).NodeName() != "arm") ++count;
    first = false;
  }
  return count;
}

}  // namespace

std::optional<PackageName> ParsePackageFileName(std::string_view fileName) {
  static const std::regex kForm(
      R"(([A-Z0-9]+)_([0-9]{3})_([0-9]{2})_([0-9]{4}\.[0-9]{2}\.[0-9]{2})_x\.zip\.cod)");
  std::match_results<std::string_view::const_iterator> match;
  if (!std::regex_match(fileName.begin(), fileName.end(), match, kForm)) return std::nullopt;
  const std::string kind = match[1].str();
  bool known = false;
  for (int k = 1; k <= static_cast<int>(DocumentKind::TTC); ++k) {
    known = known || DocumentKindCode(static_cast<DocumentKind>(k)) == kind;
  }
  if (!known) return std::nullopt;
  return PackageName{kind, match[2].str(), match[3].str(), match[4].str()};
}

std::string InspectPackage(std::string bytes, std::string_view officeKey,
                           const PackageFactSink& fact) {
  DecryptCodStream(bytes, officeKey);
  const auto archive = OpenArchive(bytes);
  const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (entries < 1 || zip_stat_index(archive.get(), 0, ZIP_FL_ENC_RAW, &stat) != 0) {
    throw Error("The archive holds no entry; a package holds the one entry sync.xml");
  }
  fact("entry", stat.name != nullptr ? stat.name : "");
  if (entries != 1) {
    throw Error("The archive holds " + std::to_string(entries) +
                " entries; a package holds the one entry sync.xml");
  }
  if (stat.name == nullptr || kEntryName != stat.name) {
    throw Error("The archive's entry is not sync.xml");
  }
  fact("size", std::to_string(stat.size));
  fact("method", MethodName(stat.comp_method));
  if (stat.encryption_method != ZIP_EM_NONE) throw Error("The entry is enciphered inside the archive");
  std::string content = ReadEntry(archive.get(), stat);
  fact("crc", "ok");
  fact("certificates", std::to_string(CountCertificates(content)));
  return content;
}

}  // namespace orx
