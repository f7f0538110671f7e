#include "package/package_archive.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>

#include "support/error.h"

namespace orx {
namespace {

// The archive writer's deflate settings; the store/deflate decision must see
// exactly the stream it will write.
constexpr int kDeflateLevel = 6;

class Deflater {
 public:
  Deflater() {
    if (deflateInit2(&stream_, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, MAX_MEM_LEVEL,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
      throw Error("Zlib error: deflateInit2 failed");
    }
  }
  ~Deflater() { deflateEnd(&stream_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  z_stream& get() { return stream_; }

 private:
  z_stream stream_{};
};

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

std::uint64_t DeflatedSize(std::string_view content, std::uint64_t limit) {
  Deflater deflater;
  z_stream& stream = deflater.get();
  std::array<unsigned char, 64 * 1024> scratch;
  const auto* next = reinterpret_cast<const Bytef*>(content.data());
  std::size_t left = content.size();
  for (;;) {
    const std::size_t piece = std::min<std::size_t>(left, std::numeric_limits<uInt>::max());
    stream.next_in = const_cast<Bytef*>(next);
    stream.avail_in = static_cast<uInt>(piece);
    const int flush = piece == left ? Z_FINISH : Z_NO_FLUSH;
    int status = Z_OK;
    do {
      stream.next_out = scratch.data();
      stream.avail_out = static_cast<uInt>(scratch.size());
      status = deflate(&stream, flush);
      if (status == Z_STREAM_ERROR) throw Error("Zlib error: deflate failed");
      if (stream.total_out > limit) return stream.total_out;
    } while (stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    next += piece;
    left -= piece;
    if (flush == Z_FINISH) return stream.total_out;
  }
}

bool ShouldStore(std::string_view content) {
  return content.empty() || DeflatedSize(content, content.size()) > content.size();
}

std::uint16_t DosTime(const LocalDateTime& time) {
  if (time.year < 1980) return 0;
  if (time.year > 2107) return static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
  return static_cast<std::uint16_t>((time.hour << 11) | (time.minute << 5) | (time.second / 2));
}

std::uint16_t DosDate(const LocalDateTime& time) {
  if (time.year < 1980) return static_cast<std::uint16_t>((1 << 5) | 1);
  if (time.year > 2107) return static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
  return static_cast<std::uint16_t>(((time.year - 1980) << 9) | (time.month << 5) | time.day);
}

void WriteSingleEntryZip(const std::string& archivePath, std::string_view entryName,
                         std::string_view content, const LocalDateTime& modified) {
  const bool store = ShouldStore(content);
  int code = 0;
  std::unique_ptr<zip_t, ZipDiscard> archive(
      zip_open(archivePath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code));
  if (!archive) ThrowZipError(code);

  // The buffer source does not copy: content outlives zip_close below.
  zip_source_t* source = zip_source_buffer(archive.get(), content.data(), content.size(), 0);
  if (source == nullptr) ThrowZipError(archive.get());
  const std::string name(entryName);
  const zip_int64_t index =
      zip_file_add(archive.get(), name.c_str(), source, ZIP_FL_ENC_RAW | ZIP_FL_OVERWRITE);
  if (index < 0) {
    zip_source_free(source);
    ThrowZipError(archive.get());
  }
  const auto entry = static_cast<zip_uint64_t>(index);
  if (zip_set_file_compression(archive.get(), entry, store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                               store ? 0 : kDeflateLevel) < 0 ||
      zip_file_set_external_attributes(archive.get(), entry, 0, ZIP_OPSYS_DOS, 0) < 0 ||
      zip_file_set_dostime(archive.get(), entry, DosTime(modified), DosDate(modified), 0) < 0) {
    ThrowZipError(archive.get());
  }
  if (zip_close(archive.get()) < 0) ThrowZipError(archive.get());
  archive.release();  // zip_close freed it
}

}  // namespace orx
