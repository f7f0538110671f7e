// The operator tools through the built program: their output lines are what
// operators and scripts read.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>

#include "package/cipher.h"
#include "testing/test_support.h"

namespace orx {
namespace {

using ::orx::testing::ReadFile;
using ::orx::testing::RunProcess;
using ::orx::testing::ScratchDir;
using ::orx::testing::WriteSchemaInParts;

const std::string kExamples = orx::testing::SourceDir() + "/examples/";

std::vector<std::string> Environment(const ScratchDir& dir) {
  return {"ORX_EVENT_LOG=" + (dir / "events.jsonl"), "DISPLAY=", "WAYLAND_DISPLAY=",
          "TMPDIR=" + dir.path().string()};
}

// Replaces text on a line (1-based) of the example certificates, keeping
// every line where it was.
std::string ExampleWith(std::vector<std::tuple<int, std::string, std::string>> edits) {
  std::string text = ReadFile(kExamples + "certificates.xml");
  for (const auto& [line, from, to] : edits) {
    std::size_t at = 0;
    for (int n = 1; n < line; ++n) at = text.find('\n', at) + 1;
    const std::size_t found = text.find(from, at);
    EXPECT_LT(found, text.find('\n', at)) << "line " << line << " lacks " << from;
    text.replace(found, from.size(), to);
  }
  return text;
}

const std::string kCountSchema = R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"
    targetNamespace="urn:orx-rf:certificates" xmlns="urn:orx-rf:certificates" elementFormDefault="qualified">
  <xs:element name="dataPacket"><xs:complexType><xs:sequence>
    <xs:element name="arm"/><xs:element name="num" type="xs:positiveInteger" maxOccurs="unbounded"/>
  </xs:sequence><xs:anyAttribute processContents="skip"/></xs:complexType></xs:element>
</xs:schema>)";

// Far past 65535 lines and a thousand tags into the file.
std::string FarDownDocument() {
  std::string text = "<dataPacket>\n";
  for (int i = 0; i < 1500; ++i) text += "<num>1</num>\n";
  return text + std::string(70000, '\n') + "  <num>0</num>\n</dataPacket>\n";
}

struct CheckCase {
  const char* what;
  std::function<std::string()> document;
  std::string schema;       // empty: the example schema
  std::string problems;     // "<line>: <reason>\n" each, the file's path left out
  std::string summary;
  // The example schema in two files instead (WriteSchemaInParts).
  std::optional<::orx::testing::SchemaParts> parts = std::nullopt;
};

void PrintTo(const CheckCase& c, std::ostream* out) { *out << c.what; }

class CheckTest : public ::testing::TestWithParam<CheckCase> {};

// --check lists every problem; the package job names the first of them with
// the same line of the operator's file.
TEST_P(CheckTest, ListsEveryProblemOnTheOperatorsLines) {
  const CheckCase& c = GetParam();
  ScratchDir dir;
  const std::string xml = dir.Write("сертификаты.xml", c.document());
  const std::string xsd = c.parts          ? WriteSchemaInParts(dir.path(), *c.parts)
                          : c.schema.empty() ? kExamples + "FA.xsd"
                                             : dir.Write("s.xsd", c.schema);
  const std::string key = kExamples + "FA_007_01_i.cod";

  const auto check = RunProcess(ORX_EXECUTABLE, {"--check", xml + ",", key + ",", xsd},
                                Environment(dir));
  std::string expected;
  for (std::size_t at = 0; at < c.problems.size();) {
    const std::size_t end = c.problems.find('\n', at) + 1;
    expected += xml + ":" + c.problems.substr(at, end - at);
    at = end;
  }
  EXPECT_EQ(check.standardOutput, expected + c.summary + "\n");
  EXPECT_EQ(check.standardError, "");
  EXPECT_EQ(check.exitStatus, c.problems.empty() ? 0 : 1);
  // Nothing was written, not even the private temporary folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}),
            1 + (!c.schema.empty() || c.parts));

