#include "exchange/replies.h"

#include <exception>
#include <utility>

#include "support/error.h"
#include "support/event_log.h"
#include "support/text.h"
#include "support/xml_document.h"

namespace orx {
namespace {

constexpr std::string_view kCaller = "TFormMain.XmlToServer";

// Text of an element that must hold some: a missing or empty text fails the
// same way as other content does. A view into the document, so that a long
// text is copied only into its line.
std::string_view RequiredText(const XmlNode& node) {
  const std::optional<std::string_view> text = node.NodeText();
  if (!text) throw Error("Could not convert Null into text");
  return *text;
}

std::string RequiredAttribute(const XmlNode& node, std::string_view name) {
  std::optional<std::string> value = node.Attribute(name);
  if (!value) throw Error("Attribute \"" + std::string(name) + "\" not found");
  return std::move(*value);
}

void ListCertificates(LogPane& log, const XmlNode& certificates) {
  for (const XmlNode& certificate : ChildrenNamed(certificates, "certificate")) {
    const std::string id = RequiredAttribute(certificate, "id");
    const std::string verdict = RequiredAttribute(certificate, "status-text");
    log.Append("    Бланк " + id + "  " + verdict);
    for (const XmlNode& error : ChildrenNamed(certificate, "error")) {
      const std::string_view text = RequiredText(error);
      std::string line;
      line.reserve(8 + text.size());
      line.append(8, ' ').append(text);
      log.Append(std::move(line));
    }
  }
}

// Reads and reports the verdict; throws for a reply that cannot be read and
// for a rejection. recorded is the reply as it goes into a record.
void ReadVerdict(JobContext& context, std::string& reply, const std::string& recorded) {
  context.log.ProcessPendingEvents();
  const XmlDocument document = ParseReply(reply);
  ReleaseReply(reply);
  const XmlNode root = document.Root();
  if (!root) throw Error("No document element");

  const XmlNode statusNode = root.FindNode("status");
  if (!statusNode) throw Error("Node \"status\" not found");
  const std::optional<std::int64_t> status = ParseWholeNumber(statusNode.NodeValue());
  if (!status) throw Error("Status is not a whole number");

  if (*status == 0) {
    LogEvent(context.events, kDefaultEventSource, EventType::AuditSuccess, kCategoryExchange,
             kEventDialogueOutcome, {"Сертификаты ушли без ошибок"});
    return;
  }

  context.log.ProcessPendingEvents();
  LogEvent(context.events, kDefaultEventSource, EventType::Error, kCategoryExchange,
           kEventRequestFault,
           {std::string(kCaller), "submit certs (Скрипт сообщает об ошибке):", recorded});
  context.log.Append("Есть сообщение об ошибке");
  if (const XmlNode summary = root.FindNode("status-text")) {
    context.log.Append(std::string(RequiredText(summary)));
  }
  if (const XmlNode certificates = root.FindNode("certificates")) {
    ListCertificates(context.log, certificates);
  }
  if (*status != 1) throw Error("неприемлемые ошибки в сертификатах");
}

}  // namespace

XmlDocument ParseReply(std::string_view reply) {
  return XmlDocument::Parse(reply, {}, kReplyTreeBytes);
}

void ReleaseReply(std::string& reply) { std::string().swap(reply); }

std::vector<XmlNode> ChildrenNamed(const XmlNode& parent, std::string_view name) {
  // One walk along the sibling chain: indexed access would cost the square of
  // the number of children, and a reply may hold very many.
  std::vector<XmlNode> found;
  for (xmlNodePtr child = parent.get()->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    XmlNode element(child);
    if (element.NodeName() == name) found.push_back(element);
  }
  return found;
}

std::optional<std::int64_t> ParseWholeNumber(const std::optional<std::string>& text) {
  return text ? ParseDecimal(TrimWhiteSpace(*text)) : std::nullopt;
}

std::string ReplyForRecord(std::string_view reply) {
  constexpr std::size_t kRecordedBytes = 64 * 1024;
  if (reply.size() <= kRecordedBytes) return std::string(reply);
  const std::size_t cut = Utf8Boundary(reply, kRecordedBytes);
  return std::string(reply.substr(0, cut)) + "… (" + std::to_string(reply.size()) +
         " bytes in all)";
}

bool IsAuthFailure(const XmlDocument& reply) {
  const XmlNode root = reply.Root();
  return root.NodeName() == "dataPacket" && root.Attribute("name") == "authfailed";
}

std::string GetAuthFailedMessage(const XmlDocument& reply) {
  if (!IsAuthFailure(reply)) return {};
  const XmlNode message = reply.Root().FindNode("message");
  if (!message) return " ";
  std::optional<std::string> text = message.NodeValue();
  if (!text || text->empty()) return " ";
  return std::move(*text);
}

bool ReportSaveReply(JobContext& context, std::string reply) {
  const std::string recorded = ReplyForRecord(reply);
  try {
    ReadVerdict(context, reply, recorded);
    return true;
  } catch (const std::exception&) {
    LogEvent(context.events, kDefaultEventSource, EventType::Error, kCategoryExchange,
             kEventRequestFault, {std::string(kCaller), "submit cert (сбой)", recorded});
    context.log.Append("есть критические ошибки");
    return false;
  }
}

}  // namespace orx
