#include "package/key_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/cipher.h"
#include "support/error.h"
#include "testing/job_fixture.h"
#include "testing/test_support.h"

namespace orx {
namespace {

constexpr std::string_view kKey = "00112233445566778899AABBCCDDEEFF";

std::string LayoutA(std::string_view arm, std::string_view url = "https://certsrv:8443/cdb/") {
  return "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<icod ARM=\"" + std::string(arm) +
         "\">\n  <orxNumber>12</orxNumber>\n  <NumLocale>3</NumLocale>\n  <orxKey>" +
         std::string(kKey) + "</orxKey>\n  <url>" + std::string(url) + "</url>\n</icod>\n";
}

std::string LayoutB(std::string_view forText, std::string_view port = "443",
                    std::string_view key = kKey) {
  return "<root><for>" + std::string(forText) + "</for><orxNumber>4294967295</orxNumber>"
         "<NumLocale>0</NumLocale><orxKey>" + std::string(key) + "</orxKey>"
         "<adr>https://general.example/</adr><port>" + std::string(port) + "</port></root>";
}

std::string LayoutC(std::string_view rowAttributes) {
  return "<DATAPACKET Version=\"2.0\"><METADATA/><ROWDATA><ROW " + std::string(rowAttributes) +
         "/></ROWDATA></DATAPACKET>";
}

std::string Row(std::string_view code, std::string_view orxn = "77", std::string_view sport = "8080",
                std::string_view orxk = kKey) {
  return "PK_Code=\"" + std::string(code) + "\" orxn=\"" + std::string(orxn) +
         "\" NumLocale=\"5\" orxk=\"" + std::string(orxk) + "\" sadr=\"https://fa.example\" sport=\"" +
         std::string(sport) + "\"";
}

class KeyFileTest : public testing::JobFixture {
 protected:
  std::string KeyFile(std::string xml, std::string_view name = "i.cod") {
    EncryptCodStream(xml, "");
    return dir_.Write(name, xml);
  }

