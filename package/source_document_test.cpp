#include "package/source_document.h"

#include <gtest/gtest.h>

#include <ostream>

#include "support/error.h"
#include "support/files.h"
#include "testing/job_fixture.h"

namespace orx {
namespace {

using ::orx::testing::ErrorRecord;
using ::orx::testing::ReadFile;

constexpr std::string_view kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
const std::string kStamps =
    " version=\"2.0\" name=\"mcod\" ProgramFullVersion=\"4.1.1.1\" DateOfCreate=\"05.03.2008\"";
const std::string kNs = " xmlns=\"urn:orx-rf:certificates\"";

struct StampCase {
  const char* what;
  std::string input;
  std::string expected;
};

void PrintTo(const StampCase& c, std::ostream* out) { *out << c.what; }

class SourceDocumentTest : public ::orx::testing::JobFixture {};
class StampTest : public SourceDocumentTest, public ::testing::WithParamInterface<StampCase> {};

TEST_P(StampTest, WritesTheStampedDocumentWithCrLf) {
  const std::string input = dir_.Write("in.xml", GetParam().input);
  {
    JobFolder folder;
    const std::string path = GetFullSourceName(context_, folder, input);
    EXPECT_EQ(path, folder.Path() + "SourceConvert.xml");
    EXPECT_EQ(path.rfind(tmp_ + "/", 0), 0u);
    EXPECT_EQ(ReadFile(path), GetParam().expected);
  }
  // The job's folder is gone; its source document stays.
  EXPECT_EQ(TempFileNames(), std::vector<std::string>{"SourceConvert.xml"});
  EXPECT_EQ(ReadFile(GetTempDir() + "SourceConvert.xml"), GetParam().expected);
  EXPECT_TRUE(events_.records().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, StampTest,
    ::testing::Values(
        StampCase{"plain", std::string(kDecl) + "\r\n<dataPacket>\r\n  <cert>a</cert>\r\n</dataPacket>\r\n",
                  std::string(kDecl) + "\r\n<dataPacket" + kNs + kStamps +
                      "><arm lastKnownChange=\"0\"/><cert>a</cert></dataPacket>\r\n"},
        StampCase{"existing attributes keep their places",
                  std::string(kDecl) + "<dataPacket id=\"7\" version=\"1.0\" name=\"x\"><c/></dataPacket>",
                  std::string(kDecl) + "\r\n<dataPacket" + kNs +
                      " id=\"7\" version=\"2.0\" name=\"mcod\" ProgramFullVersion=\"4.1.1.1\" "
                      "DateOfCreate=\"05.03.2008\"><arm lastKnownChange=\"0\"/><c/></dataPacket>\r\n"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(SourceDocumentTest, TextForPackingLosesOnlyTheFirstDeclaration) {
  const std::string input = dir_.Write(
      "in.xml", std::string(kDecl) + "<dataPacket><c>xmlns=\"urn:orx-rf:certificates\"</c></dataPacket>");
  JobFolder folder;
  const std::string packed = GetSourceForPacking(GetFullSourceName(context_, folder, input));
  EXPECT_EQ(packed, std::string(kDecl) + "\r\n<dataPacket " + kStamps +
                        "><arm lastKnownChange=\"0\"/><c>xmlns=\"urn:orx-rf:certificates\"</c></dataPacket>\r\n");

  std::string withoutDeclaration = "<a/>";
  RemoveNamespaceDeclaration(withoutDeclaration);
  EXPECT_EQ(withoutDeclaration, "<a/>");
}

TEST_F(SourceDocumentTest, FailuresAreRecordedUnderTheKindTitleAndRaisedAgain) {
  params_.kindTitle = "Форма А";
  const std::string inputs[] = {dir_ / "missing.xml",
                                dir_.Write("bad.xml", "<dataPacket><arm></dataPacket>")};
  for (const std::string& input : inputs) {
    events_.clear();
    std::string message;
    try {
      JobFolder folder;
      GetFullSourceName(context_, folder, input);
      ADD_FAILURE() << input;
    } catch (const Error& e) {
      message = e.what();
    }
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(events_.records(),
              std::vector{ErrorRecord("Форма А", {"TFormMain.GetFullSourceName", message})});
  }
}

}  // namespace
}  // namespace orx
