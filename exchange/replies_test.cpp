#include "exchange/replies.h"

#include <gtest/gtest.h>

#include "support/error.h"
#include "testing/job_test_context.h"

namespace orx {
namespace {

using testing::Rec;
using testing::TestJobContext;

TEST(WholeNumberTest, AcceptsSignedDecimalWithBlanksOnly) {
  struct Case {
    std::optional<std::string> text;
    std::optional<std::int64_t> value;
  };
  const Case cases[] = {
      {"2", 2},
      {" -1 ", -1},
      {"+7", 7},
      {"\t0042\r\n", 42},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {std::nullopt, std::nullopt},
      {"", std::nullopt},
      {"  ", std::nullopt},
      {"+-5", std::nullopt},
      {"--5", std::nullopt},
      {"1 2", std::nullopt},
      {"0x10", std::nullopt},
      {"2.0", std::nullopt},
      {"два", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseWholeNumber(c.text), c.value) << (c.text ? *c.text : "(absent)");
  }
}

TEST(GetAuthFailedMessageTest, TellsAuthenticationFailuresApart) {
  struct Case {
    std::string reply;
    std::string message;
  };
  const Case cases[] = {
      {R"(<dataPacket name="authfailed"><message>Ключ отозван</message></dataPacket>)",
       "Ключ отозван"},
      {R"(<dataPacket name="authfailed"><message><![CDATA[a<b]]></message></dataPacket>)", "a<b"},
      {R"(<dataPacket name="authfailed"/>)", " "},
      {R"(<dataPacket name="authfailed"><message/></dataPacket>)", " "},
      {R"(<dataPacket name="authfailed"><message></message><message>x</message></dataPacket>)",
       " "},
      {R"(<dataPacket name="AuthFailed"><message>M</message></dataPacket>)", ""},
      {R"(<dataPacket><message>M</message></dataPacket>)", ""},
      {R"(<reply name="authfailed"><message>M</message></reply>)", ""},
      {R"(<x:dataPacket xmlns:x="urn:x" name="authfailed"><message>M</message></x:dataPacket>)",
       ""},
      {R"(<hello><exchangeProtocol version="2"/></hello>)", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetAuthFailedMessage(c.reply), c.message) << c.reply;
  }
}

TEST(GetAuthFailedMessageTest, UnreadableRepliesFailTowardsTheCaller) {
  const std::string replies[] = {
      "",
      "<html><body>500 Internal Server Error",
      "not xml",
      R"(<dataPacket name="authfailed"><message>a<b/>c</message></dataPacket>)",
  };
  for (const std::string& reply : replies) {
    EXPECT_THROW(GetAuthFailedMessage(reply), Error) << reply;
  }
}

// A verdict with a summary and one certificate with two errors.
std::string Verdict(std::string_view status) {
  return "<result><status>" + std::string(status) +
         "</status><status-text>Найдены ошибки</status-text><certificates>"
         "<certificate id=\"A1\" status-text=\"отклонён\"><error>E1</error><note/>"
         "<error>E2</error></certificate></certificates></result>";
}

struct SaveCase {
  std::string name;
  std::string reply;
  std::vector<std::string> lines;
  bool scriptReport;  // the "reports an error" record comes first
  bool failed;        // the "сбой" record and line close the report
  bool accepted;
};

const std::vector<std::string> kVerdictLines = {
    "Есть сообщение об ошибке", "Найдены ошибки", "    Бланк A1  отклонён", "        E1",
    "        E2"};

std::vector<std::string> With(std::vector<std::string> lines, const std::string& last) {
  lines.push_back(last);
  return lines;
}

TEST(ReportSaveReplyTest, ReportsTheVerdict) {
  const std::string critical = "есть критические ошибки";
  const SaveCase cases[] = {
      {"accepted", Verdict("0"), {}, false, false, true},
      {"accepted with errors", Verdict(" 1 "), kVerdictLines, true, false, true},
      {"rejected", Verdict("2"), With(kVerdictLines, critical), true, true, false},
      {"rejected negative", Verdict("-1"), With(kVerdictLines, critical), true, true, false},
      {"no status", "<result><status-text>T</status-text></result>", {critical}, false, true,
       false},
      {"status not a number", Verdict("один"), {critical}, false, true, false},
      {"empty reply", "", {critical}, false, true, false},
      {"not xml", "<html>", {critical}, false, true, false},
      {"authentication failure",
       R"(<dataPacket name="authfailed"><message>M</message></dataPacket>)",
       {critical},
       false,
       true,
       false},
      {"status with markup", "<r><status><b>1</b></status></r>", {critical}, false, true, false},
      {"only status", "<r><status>1</status></r>", {"Есть сообщение об ошибке"}, true, false,
       true},
      {"empty summary", "<r><status>1</status><status-text/></r>",
       {"Есть сообщение об ошибке", critical}, true, true, false},
      {"other children of certificates",
       "<r><status>1</status><certificates><cert id=\"1\" status-text=\"s\"/>"
       "</certificates></r>",
       {"Есть сообщение об ошибке"}, true, false, true},
      {"certificate without id",
       "<r><status>1</status><certificates><certificate id=\"1\" status-text=\"ok\"/>"
       "<certificate status-text=\"s\"/><certificate id=\"3\" status-text=\"s\"/>"
       "</certificates></r>",
       {"Есть сообщение об ошибке", "    Бланк 1  ok", critical}, true, true, false},
      {"empty error",
       "<r><status>1</status><certificates><certificate id=\"1\" status-text=\"\">"
       "<error/></certificate></certificates></r>",
       {"Есть сообщение об ошибке", "    Бланк 1  ", critical}, true, true, false},
      {"stray verdicts under the root",
       "<r><status>1</status><certificate id=\"1\" status-text=\"s\"><error>E</error>"
       "</certificate><error>E</error></r>",
       {"Есть сообщение об ошибке"}, true, false, true},
  };
  for (const SaveCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestJobContext job;
    EXPECT_EQ(ReportSaveReply(job.context, c.reply), c.accepted);
    EXPECT_EQ(job.lines(), c.lines);

    std::vector<EventRecord> records;
    if (c.scriptReport) {
      records.push_back(Rec(EventType::Error, 2, 0x40007500,
                            {"TFormMain.XmlToServer",
                             "submit certs (Скрипт сообщает об ошибке):", c.reply}));
    }
    if (c.failed) {
      records.push_back(
          Rec(EventType::Error, 2, 0x40007500, {"TFormMain.XmlToServer", "submit cert (сбой)", c.reply}));
    }
    if (!c.scriptReport && !c.failed) {
      records.push_back(
          Rec(EventType::AuditSuccess, 2, 0x40000101, {"Сертификаты ушли без ошибок"}));
    }
    EXPECT_EQ(job.records(), records);
    EXPECT_EQ(job.view.pendingEventPoints, c.scriptReport ? 2 : 1);
  }
}

TEST(ReportSaveReplyTest, AcceptedVerdictReadsNothingElse) {
  // Status 0 ends the report before the summary or the certificates are
  // looked at, however broken they are.
  TestJobContext job;
  const std::string reply =
      "<r><status>0</status><status-text><x/></status-text><certificates>"
      "<certificate/></certificates></r>";
  EXPECT_TRUE(ReportSaveReply(job.context, reply));
  EXPECT_TRUE(job.lines().empty());
  ASSERT_EQ(job.records().size(), 1u);
  EXPECT_EQ(job.records()[0].type, EventType::AuditSuccess);
}

}  // namespace
}  // namespace orx
