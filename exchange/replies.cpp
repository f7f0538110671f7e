#include "exchange/replies.h"

#include <charconv>
#include <exception>

#include "support/error.h"
#include "support/event_log.h"
#include "support/xml_document.h"

namespace orx {
namespace {

constexpr std::string_view kCaller = "TFormMain.XmlToServer";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Text of an element that must hold some: a missing or empty text fails the
// same way as other content does.
std::string RequiredText(const XmlNode& node) { return ToText(node.NodeValue()); }

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
      log.Append("        " + RequiredText(error));
    }
  }
}

// Reads and reports the verdict; throws for a reply that cannot be read and
// for a rejection.
void ReadVerdict(JobContext& context, std::string_view reply) {
  context.log.ProcessPendingEvents();
  const XmlDocument document = XmlDocument::Parse(reply);
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
           {std::string(kCaller), "submit certs (Скрипт сообщает об ошибке):", ReplyForRecord(reply)});
  context.log.Append("Есть сообщение об ошибке");
  if (const XmlNode summary = root.FindNode("status-text")) {
    context.log.Append(RequiredText(summary));
  }
  if (const XmlNode certificates = root.FindNode("certificates")) {
    ListCertificates(context.log, certificates);
  }
  if (*status != 1) throw Error("неприемлемые ошибки в сертификатах");
}

}  // namespace

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
  if (!text) return std::nullopt;
  std::string_view s = *text;
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s.front() < '0' || s.front() > '9') return std::nullopt;
  // Read as unsigned so that the most negative value still fits.
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), magnitude);
  if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  constexpr std::uint64_t kMaxPositive = static_cast<std::uint64_t>(INT64_MAX);
  if (!negative) {
    if (magnitude > kMaxPositive) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
  }
  if (magnitude > kMaxPositive + 1) return std::nullopt;
  return magnitude == kMaxPositive + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
}

std::string ReplyForRecord(std::string_view reply) {
  constexpr std::size_t kRecordedBytes = 64 * 1024;
  if (reply.size() <= kRecordedBytes) return std::string(reply);
  std::size_t cut = kRecordedBytes;
  while (cut > 0 && (static_cast<unsigned char>(reply[cut]) & 0xC0) == 0x80) --cut;
  return std::string(reply.substr(0, cut)) + "… (" + std::to_string(reply.size()) +
         " bytes in all)";
}

std::string GetAuthFailedMessage(std::string_view reply) {
  const XmlDocument document = XmlDocument::Parse(reply);
  const XmlNode root = document.Root();
  if (!root) throw Error("No document element");
  if (root.NodeName() != "dataPacket") return {};
  if (root.Attribute("name") != "authfailed") return {};
  const XmlNode message = root.FindNode("message");
  if (!message) return " ";
  std::optional<std::string> text = message.NodeValue();
  if (!text || text->empty()) return " ";
  return std::move(*text);
}

bool ReportSaveReply(JobContext& context, std::string_view reply) {
  try {
    ReadVerdict(context, reply);
    return true;
  } catch (const std::exception&) {
    LogEvent(context.events, kDefaultEventSource, EventType::Error, kCategoryExchange,
             kEventRequestFault, {std::string(kCaller), "submit cert (сбой)", ReplyForRecord(reply)});
    context.log.Append("есть критические ошибки");
    return false;
  }
}

}  // namespace orx
