#include "package/package_archive.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <filesystem>
#include <random>

#include "support/error.h"
#include "testing/test_support.h"
#include "testing/zip_reader.h"

namespace orx {
namespace {

using ::orx::testing::ReadFile;
using ::orx::testing::ScratchDir;

// 2008-03-05 10:20:30 in MS-DOS form.
constexpr LocalDateTime kPacked{2008, 3, 5, 10, 20, 30};
constexpr std::uint16_t kDosTime = (10 << 11) | (20 << 5) | 15;
constexpr std::uint16_t kDosDate = (28 << 9) | (3 << 5) | 5;

std::string RandomText(std::mt19937& random, std::size_t length, std::string_view alphabet) {
  std::string text(length, '\0');
  for (char& c : text) c = alphabet[random() % alphabet.size()];
  return text;
}

// A short text whose deflated form, by the encoder the archive uses, is
// exactly as long as itself.
std::string DeflatesToOwnLength() {
  std::mt19937 random(1);
  for (int attempt = 0; attempt < 100000; ++attempt) {
    std::string text = RandomText(random, 8 + random() % 33, "abcdefghijklmnopqrstuvwxyz0123456789");
    if (DeflatedSize(text) == text.size()) return text;
  }
  ADD_FAILURE() << "no text found";
  return {};
}

struct ArchiveCase {
  const char* what;
  std::string content;
  std::uint16_t method;
  std::uint16_t versionNeeded;
};

std::vector<ArchiveCase> Cases() {
  std::mt19937 random(7);
  std::string binary(20000, '\0');
  for (char& c : binary) c = static_cast<char>(random());
  std::string xml;
  while (xml.size() < 10000) xml += "<cert number=\"RU-FA-0700001\">Пиломатериалы</cert>\r\n";
  return {
      {"empty", "", 0, 10},
      {"deflate longer", "hello", 0, 10},
      {"incompressible", binary, 0, 10},
      {"compressible", xml, 8, 20},
      {"deflate as long", DeflatesToOwnLength(), 8, 20},
  };
}

TEST(PackageArchiveTest, SingleEntryHasTheAgreedHeaders) {
  for (const ArchiveCase& c : Cases()) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string path = dir / "a.zip";
    WriteSingleEntryZip(path, "sync.xml", c.content, kPacked);
    const auto zip = ::orx::testing::ReadSingleEntryZip(ReadFile(path));
    EXPECT_EQ(zip.entryCount, 1);
    EXPECT_EQ(zip.content, c.content);
    EXPECT_FALSE(zip.hasDataDescriptor);
    EXPECT_EQ(zip.externalAttributes, 0u);
    EXPECT_EQ(zip.versionMadeBy >> 8, 0);  // MS-DOS
    for (const auto* header : {&zip.local, &zip.central}) {
      EXPECT_EQ(header->name, "sync.xml");
      EXPECT_EQ(header->method, c.method);
      EXPECT_EQ(header->versionNeeded, c.versionNeeded);
      EXPECT_EQ(header->flags, 0);
      EXPECT_EQ(header->dosTime, kDosTime);
      EXPECT_EQ(header->dosDate, kDosDate);
      EXPECT_EQ(header->extra, "");
    }
    if (c.method == 8) {
      EXPECT_LE(zip.central.compressedSize, c.content.size());
    }
    const auto check = ::orx::testing::RunProcess("/usr/bin/unzip", {"-tq", path});
    EXPECT_EQ(check.exitStatus, 0) << check.standardOutput;
  }
}

TEST(PackageArchiveTest, DosTimeClampsToTheFormatsRange) {
  EXPECT_EQ(DosDate({1970, 6, 1, 12, 0, 0}), (1 << 5) | 1);
  EXPECT_EQ(DosTime({1970, 6, 1, 12, 0, 0}), 0);
  EXPECT_EQ(DosDate({2200, 6, 1, 12, 0, 0}), (127 << 9) | (12 << 5) | 31);
  EXPECT_EQ(DosTime({2107, 12, 31, 23, 59, 59}), (23 << 11) | (59 << 5) | 29);
}

TEST(PackageArchiveTest, MissingFolderFailsWithTheLibrarysMessage) {
  ScratchDir dir;
  EXPECT_THROW(WriteSingleEntryZip(dir / "none/a.zip", "sync.xml", "x", kPacked), Error);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  // A disk that fills up (here a file-size limit) is told with the file.
  const auto ignored = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 100;
  ::setrlimit(RLIMIT_FSIZE, &small);
  std::mt19937 random(2);
  const std::string incompressible = RandomText(random, 4000, "abcdefghijklmnopqrstuvwxyz");
  std::string message;
  try {
    WriteSingleEntryZip(dir / "a.zip", "sync.xml", incompressible, kPacked);
  } catch (const Error& e) {
    message = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, ignored);
  EXPECT_EQ(message.rfind("Stream write error, file \"" + dir / "a.zip" + "\". ", 0), 0u) << message;
  EXPECT_NE(message.find("File too large"), std::string::npos) << message;
}

}  // namespace
}  // namespace orx
