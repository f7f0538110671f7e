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

void GuardedAttributeDecl(void* ctxt, const xmlChar* element, const xmlChar* name, int type,
                          int def, const xmlChar* defaultValue, xmlEnumerationPtr tree) {
  if (const char* refusal = WatchOf(ctxt).defaults.Declared(element, def, defaultValue)) {
    xmlFreeEnumeration(tree);  // the handler owns it
    Refuse(ctxt, refusal);
    return;
  }
  xmlSAX2AttributeDecl(ctxt, element, name, type, def, defaultValue, tree);
}

void GuardedStartElement(void* ctxt, const xmlChar* localName, const xmlChar* prefix,
                         const xmlChar* uri, int namespaceCount, const xmlChar** namespaces,
                         int attributeCount, int defaultedCount, const xmlChar** attributes) {
  if (const char* refusal = WatchOf(ctxt).defaults.Added(attributeCount, defaultedCount)) {
    Refuse(ctxt, refusal);
    return;
  }
  xmlSAX2StartElementNs(ctxt, localName, prefix, uri, namespaceCount, namespaces, attributeCount,
                        defaultedCount, attributes);
}

}  // namespace

void StartTagScanner::StartSkipping(std::string_view end) {
  state_ = State::Skipping;
  end_ = end;
  tail_.clear();
}

std::size_t StartTagScanner::ReadTag(std::string_view piece, std::size_t at) {
  for (; at < piece.size(); ++at) {
    const char c = piece[at];
    if (quote_ != 0) {
      if (c == quote_) quote_ = 0;
    } else if (c == '"' || c == '\'') {
      quote_ = c;
    } else if (c == '=') {
      if (++equals_ > kMostAttributes) {
        crowded_ = true;
        return piece.size();
      }
    } else if (c == '>') {
      state_ = State::Text;
      return at + 1;
    } else if (c == '\n') {
      ++line_;
    }
  }
  return at;
}

bool StartTagScanner::Feed(std::string_view piece) {
  static constexpr std::string_view kComment = "!--";
  static constexpr std::string_view kCData = "![CDATA[";
  std::size_t at = 0;
  while (!crowded_ && at < piece.size()) {
    switch (state_) {
      case State::Text: {
        const std::size_t open = piece.find('<', at);
        const std::size_t stop = open == std::string_view::npos ? piece.size() : open;
        if (countLines_) {
          line_ += static_cast<int>(std::count(piece.begin() + static_cast<std::ptrdiff_t>(at),
                                               piece.begin() + static_cast<std::ptrdiff_t>(stop), '\n'));
        }
        if (open == std::string_view::npos) {
          at = piece.size();
          break;
        }
        tagStart_ = offset_ + open;
        tagLine_ = line_;
        opening_.clear();
        state_ = State::Opening;
        at = open + 1;
        break;
      }
      case State::Opening: {
        opening_ += piece[at++];
        if (opening_ == kComment) {
          StartSkipping("-->");
        } else if (opening_ == kCData) {
          StartSkipping("]]>");
        } else if (opening_.front() == '?') {
          StartSkipping("?>");
        } else if (!kComment.starts_with(opening_) && !kCData.starts_with(opening_)) {
          // A start tag or a declaration: to its ">", past quoted values.
          state_ = State::Tag;
          equals_ = 0;
          quote_ = 0;
          const std::string read = std::move(opening_);
          ReadTag(read, 0);
        }
        break;
      }
      case State::Skipping: {
        const std::size_t last = piece.find(end_.back(), at);
        const std::size_t stop = last == std::string_view::npos ? piece.size() : last + 1;
        const std::string_view skipped = piece.substr(at, stop - at);
        line_ += static_cast<int>(std::count(skipped.begin(), skipped.end(), '\n'));
        tail_ += skipped.substr(skipped.size() - std::min(skipped.size(), end_.size()));
        if (tail_.size() > end_.size()) tail_.erase(0, tail_.size() - end_.size());
        if (last != std::string_view::npos && tail_ == end_) state_ = State::Text;
        at = stop;
        break;
      }
      case State::Tag:
        at = ReadTag(piece, at);
        break;
    }
  }
  offset_ += piece.size();
  return !crowded_;
}

std::size_t CrowdedStartTag(std::string_view bytes) {
  StartTagScanner scanner(false);
  if (scanner.Feed(bytes)) return std::string_view::npos;
  return static_cast<std::size_t>(scanner.crowdedAt());
}

const char* DefaultAttributeGuard::Declared(const xmlChar* element, int def,
                                            const xmlChar* defaultValue) {
  if (defaultValue == nullptr || def == XML_ATTRIBUTE_IMPLIED || def == XML_ATTRIBUTE_REQUIRED) {
    return nullptr;
  }
  const std::string name = element != nullptr ? reinterpret_cast<const char*>(element) : "";
  if (++declared_[name] > kMostAttributes) return kManyDefaults;
  return nullptr;
}

const char* DefaultAttributeGuard::Added(int attributeCount, int defaultedCount) {
  // Each default is compared with the attributes before it, and then every
  // attribute with every other.
  constexpr std::uint64_t kMostWork = 100'000'000;
  if (defaultedCount <= 0) return nullptr;
  work_ += static_cast<std::uint64_t>(defaultedCount) * static_cast<std::uint64_t>(attributeCount);
  return work_ > kMostWork ? kManyDefaults : nullptr;
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
  ctxt.sax->attributeDecl = GuardedAttributeDecl;
  ctxt.sax->startElementNs = GuardedStartElement;
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
