#pragma once
// Guards around libxml2's parser for documents from elsewhere: checks made
// on the bytes before any parser sees them, and a parse whose tree is held to
// a budget. XmlDocument::Parse uses both; they live apart so that the rules
// of what a parse may cost stay in one place.
#include <libxml/parser.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "support/xml_document.h"

namespace orx {

// libxml2 compares a start tag's attributes with each other pair by pair, so
// a tag with a hundred thousand of them holds the parse for minutes.
inline constexpr std::size_t kMostAttributes = 1000;
// The reasons a document is refused with, before or while it is parsed.
inline constexpr const char* kCrowdedTag = "Слишком много атрибутов в одном открывающем теге";
inline constexpr const char* kManyDefaults = "Слишком много атрибутов по умолчанию из DTD";
inline constexpr const char* kNotUtf8 = "Документ не является текстом в кодировке UTF-8";
inline constexpr const char* kTooLarge = "Документ слишком велик для чтения";
inline constexpr const char* kInternalSubset = "Внутреннее подмножество DTD не допускается";

// Finds a start tag with more than kMostAttributes attributes in a document
// read piece by piece, before the parser is given it. The bytes are read as
// libxml2 reads UTF-8 up to the first error (it stops there, before any
// later tag): comments, CDATA sections, processing instructions and
// declarations are skipped whole, quoted values inside tags too, and a
// literal "<" can stand nowhere else.
class StartTagScanner {
 public:
  // Without countLines, crowdedLine() stays 1 and the text is read faster.
  explicit StartTagScanner(bool countLines = true) : countLines_(countLines) {}
  // Reads the next piece; false once a crowded tag has been found (in this
  // piece or before), which the parser must not be given.
  bool Feed(std::string_view piece);
  // Where the crowded tag begins: bytes from the document's start, and its
  // line (1-based).
  std::uint64_t crowdedAt() const { return tagStart_; }
  int crowdedLine() const { return tagLine_; }

 private:
  enum class State { Text, Opening, Skipping, Tag };
  void StartSkipping(std::string_view end);
  // Reads tag bytes from piece[at]; returns where it stopped.
  std::size_t ReadTag(std::string_view piece, std::size_t at);

  bool countLines_;
  State state_ = State::Text;
  std::string opening_;   // the bytes after "<" while what they open is undecided
  std::string_view end_;  // what ends the construct being skipped
  std::string tail_;      // its last bytes, for an end split between pieces
  std::size_t equals_ = 0;
  char quote_ = 0;
  std::uint64_t offset_ = 0;  // of the piece being read
  int line_ = 1;
  std::uint64_t tagStart_ = 0;
  int tagLine_ = 1;
  bool crowded_ = false;
};

// The offset of the first start tag with more than kMostAttributes
// attributes, or npos (StartTagScanner over the bytes at once).
std::size_t CrowdedStartTag(std::string_view bytes);

// Default attributes that a DTD declares are added to every start tag of
// their element, where libxml2 compares each with the tag's others pair by
// pair: a short DTD could give a million four-byte tags twenty thousand
// attributes each. An element may have at most kMostAttributes defaults
// declared, and adding them is held to a budget of comparisons for the
// whole document, which ordinary documents with defaults stay far below.
class DefaultAttributeGuard {
 public:
  // From the parser's attributeDecl handler, before the declaration takes
  // effect: the reason for refusing the document, or nullptr.
  const char* Declared(const xmlChar* element, int def, const xmlChar* defaultValue);
  // From its startElementNs handler, with the tag's counts (defaulted ones
  // among the attributes): the reason for refusing the document, or nullptr.
  const char* Added(int attributeCount, int defaultedCount);

 private:
  std::unordered_map<std::string, std::size_t> declared_;
  std::uint64_t work_ = 0;
};

// Throws XmlParseError for bytes no parser should be given: a start tag with
// more than kMostAttributes attributes (kCrowdedTag) and, when utf8Only,
// bytes that are not UTF-8 or hold a zero byte (kNotUtf8). The attribute
// count is exact for any
// encoding that keeps ASCII as it is.
void RefuseBeforeParse(std::string_view bytes, bool utf8Only);

// What one parse keeps beside the parser: its first error and, for a bounded
// parse, the bytes still to be read, what the tree has cost so far and why
// the parse was stopped.
struct ParseWatch {
  XmlFirstError first;
  std::string_view unread;
  std::size_t treeBudget = 0;
  std::size_t treeBytes = 0;
  const char* refusal = nullptr;  // the reason the parse was stopped
  int refusalLine = 0;
  DefaultAttributeGuard defaults;
  xmlSAXHandler builder{};  // libxml2's own tree-building handlers
};

// Hangs watch on ctxt, whose errors then go to watch.first, and guards the
// parse against a DTD's default attributes (DefaultAttributeGuard; the
// refusal goes to watch.refusal). watch must outlive every use of ctxt.
void WatchParse(xmlParserCtxt& ctxt, ParseWatch& watch);

// Parses bytes on ctxt (watched by watch) reading them where they lie, and
// builds the tree within budget bytes: a piece that would take it further,
// a comment, attribute value or other single piece longer than libxml2's
// usual limit, or an internal DTD subset stops the parse with watch.refusal
// set (kTooLarge, kInternalSubset).
// The declared encoding is ignored: the bytes are read as UTF-8. Returns the
// document the parser built, which the caller owns (possibly partial or
// nullptr: the caller judges the outcome).
xmlDocPtr ParseBounded(xmlParserCtxt& ctxt, ParseWatch& watch, std::string_view bytes,
                       std::size_t budget);

}  // namespace orx
