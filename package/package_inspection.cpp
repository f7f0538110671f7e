#include "package/package_inspection.h"

#include <fcntl.h>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <regex>
#include <utility>

#include "package/cipher.h"
#include "package/key_parameters.h"
#include "support/c_handle.h"
#include "support/error.h"
#include "support/files.h"
#include "support/unique_fd.h"
#include "support/xml_document.h"
#include "support/xml_parse_guard.h"

namespace orx {
namespace {

constexpr std::string_view kEntryName = "sync.xml";
constexpr std::string_view kLocalHeaderSignature = "PK\x03\x04";
constexpr std::size_t kLocalHeaderSize = 30;

constexpr std::string_view kNotThisKey =
    "Пакет не расшифровывается этим ключевым файлом: возможно, пакет другого отделения "
    "или сделан с другим ключом";

struct ZipErrorText {
  zip_error_t error{};
  ZipErrorText() { zip_error_init(&error); }
  ~ZipErrorText() { zip_error_fini(&error); }
  ZipErrorText(const ZipErrorText&) = delete;
  ZipErrorText& operator=(const ZipErrorText&) = delete;
  std::string text() { return zip_error_strerror(&error); }
};

std::string MethodName(std::uint16_t method) {
  if (method == ZIP_CM_STORE) return "stored";
  if (method == ZIP_CM_DEFLATE) return "deflated";
  return std::to_string(method);
}

std::uint16_t Little16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
}

// The root's child elements less the converter's own first "arm", counted
// as the parser goes: no tree is built.
class CertificateCounter {
 public:
  CertificateCounter() {
    xmlSAXVersion(&handlers_, 2);  // entity and DTD handling as in a whole parse
    handlers_.startElementNs = &CertificateCounter::Start;
    handlers_.attributeDecl = &CertificateCounter::AttributeDecl;
    handlers_.endElementNs = &CertificateCounter::End;
    handlers_.characters = nullptr;
    handlers_.ignorableWhitespace = nullptr;
    handlers_.cdataBlock = nullptr;
    handlers_.comment = nullptr;
    handlers_.processingInstruction = nullptr;
    handlers_.reference = nullptr;
    handlers_.serror = &CertificateCounter::Fault;
    InitXmlLibrary();
    ctxt_.reset(xmlCreatePushParserCtxt(&handlers_, nullptr, nullptr, 0, kEntryName.data()));
    if (!ctxt_) throw std::bad_alloc();
    ctxt_->_private = this;
    xmlCtxtUseOptions(ctxt_.get(), kXmlParseOptions);
  }

  void Add(std::string_view piece) {
    if (refusal_ == nullptr && !tags_.Feed(piece)) {
      refusal_ = kCrowdedTag;
      refusalLine_ = tags_.crowdedLine();
    }
    // Handed on in parts the parser's int can hold.
    while (!piece.empty() && ctxt_->wellFormed && refusal_ == nullptr) {
      const std::size_t part = std::min<std::size_t>(piece.size(), 1 << 20);
      xmlParseChunk(ctxt_.get(), piece.data(), static_cast<int>(part), 0);
      piece.remove_prefix(part);
    }
  }

  std::uint64_t Finish() {
    if (refusal_ != nullptr) throw XmlParseError({}, refusal_, refusalLine_);
    if (ctxt_->wellFormed) xmlParseChunk(ctxt_.get(), nullptr, 0, 1);
    if (refusal_ != nullptr) throw XmlParseError({}, refusal_, refusalLine_);
    if (!ctxt_->wellFormed || ctxt_->disableSAX || depth_ != 0 || !rootSeen_) {
      // The entry is not kept whole, so the message quotes none of it.
      if (!first_.set()) throw XmlParseError({}, "Document is empty", 1);
      throw XmlParseError({}, first_.message(), first_.line());
    }
    return count_;
  }

 private:
  struct ContextFree {
    void operator()(xmlParserCtxtPtr ctxt) const noexcept {
      if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);
      xmlFreeParserCtxt(ctxt);
    }
  };

  static CertificateCounter& Of(void* ctx) {
    return *static_cast<CertificateCounter*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
  }

  // Stops the parse for a DTD's defaults (DefaultAttributeGuard) when there
  // is a reason.
  static bool Refused(void* ctx, const char* reason) {
    if (reason == nullptr) return false;
    CertificateCounter& self = Of(ctx);
    if (self.refusal_ == nullptr) {
      self.refusal_ = reason;
      self.refusalLine_ = xmlSAX2GetLineNumber(ctx);
    }
    xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
    return true;
  }

