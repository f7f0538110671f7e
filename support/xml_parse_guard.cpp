#include "support/xml_parse_guard.h"

#include <libxml/SAX2.h>
#include <libxml/dict.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlIO.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "support/text.h"

namespace orx {
namespace {

// The parser hands its handlers the parser context; the watch hangs there.
ParseWatch& WatchOf(void* ctxt) {
  return *static_cast<ParseWatch*>(static_cast<xmlParserCtxtPtr>(ctxt)->_private);
}

void KeepFirstParseError(void* ctxt, xmlErrorPtr error) {
  if (static_cast<xmlParserCtxtPtr>(ctxt)->_private != nullptr) WatchOf(ctxt).first.Take(error);
}

int ReadUnread(void* watch, char* buffer, int length) {
  std::string_view& unread = static_cast<ParseWatch*>(watch)->unread;
  const std::size_t count = std::min(unread.size(), static_cast<std::size_t>(length));
  std::memcpy(buffer, unread.data(), count);
  unread.remove_prefix(count);
  return static_cast<int>(count);
}

constexpr const char* kTooLarge = "Document too large to be read";
constexpr const char* kInternalSubset = "Internal DTD subset not allowed";
constexpr const char* kNotUtf8 = "Document is not UTF-8 text";
constexpr const char* kCrowdedTag = "Too many attributes in one start tag";

// What libxml2 spends on a node beside its text, with a name in its
// dictionary and the allocator's share: an estimate on the high side.
constexpr std::size_t kNodeBytes = 200;
// What libxml2 builds whole before the tree takes a copy (a comment, an
// attribute value, a literal) is held to the length libxml2 allows without
// XML_PARSE_HUGE, so that such a piece and its copy stay small.
constexpr std::size_t kPieceBytes = XML_MAX_TEXT_LENGTH;

std::size_t Length(const xmlChar* text) {
  return text != nullptr ? static_cast<std::size_t>(xmlStrlen(text)) : 0;
}

void Refuse(void* ctxt, const char* reason) {
  ParseWatch& watch = WatchOf(ctxt);
  if (watch.refusal == nullptr) {
    watch.refusal = reason;
    watch.refusalLine = xmlSAX2GetLineNumber(ctxt);
  }
  xmlStopParser(static_cast<xmlParserCtxtPtr>(ctxt));
}

// Adds what the next piece of the tree costs; false, with the parse stopped,
// when that would take the tree past its budget or the piece's longest part
// past kPieceBytes. Asked before each piece is built, so the tree never
// outgrows the budget.
bool Afford(void* ctxt, std::size_t bytes, std::size_t longest = 0) {
  ParseWatch& watch = WatchOf(ctxt);
  if (watch.refusal == nullptr && longest <= kPieceBytes &&
      bytes <= watch.treeBudget - watch.treeBytes) {
    watch.treeBytes += bytes;
    return true;
  }
  Refuse(ctxt, kTooLarge);
  return false;
}

void BoundedStartElement(void* ctxt, const xmlChar* localName, const xmlChar* prefix,
                         const xmlChar* uri, int namespaceCount, const xmlChar** namespaces,
                         int attributeCount, int defaultedCount, const xmlChar** attributes) {
  // An attribute is a node with a text node under it. Five pointers per
  // attribute: its name, prefix and namespace, then the bounds of its value.
  std::size_t bytes = kNodeBytes * (1 + static_cast<std::size_t>(namespaceCount) +
                                    2 * static_cast<std::size_t>(attributeCount)) +
                      Length(localName);
  std::size_t longest = 0;
  for (int i = 0; i < attributeCount; ++i) {
    const auto value = static_cast<std::size_t>(attributes[5 * i + 4] - attributes[5 * i + 3]);
    bytes += Length(attributes[5 * i]) + value;
    longest = std::max(longest, value);
  }
  if (!Afford(ctxt, bytes, longest)) return;
  WatchOf(ctxt).builder.startElementNs(ctxt, localName, prefix, uri, namespaceCount, namespaces,
                                       attributeCount, defaultedCount, attributes);
}

// Text comes in pieces; a piece that follows text joins its node, whose
// buffer grows by doubling and leaves the smaller ones behind with the
// allocator: half as much again is counted for that.
void BoundedCharacters(void* ctxt, const xmlChar* text, int length) {
  const xmlNodePtr parent = static_cast<xmlParserCtxtPtr>(ctxt)->node;
  const bool joins = parent != nullptr && parent->last != nullptr &&
                     parent->last->type == XML_TEXT_NODE;
  const auto size = static_cast<std::size_t>(length);
  if (Afford(ctxt, joins ? size + size / 2 : kNodeBytes + size)) {
    WatchOf(ctxt).builder.characters(ctxt, text, length);
  }
}

void BoundedCData(void* ctxt, const xmlChar* text, int length) {
  const auto size = static_cast<std::size_t>(length);
  if (Afford(ctxt, kNodeBytes + size, size)) WatchOf(ctxt).builder.cdataBlock(ctxt, text, length);
}

void BoundedComment(void* ctxt, const xmlChar* text) {
  const std::size_t size = Length(text);
  if (Afford(ctxt, kNodeBytes + size, size)) WatchOf(ctxt).builder.comment(ctxt, text);
}

void BoundedInstruction(void* ctxt, const xmlChar* target, const xmlChar* data) {
  const std::size_t size = Length(data);
  if (Afford(ctxt, kNodeBytes + Length(target) + size, size)) {
    WatchOf(ctxt).builder.processingInstruction(ctxt, target, data);
  }
}

// A reference to an entity no declaration names becomes a node of its own.
void BoundedReference(void* ctxt, const xmlChar* name) {
  if (Afford(ctxt, kNodeBytes + Length(name))) WatchOf(ctxt).builder.reference(ctxt, name);
}

// Declarations are where libxml2 spends memory no budget reaches (entity
// copies, content models), so a bounded document may not make any. Called
// before the parser reads the "[" that would open them.
void BoundedInternalSubset(void* ctxt, const xmlChar* name, const xmlChar* externalId,
                           const xmlChar* systemId) {
  const xmlParserInputPtr input = static_cast<xmlParserCtxtPtr>(ctxt)->input;
  if (input != nullptr && input->cur != nullptr && *input->cur == '[') {
    Refuse(ctxt, kInternalSubset);
    return;
  }
  const std::size_t ids = Length(externalId) + Length(systemId);
  if (Afford(ctxt, kNodeBytes + Length(name) + ids, ids)) {
    WatchOf(ctxt).builder.internalSubset(ctxt, name, externalId, systemId);
  }
}

}  // namespace

std::size_t CrowdedStartTag(std::string_view bytes) {
  const auto skipPast = [&](std::size_t from, std::string_view end) {
    const std::size_t at = bytes.find(end, from);
    return at == std::string_view::npos ? bytes.size() : at + end.size();
  };
  std::size_t at = 0;
  while ((at = bytes.find('<', at)) != std::string_view::npos) {
    const std::string_view rest = bytes.substr(at);
    if (rest.starts_with("<!--")) {
      at = skipPast(at + 4, "-->");
      continue;
    }
    if (rest.starts_with("<![CDATA[")) {
      at = skipPast(at + 9, "]]>");
      continue;
    }
    if (rest.starts_with("<?")) {
      at = skipPast(at + 2, "?>");
      continue;
    }
    // A start tag or a declaration: to its ">", past quoted values.
    const std::size_t tag = at;
    std::size_t equals = 0;
    char quote = 0;
    for (++at; at < bytes.size(); ++at) {
      const char c = bytes[at];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '=') {
        if (++equals > kMostAttributes) return tag;
      } else if (c == '>') {
        break;
      }
    }
  }
  return std::string_view::npos;
}

