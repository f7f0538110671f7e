#include "testing/zip_reader.h"

#include <zlib.h>

#include <stdexcept>

namespace orx::testing {
namespace {

class Cursor {
 public:
  Cursor(const std::string& bytes, std::size_t at) : bytes_(bytes), at_(at) {}
  std::uint32_t Read(int width) {
    if (at_ + width > bytes_.size()) throw std::runtime_error("archive truncated");
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes_[at_ + i]);
    at_ += width;
    return value;
  }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Read(2)); }
  std::uint32_t U32() { return Read(4); }
  std::string Bytes(std::size_t n) {
    if (at_ + n > bytes_.size()) throw std::runtime_error("archive truncated");
    std::string out = bytes_.substr(at_, n);
    at_ += n;
    return out;
  }
  std::size_t at() const { return at_; }

 private:
  const std::string& bytes_;
  std::size_t at_;
};

void Expect(bool condition, const char* what) {
  if (!condition) throw std::runtime_error(what);
}

std::string Inflate(const std::string& data, std::size_t size) {
  std::string out(size, '\0');
  z_stream s{};
  Expect(inflateInit2(&s, -MAX_WBITS) == Z_OK, "inflateInit2");
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  const int status = inflate(&s, Z_FINISH);
  const bool whole = status == Z_STREAM_END && s.total_out == size && s.avail_in == 0;
  inflateEnd(&s);
  Expect(whole, "deflate stream does not inflate to the stated size");
  return out;
}

}  // namespace

ZipSingleEntry ReadSingleEntryZip(const std::string& archive) {
  ZipSingleEntry zip;
  Expect(archive.size() >= 22, "too short for an archive");
  Cursor end(archive, archive.size() - 22);
  Expect(end.U32() == 0x06054b50, "no end-of-central-directory record at the end");
  end.U16();
  end.U16();
  end.U16();
  zip.entryCount = end.U16();
  const std::uint32_t centralSize = end.U32();
  const std::uint32_t centralOffset = end.U32();
  Expect(end.U16() == 0, "archive comment");
  Expect(centralOffset + centralSize == archive.size() - 22, "central directory misplaced");

  Cursor central(archive, centralOffset);
  Expect(central.U32() == 0x02014b50, "no central directory header");
  zip.versionMadeBy = central.U16();
  ZipEntryHeader& c = zip.central;
  c.versionNeeded = central.U16();
  c.flags = central.U16();
  c.method = central.U16();
  c.dosTime = central.U16();
  c.dosDate = central.U16();
  c.crc = central.U32();
  c.compressedSize = central.U32();
  c.size = central.U32();
  const std::uint16_t nameLength = central.U16();
  const std::uint16_t extraLength = central.U16();
  const std::uint16_t commentLength = central.U16();
  central.U16();  // disk
  central.U16();  // internal attributes
  zip.externalAttributes = central.U32();
  const std::uint32_t localOffset = central.U32();
  c.name = central.Bytes(nameLength);
  c.extra = central.Bytes(extraLength);
  central.Bytes(commentLength);
  Expect(central.at() == centralOffset + centralSize, "more than one central directory entry");

  Cursor local(archive, localOffset);
  Expect(local.U32() == 0x04034b50, "no local file header");
  ZipEntryHeader& l = zip.local;
  l.versionNeeded = local.U16();
  l.flags = local.U16();
  l.method = local.U16();
  l.dosTime = local.U16();
  l.dosDate = local.U16();
  l.crc = local.U32();
  l.compressedSize = local.U32();
  l.size = local.U32();
  const std::uint16_t localNameLength = local.U16();
  const std::uint16_t localExtraLength = local.U16();
  l.name = local.Bytes(localNameLength);
  l.extra = local.Bytes(localExtraLength);
  const std::string data = local.Bytes(c.compressedSize);
  zip.hasDataDescriptor = (l.flags & 0x0008) != 0 || archive.compare(local.at(), 4, "PK\x07\x08") == 0;

  if (c.method == 0) {
    zip.content = data;
  } else {
    Expect(c.method == 8, "neither stored nor deflated");
    zip.content = Inflate(data, c.size);
  }
  Expect(zip.content.size() == c.size, "content size differs from the header");
  const auto crc = crc32(0L, reinterpret_cast<const Bytef*>(zip.content.data()),
                         static_cast<uInt>(zip.content.size()));
  Expect(crc == c.crc, "CRC-32 does not match the content");
  return zip;
}

}  // namespace orx::testing