  static void AttributeDecl(void* ctx, const xmlChar* element, const xmlChar* name, int type,
                            int def, const xmlChar* defaultValue, xmlEnumerationPtr tree) {
    if (Refused(ctx, Of(ctx).defaults_.Declared(element, def, defaultValue))) {
      xmlFreeEnumeration(tree);  // the handler owns it
      return;
    }
    xmlSAX2AttributeDecl(ctx, element, name, type, def, defaultValue, tree);
  }

  static void Start(void* ctx, const xmlChar* localName, const xmlChar* prefix, const xmlChar*,
                    int, const xmlChar**, int attributes, int defaulted, const xmlChar**) {
    CertificateCounter& self = Of(ctx);
    if (Refused(ctx, self.defaults_.Added(attributes, defaulted))) return;
    if (self.depth_++ != 1) {
      self.rootSeen_ = true;
      return;
    }
    const bool arm = self.firstChild_ && prefix == nullptr &&
                     xmlStrEqual(localName, reinterpret_cast<const xmlChar*>("arm"));
    if (!arm) ++self.count_;
    self.firstChild_ = false;
  }

  static void End(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) { --Of(ctx).depth_; }

  static void Fault(void* ctx, xmlErrorPtr error) { Of(ctx).first_.Take(error); }

  xmlSAXHandler handlers_{};
  StartTagScanner tags_;
  DefaultAttributeGuard defaults_;
  const char* refusal_ = nullptr;
  int refusalLine_ = 0;
  std::unique_ptr<xmlParserCtxt, ContextFree> ctxt_;
  XmlFirstError first_;
  std::uint64_t depth_ = 0;
  std::uint64_t count_ = 0;
  bool firstChild_ = true;
  bool rootSeen_ = false;
};

}  // namespace

// The package file as libzip reads it: positioned reads of the file,
// deciphered on the way (CFB-8 needs only the 16 bytes before a byte).
class PackageFile::Source {
 public:
  Source(const std::string& path, std::string_view officeKey) : key_(officeKey) {
    file_ = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file_.valid()) throw CannotOpen(path, errno);
    struct stat info {};
    if (::fstat(file_.get(), &info) != 0) throw CannotOpen(path, errno);
    if (S_ISDIR(info.st_mode)) throw CannotOpen(path, EISDIR);
    if (!S_ISREG(info.st_mode)) {
      throw Error("Cannot open file \"" + path +
                  "\". Это не обычный файл (устройство или канал), его чтение может не кончиться");
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
    zip_error_init(&error_);
  }
  ~Source() { zip_error_fini(&error_); }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  // Deciphered bytes at offset; fewer at the end of the file. Throws the
  // file layer's read error.
  std::string Read(std::uint64_t offset, std::size_t length, const std::string& path) {
    std::string bytes(length, '\0');
    const std::size_t got = ReadDeciphered(offset, bytes.data(), length);
    if (got == static_cast<std::size_t>(-1)) throw StreamReadError(path, errno);
    bytes.resize(got);
    return bytes;
  }

  static zip_int64_t Callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    return static_cast<Source*>(self)->Answer(data, length, command);
  }

 private:
  // Bytes read, or -1 with errno set.
  std::size_t ReadDeciphered(std::uint64_t offset, char* data, std::size_t length) noexcept {
    if (offset >= size_) return 0;
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
    const std::size_t before = static_cast<std::size_t>(std::min<std::uint64_t>(offset, 16));
    char preceding[16];
    if (!ReadAt(offset - before, preceding, before) || !ReadAt(offset, data, length)) {
      return static_cast<std::size_t>(-1);
    }
    try {
      DecryptCodRange({preceding, before}, data, length, key_);
    } catch (...) {
      errno = EINVAL;
      return static_cast<std::size_t>(-1);
    }
    return length;
  }

  bool ReadAt(std::uint64_t offset, char* data, std::size_t length) noexcept {
    while (length > 0) {
      const ssize_t got = ::pread(file_.get(), data, length, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        if (got == 0) errno = EIO;  // the file shrank meanwhile
        return false;
      }
      data += got;
      length -= static_cast<std::size_t>(got);
      offset += static_cast<std::uint64_t>(got);
    }
    return true;
  }

  zip_int64_t Answer(void* data, zip_uint64_t length, zip_source_cmd_t command) noexcept {
    switch (command) {
      case ZIP_SOURCE_OPEN:
        offset_ = 0;
        return 0;
      case ZIP_SOURCE_READ: {
        const std::size_t got = ReadDeciphered(offset_, static_cast<char*>(data),
                                               static_cast<std::size_t>(length));
        if (got == static_cast<std::size_t>(-1)) {
          zip_error_set(&error_, ZIP_ER_READ, errno);
          return -1;
        }
        offset_ += got;
        return static_cast<zip_int64_t>(got);
      }
      case ZIP_SOURCE_CLOSE:
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_STAT: {
        auto* stat = static_cast<zip_stat_t*>(data);
        zip_stat_init(stat);
        stat->size = size_;
        stat->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, length);
      case ZIP_SOURCE_SEEK: {
        const zip_int64_t to =
            zip_source_seek_compute_offset(offset_, size_, data, length, &error_);
        if (to < 0) return -1;
        offset_ = static_cast<std::uint64_t>(to);
        return 0;
      }
      case ZIP_SOURCE_TELL:
        return static_cast<zip_int64_t>(offset_);
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                              ZIP_SOURCE_SUPPORTS, -1);
      default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  UniqueFd file_;
  std::string key_;
  std::uint64_t size_ = 0;
  std::uint64_t offset_ = 0;
  zip_error_t error_{};
};