  std::filesystem::create_directory(dir / "out");
  const auto job = RunProcess(
      ORX_EXECUTABLE, {xml + "," + (dir / "out") + "," + key + "," + xsd + ",HIDE"}, Environment(dir));
  EXPECT_EQ(job.exitStatus, check.exitStatus);
  if (!c.problems.empty()) {
    const std::string first = c.problems.substr(0, c.problems.find('\n'));
    const std::string line = first.substr(0, first.find(':'));
    EXPECT_EQ(job.standardError, first.substr(line.size() + 2) + " (строка " + line + ")\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Documents, CheckTest,
    ::testing::Values(
        CheckCase{"valid", [] { return ExampleWith({}); }, "", "", "Документ соответствует схеме"},
        CheckCase{"three problems",
                  [] {
                    return ExampleWith({{8, "2901123456", "29"},
                                        {29, "4407121000", "44A"},
                                        {60, "</issuer>", "</issuer><bogus/>"}});
                  },
                  "",
                  "8: Элемент '{urn:orx-rf:certificates}inn': значение '29' не соответствует "
                  "шаблону '[0-9]{10}|[0-9]{12}'.\n"
                  "29: Элемент '{urn:orx-rf:certificates}hsCode': значение '44A' не "
                  "соответствует шаблону '[0-9]{6,10}'.\n"
                  "60: Элемент '{urn:orx-rf:certificates}bogus': здесь этот элемент не "
                  "допускается.\n",
                  "Ошибок: 3"},
        // U+009B is a control sequence introducer to some terminals.
        CheckCase{"a control character in a value",
                  [] { return ExampleWith({{29, "4407121000", "44\u009B"}}); }, "",
                  "29: Элемент '{urn:orx-rf:certificates}hsCode': значение '44\\xC2\\x9B' "
                  "не соответствует шаблону '[0-9]{6,10}'.\n",
                  "Ошибок: 1"},
        // Published schemas come in parts: a type library included, or a
        // namespace of common types imported, from files beside the schema.
        CheckCase{"valid, schema including a file", [] { return ExampleWith({}); }, "", "",
                  "Документ соответствует схеме", ::orx::testing::SchemaParts::Included},
        CheckCase{"a type of an imported file",
                  [] { return ExampleWith({{24, "61000.000", "-1"}}); }, "",
                  "24: Элемент '{urn:orx-rf:certificates}grossWeight': значение '-1' должно быть "
                  "больше '0'.\n",
                  "Ошибок: 1", ::orx::testing::SchemaParts::Imported},
        CheckCase{"far down", FarDownDocument, kCountSchema,
                  "71502: Элемент '{urn:orx-rf:certificates}num': значение '0' недопустимо для "
                  "типа 'xs:positiveInteger'.\n",
                  "Ошибок: 1"}));

std::string KeyFile(const ScratchDir& dir, const std::string& name, const std::string& officeKey) {
  std::string xml =
      R"(<?xml version="1.0" encoding="UTF-8"?><DATAPACKET><ROWDATA><ROW PK_Code="FA" orxn="7" )"
      R"(NumLocale="1" orxk=")" + officeKey + R"(" sadr="https://127.0.0.1:1/" sport="1"/>)"
      R"(</ROWDATA></DATAPACKET>)";
  EncryptCodStream(xml, "");
  return dir.Write(name, xml);
}

struct InspectCase {
  const char* what;
  std::string packedWith;  // office key of the job that made the package
  std::string readWith;    // office key given to --inspect
  std::function<void(std::string&)> change;
  std::string standardError;  // the start of it
};

void PrintTo(const InspectCase& c, std::ostream* out) { *out << c.what; }

class InspectTest : public ::testing::TestWithParam<InspectCase> {};

TEST_P(InspectTest, TellsWhatThePackageHolds) {
  const InspectCase& c = GetParam();
  ScratchDir dir;
  const std::string out = dir / "out";
  std::filesystem::create_directory(out);
  const auto job = RunProcess(ORX_EXECUTABLE,
                              {kExamples + "certificates.xml," + out + "," +
                               KeyFile(dir, "packed.cod", c.packedWith) + "," + kExamples + "FA.xsd,HIDE"},
                              Environment(dir));
  ASSERT_EQ(job.exitStatus, 0) << job.standardError;
  const std::filesystem::path package = std::filesystem::directory_iterator(out)->path();
  std::string bytes = ReadFile(package);
  if (c.change) c.change(bytes);
  dir.Write("out/" + package.filename().string(), bytes);

  const auto inspect = RunProcess(
      ORX_EXECUTABLE,
      {"--inspect", package.string() + ",", KeyFile(dir, "read.cod", c.readWith) + ",",
       kExamples + "FA.xsd", "--extract", dir / "extracted"},
      Environment(dir));
  EXPECT_EQ(inspect.standardError.rfind(c.standardError, 0), 0u) << inspect.standardError;
  if (!c.standardError.empty()) {
    EXPECT_EQ(inspect.exitStatus, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "extracted"));
    return;
  }
  EXPECT_EQ(inspect.exitStatus, 0) << inspect.standardError;
  const std::string date = package.filename().string().substr(10, 10);
  const std::string extracted = dir / "extracted/sync.xml";
  EXPECT_EQ(inspect.standardOutput,
            "office: 007\nlocale: 01\nkind: FA\ndate: " + date +
                "\nentry: sync.xml\nsize: " + std::to_string(std::filesystem::file_size(extracted)) +
                "\nmethod: deflated\ncrc: ok\ncertificates: 3\nextracted: " + extracted +
                "\nschema: valid\n");
}

const std::string kOfficeKey = "0123456789ABCDEF0123456789ABCDEF";

INSTANTIATE_TEST_SUITE_P(
    Packages, InspectTest,
    ::testing::Values(
        InspectCase{"whole", kOfficeKey, kOfficeKey, nullptr, ""},
        InspectCase{"empty office key", "", "", nullptr, ""},
        InspectCase{"one byte changed", kOfficeKey, kOfficeKey,
                    [](std::string& bytes) { bytes[bytes.size() / 2] ^= 1; }, "ошибка: "},
        InspectCase{"cut short", kOfficeKey, kOfficeKey,
                    [](std::string& bytes) { bytes.resize(bytes.size() - 10); }, "ошибка: "},
        InspectCase{"another office's key", kOfficeKey, "FEDCBA9876543210FEDCBA9876543210",
                    nullptr, "ошибка: Not a zip archive"}));

TEST(OperatorToolsTest, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> commands = {
      {"--check", "a.xml,", "k.cod"},
      {"--check", "a.xml, k.cod, s.xsd, extra"},
      {"--inspect", "p.cod"},
      {"--inspect", "p.cod, k.cod", "--extract"},
      {"--nosuch"},
  };
  for (const auto& arguments : commands) {
    const auto result = RunProcess(ORX_EXECUTABLE, arguments, {"DISPLAY="});
    EXPECT_EQ(result.exitStatus, 2) << arguments[0];
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_NE(result.standardError.find("convertor-orx"), std::string::npos) << arguments[0];
  }
}

}  // namespace
}  // namespace orx
