#include "exchange/replies.h"

#include <gtest/gtest.h>

#include "support/error.h"
#include "testing/job_fixture.h"

namespace orx {
namespace {

using testing::Rec;
using testing::TestJobContext;

TEST(ReplyForRecordTest, KeepsRepliesWholeUpTo16MiBAndNeverCutsInsideACharacter) {
  const std::string limit(kRecordedReplyBytes, 'x');
  const std::string cyrillic = std::string(kRecordedReplyBytes - 1, 'x') + "жж";  // 0xD0 at the cut
  const std::pair<std::string, std::string> cases[] = {
      {"<r/>", "<r/>"},
      {std::string("<r/>\0<more/>", 12), "<r/>"},  // a text ends at its first zero byte
      {limit, limit},
      {limit + "y", limit + "… (всего 16777217 байт)"},
      {cyrillic, std::string(kRecordedReplyBytes - 1, 'x') + "… (всего 16777219 байт)"},
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
  // Verdicts of the sizes offices meet: every certificate listed.
  std::string accepted = "<r><status>0</status><certificates>";
  for (int i = 0; i < 100000; ++i) {
    accepted += "<certificate id=\"" + std::to_string(i) + "\" status-text=\"принят\"/>";
  }
  accepted += "</certificates></r>";
  std::string remarks = "<r><status>1</status><status-text>Замечания</status-text><certificates>";
  std::vector<std::string> remarkLines = {report, "Замечания"};
  for (int i = 0; i < 75000; ++i) {
    remarks += "<certificate id=\"" + std::to_string(i) +
               "\" status-text=\"с замечанием\"><error>Поле 7 пусто</error></certificate>";
    remarkLines.push_back("    Бланк " + std::to_string(i) + "  с замечанием");
    remarkLines.push_back("        Поле 7 пусто");
  }
  remarks += "</certificates></r>";
  const SaveCase cases[] = {
      {accepted, {}, false, false},
      {remarks, remarkLines, true, false},
      {verdict("0"), {}, false, false},
      // A text ends at its first zero byte, and the document with it.
      {std::string("<r><status>0</status></r>\0", 26), {}, false, false},
      {"<r xmlns=\"urn:x\"><status>0</status></r>", {}, false, false},
      // Read as a whole first: what follows the status still counts.
      {"<r><status>0</status></r><r/>", {critical}, false, true},
      {"<r><certificates><certificate id=\"1\" status-text=\"s\"/></certificates>"
       "<status-text>T</status-text><status>1</status></r>",
       {report, "T", "    Бланк 1  s"}, true, false},
      // Blanks around a CDATA section are not text of the element.
      {"<r><status> <![CDATA[1]]> </status><certificates><certificate id=\"1\" "
       "status-text=\"s\"><error>\n  <![CDATA[E]]>\n</error></certificate></certificates></r>",
       {report, "    Бланк 1  s", "        E"}, true, false},
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
    SCOPED_TRACE(c.reply.substr(0, 200));
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
