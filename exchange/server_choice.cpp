#include "exchange/server_choice.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "exchange/replies.h"
#include "package/job_context.h"
#include "support/error.h"
#include "support/kelma_win.h"
#include "support/xml_document.h"

namespace orx {
namespace {

constexpr std::string_view kQuotedHello = "\"hello\"";
constexpr std::string_view kVersionRequirement = "exchangeProtocol version=\"2\"";
constexpr std::int64_t kProtocolVersion = 2;

void Record(EventSink& events, EventType type, std::uint32_t eventId,
            std::vector<std::string> strings) {
  LogEvent(events, kDefaultEventSource, type, kCategoryExchange, eventId, strings);
}

void AppendLine(LogPane* log, std::string line) {
  if (log) log->Append(std::move(line));
}

// Throws Error for a reply that is not XML, after recording it. A reply that
// is read is released: its tree holds all that is needed.
XmlDocument ParseHello(std::string_view caller, EventSink& events, std::string& helloReply) {
  try {
    XmlDocument document = ParseReply(helloReply);
    if (document.Root()) {
      ReleaseReply(helloReply);
      return document;
    }
  } catch (const std::exception&) {
  }
  Record(events, EventType::Error, kEventRequestFault,
         {std::string(caller), std::string(kQuotedHello) + ". Невнятный ответ сервера: ",
          ReplyForRecord(helloReply)});
  throw Error("Дефектный ответ на hello");
}

void CheckProtocol(std::string_view caller, EventSink& events, const XmlNode& root) {
  const XmlNode protocol = root.FindNode("exchangeProtocol");
  if (!protocol) {
    Record(events, EventType::Error, kEventNoProtocolNode,
           {std::string(caller), std::string(kQuotedHello), "exchangeProtocol"});
    throw Error("Узел exchangeProtocol не найден");
  }
  const std::optional<std::int64_t> version = ParseWholeNumber(protocol.Attribute("version"));
  if (!version) {
    Record(events, EventType::Error, kEventNoProtocolVersion,
           {std::string(caller), std::string(kQuotedHello), std::string(kVersionRequirement)});
    throw Error("Отсутствует версия протокола");
  }
  if (*version != kProtocolVersion) {
    const std::string found = std::to_string(*version);
    Record(events, EventType::Error, kEventWrongProtocolVersion,
           {std::string(caller), std::string(kQuotedHello), std::string(kVersionRequirement),
            found});
    throw Error("Версия протокола " + found + ",а нужно только вторая");
  }
}

std::string RequiredAttribute(const XmlNode& node, std::string_view name) {
  std::optional<std::string> value = node.Attribute(name);
  if (!value) throw Error(MissingAttributeText(name));
  return std::move(*value);
}

std::int32_t PortOf(const XmlNode& server) {
  const std::optional<std::int64_t> port = ParseWholeNumber(server.Attribute("port"));
  if (!port) throw Error("Порт не является целым числом");
  // The connection refuses ports outside 0..65535 itself; only a value that
  // would not survive the narrowing has to be stopped here.
  if (*port < INT32_MIN || *port > INT32_MAX) throw Error("Range check error");
  return static_cast<std::int32_t>(*port);
}

struct Attempt {
  std::string_view caller;
  std::string_view identification;
  LogPane* log;
  EventSink& events;
};

void RecordRequestFault(const Attempt& attempt, std::string_view step,
                        const THttpsConnection& connection) {
  Record(attempt.events, EventType::Error, kEventRequestFault,
         {std::string(attempt.caller), std::string(step),
          ErrorCodeMessage(connection.LastError()) + EndingLimitNote(connection)});
}

// The search's time limit holds for each of its requests, and only for them.
class SearchDeadline {
 public:
  explicit SearchDeadline(THttpsConnection& connection)
      : connection_(connection), previous_(std::move(connection.OuterDeadline)) {
    const auto limit = connection.RequestLimits.serverSearch;
    connection.OuterDeadline = THttpsConnection::Deadline{
        std::chrono::steady_clock::now() + limit,
        "поиск подходящего сервера не завершился за " + DurationText(limit)};
  }
  ~SearchDeadline() { connection_.OuterDeadline = std::move(previous_); }
  SearchDeadline(const SearchDeadline&) = delete;
  SearchDeadline& operator=(const SearchDeadline&) = delete;

