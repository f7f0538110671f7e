#pragma once
// Reading the certificate server's replies. A reply is the response body as
// UTF-8 text; every function parses its own document and frees it on every
// path.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/job_context.h"
#include "support/xml_document.h"

namespace orx {

// The most a reply's tree may take: room for a message as long as the
// largest reply the connection takes, far less than the elements such a reply
// could name. A reply beyond it cannot be read.
inline constexpr std::size_t kReplyTreeBytes = std::size_t{100} * 1024 * 1024;

// A reply is text, and a text ends at its first zero byte: servers that
// count a C string's terminator send one after the document.
std::string_view ReplyText(std::string_view reply);

// A reply's document (its text), parsed within kReplyTreeBytes
// (XmlDocument::Parse).
XmlDocument ParseReply(std::string_view reply);
// Frees a reply whose document has been read: its tree holds all that is
// needed from then on.
void ReleaseReply(std::string& reply);

// Every element child of parent whose name is exactly name, in document order.
std::vector<XmlNode> ChildrenNamed(const XmlNode& parent, std::string_view name);

// A whole number as the server writes it: decimal digits with an optional
// sign, blanks (and other white space) around allowed. nullopt for anything
// else, an absent value and a value outside 64 bits included.
[[nodiscard]] std::optional<std::int64_t> ParseWholeNumber(const std::optional<std::string>& text);

// The most of a reply an event record holds.
inline constexpr std::size_t kRecordedReplyBytes = std::size_t{16} * 1024 * 1024;

// A reply's text as it goes into an event record: whole up to
// kRecordedReplyBytes; a longer one is cut there (at a character boundary)
// and ends with "… (всего N байт)", its whole length.
std::string ReplyForRecord(std::string_view reply);

// Whether a read reply is an authentication failure: a "dataPacket" root
// whose "name" is exactly "authfailed".
bool IsAuthFailure(const XmlDocument& reply);

// Empty when the read reply is not an authentication failure. Otherwise the
// server's "message" text, or " " when it gave none. Throws Error when its
// "message" holds anything but one piece of text. It reads only the tree, so
// a caller that learnt the reply is a refusal (IsAuthFailure) can release
// the reply's text first, and a reply near the size limit and its message
// are never held side by side.
std::string GetAuthFailedMessage(const XmlDocument& reply);

// An authentication failure as its record and the log pane show it.
struct Refusal {
  std::string message;   // GetAuthFailedMessage
  std::string recorded;  // ReplyForRecord of the reply
};
// When the read reply is an authentication failure, its refusal, with the
// reply released and the document freed: a reply near the size limit, its
// tree, its message and its record are never all held at once. Throws as
// GetAuthFailedMessage does. nullopt, with both left as they were, for any
// other reply.
std::optional<Refusal> TakeRefusal(XmlDocument& document, std::string& reply);

// Reports the verdict on the posted certificates as log-pane lines and event
// records, and lets pending window events through twice. Never throws.
// True when the server accepted the certificates (status 0 or 1); false for a
// rejected verdict and for a reply that cannot be read. The reply is read as
// a stream, a certificate at a time, its lines written as they come, so that
// memory does not grow with the number of certificates; it is released once
// read.
[[nodiscard]] bool ReportSaveReply(JobContext& context, std::string reply);

}  // namespace orx
