#include "package/package_archive.h"

#include <libdeflate.h>
#include <zip.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "support/c_handle.h"
#include "support/error.h"

namespace orx {
namespace {

constexpr int kDeflateLevel = 6;

[[noreturn]] void ThrowZipError(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string message = zip_error_strerror(&error);
  zip_error_fini(&error);
  throw Error(message);
}

[[noreturn]] void ThrowZipError(zip_t* archive) { throw Error(zip_strerror(archive)); }

}  // namespace

namespace {

struct DeflatedData {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;  // 0: longer than the bound, which cannot happen
};

// Raw deflate of the whole content at level 6 in one call. The output buffer
// has room for the worst case, so its pages are touched only as far as the
// output goes.
DeflatedData Deflate(std::string_view content) {
  const CHandle<libdeflate_compressor, libdeflate_free_compressor> compressor(
      libdeflate_alloc_compressor(kDeflateLevel));
  if (!compressor) throw std::bad_alloc();
  const std::size_t bound = libdeflate_deflate_compress_bound(compressor.get(), content.size());
  DeflatedData deflated{std::make_unique_for_overwrite<char[]>(bound)};
  deflated.size = libdeflate_deflate_compress(compressor.get(), content.data(), content.size(),
                                              deflated.bytes.get(), bound);
  return deflated;
}

// The entry's data as it goes into the archive, with what the archive library
// would otherwise work out itself by reading it again: the method, the CRC of
// the content and both sizes. For a deflated entry the library copies the
// data as it stands.
class EntryData {
 public:
  EntryData(std::string_view data, zip_uint16_t method, zip_uint32_t crc, zip_uint64_t size)
      : data_(data), method_(method), crc_(crc), size_(size) {
    zip_error_init(&error_);
  }
  ~EntryData() { zip_error_fini(&error_); }
  EntryData(const EntryData&) = delete;
  EntryData& operator=(const EntryData&) = delete;

  static zip_int64_t Callback(void* self, void* data, zip_uint64_t length,
                              zip_source_cmd_t command) {
    return static_cast<EntryData*>(self)->Handle(data, length, command);
  }

 private:
  zip_int64_t Handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
    switch (command) {
      case ZIP_SOURCE_OPEN:
        offset_ = 0;
        return 0;
      case ZIP_SOURCE_READ: {
        const std::size_t n = std::min<zip_uint64_t>(length, data_.size() - offset_);
        std::memcpy(data, data_.data() + offset_, n);
        offset_ += n;
        return static_cast<zip_int64_t>(n);
      }
      case ZIP_SOURCE_CLOSE:
      case ZIP_SOURCE_FREE:  // the object belongs to the caller
        return 0;
      case ZIP_SOURCE_STAT: {
        auto* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error_);
        if (stat == nullptr) return -1;
        zip_stat_init(stat);
        stat->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC |
                      ZIP_STAT_ENCRYPTION_METHOD;
        stat->size = size_;
        stat->comp_size = data_.size();
        stat->comp_method = method_;
        stat->crc = crc_;
        stat->encryption_method = ZIP_EM_NONE;
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, length);
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              static_cast<zip_source_cmd_t>(-1));
      default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  std::string_view data_;
  zip_uint16_t method_;
  zip_uint32_t crc_;
  zip_uint64_t size_;
  std::size_t offset_ = 0;
  zip_error_t error_;
};

void WriteArchive(const std::string& archivePath, const std::string& entryName, EntryData& data,
                  zip_int32_t method, const LocalDateTime& modified) {
  int code = 0;
  CHandle<zip_t, zip_discard> archive(
      zip_open(archivePath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code));
  if (!archive) ThrowZipError(code);

  // data outlives zip_close below.
  zip_source_t* source = zip_source_function(archive.get(), EntryData::Callback, &data);
  if (source == nullptr) ThrowZipError(archive.get());
  const zip_int64_t index =
      zip_file_add(archive.get(), entryName.c_str(), source, ZIP_FL_ENC_RAW | ZIP_FL_OVERWRITE);
  if (index < 0) {
    zip_source_free(source);
    ThrowZipError(archive.get());
  }
  const auto entry = static_cast<zip_uint64_t>(index);
  // The entry's method equals the data's, so the library neither deflates
  // nor reads the content for its CRC; level 6 keeps the general-purpose
  // flags at 0.
  if (zip_set_file_compression(archive.get(), entry, method,
                               method == ZIP_CM_STORE ? 0 : kDeflateLevel) < 0 ||
      zip_file_set_external_attributes(archive.get(), entry, 0, ZIP_OPSYS_DOS, 0) < 0 ||
      zip_file_set_dostime(archive.get(), entry, DosTime(modified), DosDate(modified), 0) < 0) {
    ThrowZipError(archive.get());
  }
  // Writing happens here; a full disk is told with the file it filled.
  if (zip_close(archive.get()) < 0) {
    throw Error("Stream write error, file \"" + archivePath + "\". " + zip_strerror(archive.get()));
  }
  static_cast<void>(archive.release());  // zip_close freed it
}

}  // namespace

std::size_t DeflatedSize(std::string_view content) { return Deflate(content).size; }

void WriteSingleEntryZip(const std::string& archivePath, std::string_view entryName,
                         std::string_view content, const LocalDateTime& modified) {
  const std::string name(entryName);
  const zip_uint32_t crc = libdeflate_crc32(0, content.data(), content.size());
  // Deflated once, whole; its exact length decides, and a stored entry needs
  // nothing of it.
  if (!content.empty()) {
    const DeflatedData deflated = Deflate(content);
    if (deflated.size != 0 && deflated.size <= content.size()) {
      EntryData data({deflated.bytes.get(), deflated.size}, ZIP_CM_DEFLATE, crc, content.size());
      WriteArchive(archivePath, name, data, ZIP_CM_DEFLATE, modified);
      return;
    }
  }
  EntryData data(content, ZIP_CM_STORE, crc, content.size());
  WriteArchive(archivePath, name, data, ZIP_CM_STORE, modified);
}

}  // namespace orx
