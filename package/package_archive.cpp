#include "package/package_archive.h"

#include <zip.h>

#include <memory>

#include "support/error.h"

namespace orx {
namespace {

constexpr int kDeflateLevel = 6;

struct ZipDiscard {
  void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
};

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

void WriteArchive(const std::string& archivePath, const std::string& entryName,
                  std::string_view content, const LocalDateTime& modified, bool store) {
  int code = 0;
  std::unique_ptr<zip_t, ZipDiscard> archive(
      zip_open(archivePath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code));
  if (!archive) ThrowZipError(code);

  // The buffer source does not copy: content outlives zip_close below.
  zip_source_t* source = zip_source_buffer(archive.get(), content.data(), content.size(), 0);
  if (source == nullptr) ThrowZipError(archive.get());
  const zip_int64_t index =
      zip_file_add(archive.get(), entryName.c_str(), source, ZIP_FL_ENC_RAW | ZIP_FL_OVERWRITE);
  if (index < 0) {
    zip_source_free(source);
    ThrowZipError(archive.get());
  }
  const auto entry = static_cast<zip_uint64_t>(index);
  // An explicit level keeps the general-purpose flags at 0 and, unlike the
  // library's default method, never stores an entry on its own.
  if (zip_set_file_compression(archive.get(), entry, store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                               store ? 0 : kDeflateLevel) < 0 ||
      zip_file_set_external_attributes(archive.get(), entry, 0, ZIP_OPSYS_DOS, 0) < 0 ||
      zip_file_set_dostime(archive.get(), entry, DosTime(modified), DosDate(modified), 0) < 0) {
    ThrowZipError(archive.get());
  }
  if (zip_close(archive.get()) < 0) ThrowZipError(archive.get());
  static_cast<void>(archive.release());  // zip_close freed it
}

zip_uint64_t CompressedSize(const std::string& archivePath) {
  int code = 0;
  std::unique_ptr<zip_t, ZipDiscard> archive(zip_open(archivePath.c_str(), ZIP_RDONLY, &code));
  if (!archive) ThrowZipError(code);
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(archive.get(), 0, 0, &stat) < 0 || (stat.valid & ZIP_STAT_COMP_SIZE) == 0) {
    ThrowZipError(archive.get());
  }
  return stat.comp_size;
}

}  // namespace

void WriteSingleEntryZip(const std::string& archivePath, std::string_view entryName,
                         std::string_view content, const LocalDateTime& modified) {
  const std::string name(entryName);
  // Deflating once and looking at the result costs one pass over the
  // content; text deflates almost always, so the second pass that stores it
  // is rare.
  const bool store = content.empty();
  WriteArchive(archivePath, name, content, modified, store);
  if (!store && CompressedSize(archivePath) > content.size()) {
    WriteArchive(archivePath, name, content, modified, true);
  }
}

}  // namespace orx
