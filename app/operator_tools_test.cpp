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
#include "package/package_archive.h"
#include "support/xml_parse_guard.h"
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
  std::string package = {};   // inspected in place of the package made
  bool foreignFolder = false;  // --extract into a folder of another user
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

  if (c.foreignFolder) {
    std::filesystem::create_directory(dir / "extracted");
    if (::chown((dir / "extracted").c_str(), ::geteuid() + 1, static_cast<gid_t>(-1)) != 0) {
      GTEST_SKIP() << "a folder of another user needs root";
    }
  }
  const auto inspect = RunProcess(
      ORX_EXECUTABLE,
      {"--inspect", (c.package.empty() ? package.string() : c.package) + ",",
       KeyFile(dir, "read.cod", c.readWith) + ",", kExamples + "FA.xsd", "--extract",
       dir / "extracted"},
      Environment(dir));
  EXPECT_EQ(inspect.standardError.rfind(c.standardError, 0), 0u) << inspect.standardError;
  if (!c.standardError.empty()) {
    EXPECT_EQ(inspect.exitStatus, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "extracted/sync.xml"));
    EXPECT_EQ(std::filesystem::exists(dir / "extracted"), c.foreignFolder);
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
  EXPECT_EQ(std::filesystem::status(extracted).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

const std::string kOfficeKey = "0123456789ABCDEF0123456789ABCDEF";

// Makes the package hold content as its entry instead.
void Repack(std::string& package, const std::string& content) {
  ScratchDir dir;
  WriteSingleEntryZip(dir / "a.zip", "sync.xml", content, LocalDateTime{2024, 3, 5, 10, 0, 0});
  package = ReadFile(dir / "a.zip");
  EncryptCodStream(package, kOfficeKey);
}

std::string CrowdedEntry() {
  std::string text = "<dataPacket><arm/><c";
  for (int i = 0; i < 1001; ++i) text += " a" + std::to_string(i) + "='1'";
  return text + "/></dataPacket>";
}

// Gives the package's one entry another name, in its local header and in
// the central directory alike, as a hand-made archive would have it.
void RenameEntry(std::string& package, const std::string& name) {
  const auto little = [&](std::size_t at, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(package[at + i]);
    return value;
  };
  const auto put = [&](std::size_t at, int bytes, std::uint32_t value) {
    for (int i = 0; i < bytes; ++i) package[at + i] = static_cast<char>(value >> (8 * i));
  };
  DecryptCodStream(package, kOfficeKey);
  const std::size_t end = package.rfind("PK\x05\x06");
  const std::size_t central = little(end + 16, 4);
  const std::size_t old = little(26, 2);
  const std::size_t delta = name.size() - old;
  package.replace(central + 46, old, name);
  put(central + 28, 2, static_cast<std::uint32_t>(name.size()));
  package.replace(30, old, name);
  put(26, 2, static_cast<std::uint32_t>(name.size()));
  put(end + 2 * delta + 12, 4, little(end + 2 * delta + 12, 4) + static_cast<std::uint32_t>(delta));
  put(end + 2 * delta + 16, 4, static_cast<std::uint32_t>(central + delta));
  EncryptCodStream(package, kOfficeKey);
}

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
                    nullptr,
                    "ошибка: Пакет не расшифровывается этим ключевым файлом: возможно, пакет "
                    "другого отделения или сделан с другим ключом\n"},
        // A C string comparison would take it for sync.xml.
        InspectCase{"entry name with a zero byte", kOfficeKey, kOfficeKey,
                    [](std::string& bytes) { RenameEntry(bytes, std::string("sync.xml\0../../evil", 20)); },
                    "ошибка: The archive's entry is not sync.xml\n"},
        // Would hold the parser for minutes.
        InspectCase{"a crowded start tag in the entry", kOfficeKey, kOfficeKey,
                    [](std::string& bytes) { Repack(bytes, CrowdedEntry()); },
                    std::string("ошибка: ") + kCrowdedTag + "\nLine: 1\n"},
        // Endless: must be refused, not read until memory runs out.
        InspectCase{"a device", kOfficeKey, kOfficeKey, nullptr,
                    "ошибка: Cannot open file \"/dev/zero\". Это не обычный файл", "/dev/zero"},
        InspectCase{"folder of another user", kOfficeKey, kOfficeKey, nullptr,
                    "ошибка: Каталог \"", "", true}));

// A key file, and the XML deciphered from one, hold the office key: they
// are their owner's alone whatever the umask.
TEST(OperatorToolsTest, KeyFileToolWritesSecretsForTheirOwnerAlone) {
  ScratchDir dir;
  const std::string xml = dir.Write("key.xml", "<DATAPACKET/>");
  const std::pair<std::vector<std::string>, std::string> runs[] = {
      {{xml, dir / "i.cod"}, dir / "i.cod"},
      {{"--decipher", dir / "i.cod", dir / "back.xml"}, dir / "back.xml"},
  };
  for (const auto& [arguments, written] : runs) {
    std::vector<std::string> shell = {"-c", "umask 022; exec \"$0\" \"$@\"", ORX_MAKE_KEYFILE};
    shell.insert(shell.end(), arguments.begin(), arguments.end());
    const auto result = RunProcess("/bin/sh", shell);
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(std::filesystem::status(written).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
        << written;
  }
  EXPECT_EQ(ReadFile(dir / "back.xml"), "<DATAPACKET/>");
}

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