void PackageFile::Discard::operator()(zip_t* archive) const noexcept { zip_discard(archive); }

PackageFile::PackageFile(const std::string& path, std::string_view officeKey,
                         const PackageFactSink& fact)
    : source_(std::make_unique<Source>(path, officeKey)) {
  // A package begins with its entry's local header; deciphered with another
  // key, its first bytes are noise.
  const std::string head = source_->Read(0, kLocalHeaderSize, path);
  if (!head.starts_with(kLocalHeaderSignature)) throw Error(std::string(kNotThisKey));

  // A strict consistency check compares every local header with the
  // central directory, so that a changed byte anywhere in the headers is
  // noticed.
  ZipErrorText error;
  CHandle<zip_source_t, zip_source_free> zipSource(
      zip_source_function_create(&Source::Callback, source_.get(), &error.error));
  if (!zipSource) throw Error(error.text());
  archive_.reset(zip_open_from_source(zipSource.get(), ZIP_RDONLY | ZIP_CHECKCONS, &error.error));
  if (!archive_) throw Error(error.text());
  zipSource.release();  // the archive owns it now

  const zip_int64_t entries = zip_get_num_entries(archive_.get(), 0);
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (entries < 1 || zip_stat_index(archive_.get(), 0, ZIP_FL_ENC_RAW, &stat) != 0 ||
      head.size() < kLocalHeaderSize) {
    throw Error("В архиве нет ни одного файла; в пакете должен быть один файл sync.xml");
  }
  // The name as it stands in the header, whole: libzip hands it out as a C
  // string, which a zero byte would cut short ("sync.xml\0../../evil"). The
  // central directory's name equals it, or the consistency check failed.
  const std::string name = source_->Read(kLocalHeaderSize, Little16(head, 26), path);
  fact("entry", name);
  if (entries != 1) {
    throw Error("Файлов в архиве: " + std::to_string(entries) +
                "; в пакете должен быть один файл sync.xml");
  }
  if (name != kEntryName) throw Error(std::string(kNotSyncEntry));
  fact("size", std::to_string(stat.size));
  fact("method", MethodName(stat.comp_method));
  if (stat.encryption_method != ZIP_EM_NONE) throw Error("Файл sync.xml зашифрован внутри архива");
}

PackageFile::~PackageFile() = default;

PackageFile::Entry PackageFile::OpenEntry() const {
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(archive_.get(), 0, 0, &stat) != 0) throw Error(zip_strerror(archive_.get()));
  zip_file_t* file = zip_fopen_index(archive_.get(), 0, 0);
  if (file == nullptr) throw Error(zip_strerror(archive_.get()));
  return Entry(file, stat.size);
}

PackageFile::Entry::Entry(Entry&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)), size_(other.size_), read_(other.read_) {}

PackageFile::Entry::~Entry() {
  if (file_ != nullptr) zip_fclose(file_);
}

// libzip compares the CRC-32 of the data with the recorded one when the data
// has been read to its end, and fails the read that finds a difference.
std::size_t PackageFile::Entry::Read(char* buffer, std::size_t length) {
  const zip_int64_t got = zip_fread(file_, buffer, length);
  if (got < 0) throw Error(zip_file_strerror(file_));
  read_ += static_cast<std::uint64_t>(got);
  if ((got == 0 && read_ != size_) || read_ > size_) {
    throw Error("В файле sync.xml " + std::to_string(read_) + " байт, а в его заголовке указано " +
                std::to_string(size_));
  }
  return static_cast<std::size_t>(got);
}

void PackageFile::ReadEntry(const ContentSink& content) const {
  Entry entry = OpenEntry();
  char piece[64 * 1024];
  while (const std::size_t got = entry.Read(piece, sizeof piece)) content({piece, got});
}

void InspectEntry(const PackageFile& package, const PackageFactSink& fact) {
  CertificateCounter counter;
  package.ReadEntry([&counter](std::string_view piece) { counter.Add(piece); });
  fact("crc", "ok");
  fact("certificates", std::to_string(counter.Finish()));
}

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

}  // namespace orx