  // Loads and returns the failure message, or "" when the file was accepted.
  std::string Load(const std::string& path) {
    job_.log.Append("line of an earlier job");
    try {
      LoadParamsFromICod(job_.context, path);
    } catch (const Error& e) {
      return e.what();
    }
    return "";
  }

};

struct Accepted {
  const char* name;
  std::string xml;
  DocumentKind kind;
  std::uint32_t office;
  std::uint32_t locale;
  std::string address;
  std::int32_t port;
};

TEST_F(KeyFileTest, ReadsEachLayoutAndOverwritesEveryField) {
  const std::vector<Accepted> cases = {
      {"A CT-2", LayoutA("CT-2"), DocumentKind::CT2, 12, 3, "https://certsrv:8443/cdb/", 8443},
      {"A IT", LayoutA("Resolution IT"), DocumentKind::IT, 12, 3, "https://certsrv:8443/cdb/", 8443},
      {"A TTC", LayoutA("Resolution TTC", "certsrv:443/a/b/"), DocumentKind::TTC, 12, 3,
       "certsrv:443/a/b/", 443},
      {"B", LayoutB("GeneralForm"), DocumentKind::OF, 4294967295u, 0, "https://general.example/", 443},
      {"C FA", LayoutC(Row("FA")), DocumentKind::FA, 77, 5, "https://fa.example", 8080},
      {"C CT1", LayoutC(Row("CT1", "0", "-1")), DocumentKind::CT1, 0, 5, "https://fa.example", -1},
  };
  // Every case is read over the state another layout left behind.
  const std::string other = KeyFile(
      LayoutC(R"(PK_Code="FA" orxn="1" NumLocale="1" orxk="prev" sadr="prev" sport="1")"), "prev.cod");
  const testing::ScopedEnv keyDir("ORX_TEST_KEY_DIR", dir_.path().c_str());
  for (const auto& c : cases) {
    ASSERT_EQ(Load(other), "") << c.name;
    KeyFile(c.xml);
    ASSERT_EQ(Load("%ORX_TEST_KEY_DIR%/i.cod"), "") << c.name;
    const DocumentKindInfo& info = DocumentKindInfoOf(c.kind);
    EXPECT_EQ(job_.params.kind, c.kind) << c.name;
    EXPECT_EQ(job_.params.kindTitle, info.title) << c.name;
    EXPECT_EQ(job_.params.kindName, info.englishName) << c.name;
    EXPECT_EQ(job_.params.officeNumber, c.office) << c.name;
    EXPECT_EQ(job_.params.localeNumber, c.locale) << c.name;
    EXPECT_EQ(job_.params.officeKey, kKey) << c.name;
    EXPECT_EQ(job_.params.serverAddress, c.address) << c.name;
    EXPECT_EQ(job_.params.serverPort, c.port) << c.name;
    EXPECT_EQ(job_.params.startDate, "2008.03.05") << c.name;
    EXPECT_TRUE(job_.log.Lines().empty()) << c.name;
  }
  EXPECT_TRUE(job_.events.records().empty());
  EXPECT_EQ(DocumentKindInfoOf(DocumentKind::TTC).englishName, "TTS");
}

struct Rejected {
  const char* name;
  std::string xml;
  std::string message;
  std::string source;  // kindTitle when the failure was recorded
};

TEST_F(KeyFileTest, RefusesForeignAndMalformedKeyFilesAndRecordsEachOnce) {
  const std::string rejected = "i.cod иной программы";
  const std::string initial = "ОРХ РФ";
  const std::vector<Rejected> cases = {
      {"ARM empty, even with for", "<r ARM=\"\"><for>GeneralForm</for></r>", rejected, initial},
      {"ARM other, even with ROWDATA",
       "<r ARM=\"ct-2\"><ROWDATA><ROW " + Row("FA") + "/></ROWDATA></r>", rejected, initial},
      {"for empty", LayoutB(""), rejected, initial},
      {"for in other case", LayoutB("generalform"), rejected, initial},
      {"PK_Code lower case", LayoutC(Row("fa")), rejected, initial},
      {"PK_Code of layout A kind", LayoutC(Row("CT2")), rejected, initial},
      {"PK_Code missing", LayoutC("orxn=\"1\""), "В i.cod не найден атрибут PK_Code", initial},
      {"no ROWDATA", "<r><row/></r>", rejected, initial},
      {"no ROW", "<r><ROWDATA><R/></ROWDATA></r>", rejected, initial},
      {"A without orxNumber",
       "<r ARM=\"CT-2\"><NumLocale>1</NumLocale></r>", "В i.cod не найден элемент orxNumber",
       "Сертификат СТ-2"},
      {"A port not followed by /", LayoutA("Resolution TTC", "https://certsrv:8443"),
       "'' is not a valid integer value", "Заключения ТТС"},
      {"A office number above 32 bits",
       "<r ARM=\"Resolution IT\"><orxNumber>4294967297</orxNumber></r>",
       "Значение orxNumber вне допустимого диапазона: 4294967297", "Заключения ИТ"},
      {"C negative office number", LayoutC(Row("FA", "-1")),
       "Значение orxn вне допустимого диапазона: -1", "Форма А"},
      {"C port above 32 bits", LayoutC(Row("CT1", "1", "2147483648")),
       "Значение sport вне допустимого диапазона: 2147483648", "Сертификат СТ-1"},
      {"C port not a number", LayoutC(Row("FA", "1", "abc")), "'abc' is not a valid integer value",
       "Форма А"},
      {"B empty office key", LayoutB("GeneralForm", "443", ""), "Could not convert Null into text",
       "Общая форма"},
      {"B port element with markup", LayoutB("GeneralForm", "<b>1</b>"),
       "Element does not contain a single text node", "Общая форма"},
  };
  for (const auto& c : cases) {
    job_.params = KeyParameters::Initial(job_.clock);
    job_.events.clear();
    EXPECT_EQ(Load(KeyFile(c.xml)), c.message) << c.name;
    EXPECT_TRUE(job_.log.Lines().empty()) << c.name;
    const EventRecord expected{c.source, EventType::Error, kCategoryJob, kEventOperationFailed,
                               {"TFormMain.LoadParamsFromICod", c.message}};
    ASSERT_EQ(job_.events.records().size(), 1u) << c.name;
    EXPECT_EQ(job_.events.records()[0], expected) << c.name;
  }
}

// Bytes that are not a key file are named as such in plain words, and what
// they hold is never quoted: deciphered, a key file holds the office key.
TEST_F(KeyFileTest, UnreadableBytesFailWithTheReasonRecorded) {
  const std::string secret = "SECRET0123456789ABCDEF0123456789";
  const std::string broken = KeyFile("<DATAPACKET><ROWDATA><ROW PK_Code=\"FA\" orxk=\"" + secret +
                                     "<\"/></ROWDATA></DATAPACKET>",
                                     "broken.cod");
  const std::string withDtd =
      KeyFile("<!DOCTYPE DATAPACKET [<!ATTLIST ROW a0 CDATA \"1\" a1 CDATA \"1\">]>" + LayoutC(Row("FA")),
              "dtd.cod");
  const std::string plain = dir_.Write("plain.cod", LayoutC(Row("FA")));
  const std::string empty = dir_.Write("empty.cod", "");
  const std::string big = dir_.Write("big.cod", std::string(1024 * 1024 + 1, 'x'));
  const std::string missing = dir_ / "missing.cod";
  const auto notKeyFile = [](const std::string& path) {
    return "Файл \"" + path + "\" не является ключевым файлом i.cod этой программы или повреждён";
  };
  const std::pair<std::string, std::string> cases[] = {
      {plain, notKeyFile(plain)},
      {empty, notKeyFile(empty)},
      {broken, notKeyFile(broken)},
      {withDtd, notKeyFile(withDtd) + ": в нём есть объявление DTD (<!DOCTYPE>)"},
      {missing, "Cannot open file \"" + missing + "\". No such file or directory"},
      {big, "Файл i.cod \"" + big + "\" больше 1 МиБ"},
      {"/dev/zero", "Файл i.cod \"/dev/zero\" больше 1 МиБ"},
  };
  for (const auto& [path, message] : cases) {
    job_.events.clear();
    EXPECT_EQ(Load(path), message) << path;
    ASSERT_EQ(job_.events.records().size(), 1u) << path;
    EXPECT_EQ(job_.events.records()[0].strings.at(1), message) << path;
    EXPECT_TRUE(job_.log.Lines().empty()) << path;
  }
}

TEST_F(KeyFileTest, FailurePartwayKeepsFieldsAlreadyAssigned) {
  ASSERT_EQ(Load(KeyFile(LayoutC(Row("FA")))), "");
  EXPECT_EQ(Load(KeyFile(LayoutB("GeneralForm", "x"))), "'x' is not a valid integer value");
  EXPECT_EQ(job_.params.kind, DocumentKind::OF);
  EXPECT_EQ(job_.params.kindTitle, "Общая форма");
  EXPECT_EQ(job_.params.officeNumber, 4294967295u);
  EXPECT_EQ(job_.params.serverAddress, "https://general.example/");
  EXPECT_EQ(job_.params.serverPort, 8080);      // not reached
  EXPECT_EQ(job_.params.kindName, "Form A");    // set only after the fields
}

}  // namespace
}  // namespace orx
