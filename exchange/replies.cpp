#include "exchange/replies.h"

#include <exception>
#include <utility>

#include "exchange/reply_stream.h"
#include "support/error.h"
#include "support/event_log.h"
#include "support/text.h"
#include "support/xml_document.h"

namespace orx {
namespace {

constexpr std::string_view kCaller = "TFormMain.XmlToServer";

std::string Required(std::optional<std::string> value, std::string_view what) {
  if (!value) throw Error(std::string(what));
  return std::move(*value);
}

// Whether the stream stands at a child of the document element that
// XmlNode::FindNode would take for name: its qualified or local name, in
// the document element's namespace.
bool IsChildNamed(const ReplyStream& stream, const std::optional<std::string>& rootNamespace,
                  std::string_view name) {
  const std::optional<std::string_view> uri = stream.NamespaceUri();
  return stream.AtStart() && stream.Depth() == 1 && uri == rootNamespace &&
         (stream.LocalName() == name || stream.Name() == name);
}

std::optional<std::string> RootNamespace(ReplyStream& stream) {
  stream.NextElement();
  const std::optional<std::string_view> uri = stream.NamespaceUri();
  return uri ? std::optional<std::string>(*uri) : std::nullopt;
}

// What a first reading of the whole verdict finds: its status and summary,
// each its text or the failure to read it. A reply that is not well-formed
// fails here, before anything is reported.
struct VerdictHead {
  bool hasStatus = false;
  std::optional<std::string> status;
  bool statusReadable = true;
  bool hasSummary = false;
  std::optional<std::string> summary;
  bool summaryReadable = true;
};

void ReadChildText(ReplyStream& stream, bool& seen, std::optional<std::string>& text,
                   bool& readable) {
  seen = true;
  try {
    text = stream.ElementText();
  } catch (const Error&) {
    readable = false;
  }
}

VerdictHead ReadHead(std::string_view reply) {
  ReplyStream stream(reply);
  const std::optional<std::string> root = RootNamespace(stream);
  VerdictHead head;
  while (stream.NextElement()) {
    if (!head.hasStatus && IsChildNamed(stream, root, "status")) {
      ReadChildText(stream, head.hasStatus, head.status, head.statusReadable);
    } else if (!head.hasSummary && IsChildNamed(stream, root, "status-text")) {
      ReadChildText(stream, head.hasSummary, head.summary, head.summaryReadable);
    }
  }
  return head;
}

// The lines of every "certificate" under the first "certificates", each as
// the reader reaches it.
void ListCertificates(LogPane& log, std::string_view reply) {
  ReplyStream stream(reply);
  const std::optional<std::string> root = RootNamespace(stream);
  while (stream.NextElement() && !IsChildNamed(stream, root, "certificates")) {
  }
  while (stream.NextElement() && !(stream.Depth() == 1 && !stream.AtStart())) {
    if (!stream.AtStart() || stream.Depth() != 2 || stream.Name() != "certificate") continue;
    const std::string id = Required(stream.Attribute("id"), MissingAttributeText("id"));
    const std::string verdict =
        Required(stream.Attribute("status-text"), MissingAttributeText("status-text"));
    log.Append("    Бланк " + id + "  " + verdict);
    while (stream.NextElement() && !(stream.Depth() == 2 && !stream.AtStart())) {
      if (!stream.AtStart() || stream.Depth() != 3 || stream.Name() != "error") continue;
      const std::string text = Required(stream.ElementText(), "Could not convert Null into text");
      std::string line;
      line.reserve(8 + text.size());
      line.append(8, ' ').append(text);
      log.Append(std::move(line));
    }
  }
}

// Reads and reports the verdict; throws for a reply that cannot be read and
// for a rejection. recorded is the reply as it goes into a record. The reply
// is read as a stream, twice when the status is not 0: memory does not grow
// with the number of certificates it lists.
void ReadVerdict(JobContext& context, std::string_view reply, const std::string& recorded) {
  context.log.ProcessPendingEvents();
  const VerdictHead head = ReadHead(reply);
  if (!head.hasStatus) throw Error("Узел \"status\" не найден");
  if (!head.statusReadable) throw Error("Element does not contain a single text node");
  const std::optional<std::int64_t> status = ParseWholeNumber(head.status);
  if (!status) throw Error("Статус не является целым числом");
  context.report.serverStatus = *status;

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
  if (head.hasSummary) {
    if (!head.summaryReadable) throw Error("Element does not contain a single text node");
    context.log.Append(Required(head.summary, "Could not convert Null into text"));
  }
  ListCertificates(context.log, reply);
  if (*status != 1) throw Error("неприемлемые ошибки в сертификатах");
}

}  // namespace

std::string_view ReplyText(std::string_view reply) {
  return reply.substr(0, reply.find('\0'));
}

XmlDocument ParseReply(std::string_view reply) {
  return XmlDocument::Parse(ReplyText(reply), {}, kReplyTreeBytes);
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
  const std::string_view text = ReplyText(reply);
  if (text.size() <= kRecordedReplyBytes) return std::string(text);
  const std::size_t cut = Utf8Boundary(text, kRecordedReplyBytes);
  return std::string(text.substr(0, cut)) + "… (всего " + std::to_string(text.size()) + " байт)";
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

std::optional<Refusal> TakeRefusal(XmlDocument& document, std::string& reply) {
  if (!IsAuthFailure(document)) return std::nullopt;
  Refusal refusal;
  refusal.recorded = ReplyForRecord(reply);
  ReleaseReply(reply);  // the tree holds the message
  refusal.message = GetAuthFailedMessage(document);
  const XmlDocument read = std::move(document);
  return refusal;
}

bool ReportSaveReply(JobContext& context, std::string reply) {
  const std::string recorded = ReplyForRecord(reply);
  try {
    ReadVerdict(context, ReplyText(reply), recorded);
    ReleaseReply(reply);
    return true;
  } catch (const std::exception& failure) {
    ReleaseReply(reply);  // its record holds all that is kept of it
    LogEvent(context.events, kDefaultEventSource, EventType::Error, kCategoryExchange,
             kEventRequestFault, {std::string(kCaller), "submit cert (сбой)", recorded});
    context.log.Append("есть критические ошибки");
    NoteFailure(context, failure.what());
    return false;
  }
}

}  // namespace orx
