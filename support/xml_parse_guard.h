#pragma once
// Guards around libxml2's parser for documents from elsewhere: checks made
// on the bytes before any parser sees them, and a parse whose tree is held to
// a budget. XmlDocument::Parse uses both; they live apart so that the rules
// of what a parse may cost stay in one place.
#include <libxml/parser.h>

#include <cstddef>
#include <string_view>

#include "support/xml_document.h"

namespace orx {

// libxml2 compares a start tag's attributes with each other pair by pair, so
// a tag with a hundred thousand of them holds the parse for minutes.
inline constexpr std::size_t kMostAttributes = 1000;

// The offset of the first start tag with more than kMostAttributes
// attributes, or npos. The bytes are read as libxml2 reads UTF-8 up to the
// first error (it stops there, before any later tag): comments, CDATA
// sections, processing instructions and declarations are skipped whole,
// quoted values inside tags too, and a literal "<" can stand nowhere else.
std::size_t CrowdedStartTag(std::string_view bytes);

// Throws XmlParseError for bytes no parser should be given: a start tag with
// more than kMostAttributes attributes ("Too many attributes in one start
// tag") and, when utf8Only, bytes that are not UTF-8 or hold a zero byte
// ("Document is not UTF-8 text"). The attribute count is exact for any
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
  const char* refusal = nullptr;  // the reason a bounded parse was stopped
  int refusalLine = 0;
  xmlSAXHandler builder{};  // libxml2's own tree-building handlers
};

// Hangs watch on ctxt, whose errors then go to watch.first. watch must
// outlive every use of ctxt.
void WatchParse(xmlParserCtxt& ctxt, ParseWatch& watch);

// Parses bytes on ctxt (watched by watch) reading them where they lie, and
// builds the tree within budget bytes: a piece that would take it further,
// a comment, attribute value or other single piece longer than libxml2's
// usual limit, or an internal DTD subset stops the parse with watch.refusal
// set ("Document too large to be read", "Internal DTD subset not allowed").
// The declared encoding is ignored: the bytes are read as UTF-8. Returns the
// document the parser built, which the caller owns (possibly partial or
// nullptr: the caller judges the outcome).
xmlDocPtr ParseBounded(xmlParserCtxt& ctxt, ParseWatch& watch, std::string_view bytes,
                       std::size_t budget);

}  // namespace orx
