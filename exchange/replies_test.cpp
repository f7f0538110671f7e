#include "exchange/replies.h"

#include <gtest/gtest.h>

#include "support/error.h"
#include "testing/job_fixture.h"

namespace orx {
namespace {

using testing::Rec;
using testing::TestJobContext;

TEST(ReplyForRecordTest, CutsOnlyHugeRepliesAndNeverInsideACharacter) {
  const std::string limit(64 * 1024, 'x');
  const std::string cyrillic = std::string(64 * 1024 - 1, 'x') + "жж";  // 0xD0 at the cut
  const std::pair<std::string, std::string> cases[] = {
      {"<r/>", "<r/>"},
      {limit, limit},
      {limit + "y", limit + "… (65537 bytes in all)"},
      {cyrillic, std::string(64 * 1024 - 1, 'x') + "… (65539 bytes in all)"},
  };
  for (const auto& [reply, recorded] : cases) EXPECT_EQ(ReplyForRecord(reply), recorded);
}

TEST(GetAuthFailedMessageTest, TellsAuthenticationFailuresApart) {
  // nullopt: the reply cannot be read and the failure goes to the caller.
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {R"(<dataPacket name="authfailed"><message>Ключ отозван</message></dataPacket>)",
       "Ключ отозван"},
      {R"(<dataPacket name="authfailed"><message><![CDATA[a<b]]></message></dataPacket>)", "a<b"},
      {R"(<dataPacket name="authfailed"/>)", " "},
      {R"(<dataPacket name="authfailed"><message/><message>x</message></dataPacket>)", " "},
      {R"(<dataPacket name="AuthFailed"><message>M</message></dataPacket>)", ""},
      {R"(<dataPacket><message>M</message></dataPacket>)", ""},
      {R"(<reply name="authfailed"><message>M</message></reply>)", ""},
      {R"(<x:dataPacket xmlns:x="urn:x" name="authfailed"/>)", ""},
      {R"(<dataPacket name="authfailed"><message>a<b/>c</message></dataPacket>)", std::nullopt},
      {"", std::nullopt},
      {"<html><body>500 Internal Server Error", std::nullopt},
  };
  for (const auto& [reply, message] : cases) {
    if (message) {
      EXPECT_EQ(GetAuthFailedMessage(ParseReply(reply)), *message) << reply;
    } else {
      EXPECT_THROW(GetAuthFailedMessage(ParseReply(reply)), Error) << reply;
    }
  }
}

struct SaveCase {
  std::string reply;
  std::vector<std::string> lines;
  bool scriptReport;  // the "reports an error" record comes first
  bool failed;        // the "сбой" record and line close the report
};

TEST(ReportSaveReplyTest, ReportsTheVerdict) {
  auto verdict = [](std::string_view status) {
    return "<r><status>" + std::string(status) +
           "</status><status-text>Найдены ошибки</status-text><certificates>"
           "<certificate id=\"A1\" status-text=\"отклонён\"><error>E1</error><note/>"
           "<error>E2</error></certificate></certificates></r>";
  };
  const std::string report = "Есть сообщение об ошибке";
  const std::string critical = "есть критические ошибки";
  const std::vector<std::string> listed = {report, "Найдены ошибки", "    Бланк A1  отклонён",
                                           "        E1", "        E2"};
  auto then = [](std::vector<std::string> lines, const std::string& last) {
    lines.push_back(last);
    return lines;
  };
  const SaveCase cases[] = {
      {verdict("0"), {}, false, false},
      // Status 0 looks no further, however broken the rest is.
      {"<r><status>0</status><status-text><x/></status-text></r>", {}, false, false},
      {verdict(" 1 "), listed, true, false},
      {verdict("2"), then(listed, critical), true, true},
      {verdict("-1"), then(listed, critical), true, true},
      {"<r><status-text>T</status-text></r>", {critical}, false, true},
      {verdict("один"), {critical}, false, true},
      {"", {critical}, false, true},
      {R"(<dataPacket name="authfailed"><message>M</message></dataPacket>)", {critical}, false, true},
      {"<r><status><b>1</b></status></r>", {critical}, false, true},
      {"<r><status>1</status><status-text/></r>", {report, critical}, true, true},
      {"<r><status>1</status><certificates><cert id=\"1\" status-text=\"s\"/></certificates>"
       "<certificate id=\"2\" status-text=\"s\"/><error>E</error></r>",
       {report}, true, false},
      {"<r><status>1</status><certificates><certificate id=\"1\" status-text=\"\"/>"
       "<certificate status-text=\"s\"/><certificate id=\"3\" status-text=\"s\"/></certificates></r>",
       {report, "    Бланк 1  ", critical}, true, true},
      {"<r><status>1</status><certificates><certificate id=\"1\" status-text=\"ok\"><error/>"
       "</certificate></certificates></r>",
       {report, "    Бланк 1  ok", critical}, true, true},
  };
  for (const SaveCase& c : cases) {
    SCOPED_TRACE(c.reply);
    TestJobContext job;
    EXPECT_EQ(ReportSaveReply(job.context, c.reply), !c.failed);
    EXPECT_EQ(job.lines(), c.lines);
    std::vector<EventRecord> records;
    const std::string caller = "TFormMain.XmlToServer";
    if (c.scriptReport) {
      records.push_back(Rec(EventType::Error, 2, 0x40007500,
                            {caller, "submit certs (Скрипт сообщает об ошибке):", c.reply}));
    }
    if (c.failed) {
      records.push_back(Rec(EventType::Error, 2, 0x40007500, {caller, "submit cert (сбой)", c.reply}));
    } else if (!c.scriptReport) {
      records.push_back(Rec(EventType::AuditSuccess, 2, 0x40000101, {"Сертификаты ушли без ошибок"}));
    }
    EXPECT_EQ(job.records(), records);
    EXPECT_EQ(job.view.pendingEventPoints, c.scriptReport ? 2 : 1);
  }
}

}  // namespace
}  // namespace orx