void RefuseBeforeParse(std::string_view bytes, bool utf8Only) {
  if (utf8Only && (!IsWellFormedUtf8(bytes) || bytes.find('\0') != std::string_view::npos)) {
    throw XmlParseError(bytes, kNotUtf8, 1);
  }
  if (const std::size_t tag = CrowdedStartTag(bytes); tag != std::string_view::npos) {
    const auto before = bytes.substr(0, tag);
    throw XmlParseError(bytes, kCrowdedTag,
                        1 + static_cast<int>(std::count(before.begin(), before.end(), '\n')));
  }
}

void WatchParse(xmlParserCtxt& ctxt, ParseWatch& watch) {
  ctxt._private = &watch;
  ctxt.sax->serror = KeepFirstParseError;
}

// Reads the bytes in pieces rather than as libxml2's copy of them, and
// builds the tree within the budget. Text read in pieces joins into one node
// beyond libxml2's usual text limit only under XML_PARSE_HUGE; what that
// option lifts otherwise, the budget, kPieceBytes and the dictionary's limit
// put back.
xmlDocPtr ParseBounded(xmlParserCtxt& ctxt, ParseWatch& watch, std::string_view bytes,
                       std::size_t budget) {
  watch.unread = bytes;
  watch.treeBudget = budget;
  xmlParserInputBufferPtr buffer =
      xmlParserInputBufferCreateIO(ReadUnread, nullptr, &watch, XML_CHAR_ENCODING_NONE);
  if (buffer == nullptr) throw std::bad_alloc();
  const xmlParserInputPtr input = xmlNewIOInputStream(&ctxt, buffer, XML_CHAR_ENCODING_NONE);
  if (input == nullptr) {
    xmlFreeParserInputBuffer(buffer);
    throw std::bad_alloc();
  }
  if (inputPush(&ctxt, input) < 0) throw std::bad_alloc();  // the input is freed
  xmlCtxtUseOptions(&ctxt, kXmlParseOptions | XML_PARSE_HUGE | XML_PARSE_IGNORE_ENC);
  xmlDictSetLimit(ctxt.dict, XML_MAX_DICTIONARY_LIMIT);
  watch.builder = *ctxt.sax;
  ctxt.sax->startElementNs = BoundedStartElement;
  ctxt.sax->characters = BoundedCharacters;
  ctxt.sax->cdataBlock = BoundedCData;
  ctxt.sax->comment = BoundedComment;
  ctxt.sax->processingInstruction = BoundedInstruction;
  ctxt.sax->reference = BoundedReference;
  ctxt.sax->internalSubset = BoundedInternalSubset;
  xmlParseDocument(&ctxt);
  return std::exchange(ctxt.myDoc, nullptr);
}

}  // namespace orx