  bool Passed() const { return std::chrono::steady_clock::now() >= connection_.OuterDeadline->at; }
  const std::string& Limit() const { return connection_.OuterDeadline->limit; }

 private:
  THttpsConnection& connection_;
  std::optional<THttpsConnection::Deadline> previous_;
};

// Aims the connection at one listed server and asks it for "version". The
// server's path when it accepts the client; nullopt when it does not. Throws
// for a malformed entry or reply, which passes the server over as well.
std::optional<std::string> TryServer(THttpsConnection& connection, const Attempt& attempt,
                                     const XmlNode& server) {
  connection.SetServerName(RequiredAttribute(server, "host"));
  connection.Port = PortOf(server);
  std::string path = NormaliseServerPath(RequiredAttribute(server, "path"));
  connection.ObjectName = path + "/version?" + std::string(attempt.identification);

  if (!connection.ConnectToHttpsServer("GET")) {
    RecordRequestFault(attempt, "/version (Syn.ConnectToHttpsServer)", connection);
    return std::nullopt;
  }
  if (!connection.SendHttpsRequest()) {
    // The operator's Cancel is no fault of the server's.
    if (connection.StoppedByCaller()) throw JobCancelled();
    RecordRequestFault(attempt, "/version (Syn.SendHttpsRequest)", connection);
    return std::nullopt;
  }
  std::string reply = connection.ReadResponseUtf8();

  XmlDocument document = ParseReply(reply);
  if (std::optional<Refusal> refusal = TakeRefusal(document, reply)) {
    Record(attempt.events, EventType::AuditFailure, kEventDialogueOutcome,
           {std::string(attempt.caller) + " /version: " + std::move(refusal->recorded)});
    AppendLine(attempt.log, std::move(refusal->message));
    return std::nullopt;
  }
  if (!document.Root().FindNode("certificate")) return std::nullopt;
  return path;
}

}  // namespace

std::string NormaliseServerPath(std::string_view path) {
  std::string result(path);
  if (TextPos("/", result) > 0) {
    result = "/" + TextAfter("/", result, 1, 0, true);
    if (!result.empty() && result.back() == '/') result.pop_back();
  }
  return result;
}

std::string FindSuitableUrl(THttpsConnection& connection, std::string_view identification,
                            std::string_view callerName, LogPane* log, EventSink& events,
                            std::string helloReply) {
  const XmlDocument hello = ParseHello(callerName, events, helloReply);
  const XmlNode root = hello.Root();
  CheckProtocol(callerName, events, root);
  for (const XmlNode& message : ChildrenNamed(root, "message")) {
    AppendLine(log, ToText(message.NodeValue()));
  }

  const Attempt attempt{callerName, identification, log, events};
  const SearchDeadline deadline(connection);
  bool outOfTime = false;
  for (const XmlNode& server : ChildrenNamed(root, "cdb")) {
    try {
      if (std::optional<std::string> path = TryServer(connection, attempt, server)) {
        return std::move(*path);
      }
    } catch (const JobCancelled&) {
      throw;
    } catch (const std::exception&) {
      // A server that cannot be asked, or whose answer cannot be read, is
      // passed over without a word: the next one may do.
    }
    outOfTime = deadline.Passed();
    if (outOfTime) break;
  }
  AppendLine(log, "Отсутствует подходящий адрес (url)");
  const std::string failure = "Не найден подходящий адрес (url)";
  throw Error(outOfTime ? failure + " (" + deadline.Limit() + ")" : failure);
}

}  // namespace orx
