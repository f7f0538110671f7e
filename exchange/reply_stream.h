#pragma once
// A reply read one node at a time (libxml2's reader), for replies that may
// list very many elements: a node is let go once the reader has passed it,
// so memory does not grow with the number of elements. The reply must be
// UTF-8 with no start tag of over a thousand attributes (as a parsed reply
// must), and libxml2's own limits hold: no text longer than 10 MB.
#include <libxml/xmlreader.h>

#include <optional>
#include <string>
#include <string_view>

#include "support/c_handle.h"
#include "support/xml_document.h"

namespace orx {

class ReplyStream {
 public:
  // Throws Error (XmlParseError) for bytes the guards refuse.
  explicit ReplyStream(std::string_view reply);

  // Moves to the next element, start or end; false once the document has
  // been read to its end. Throws Error when it is not well-formed, or holds
  // no element at all.
  bool NextElement();

  bool AtStart() const { return start_; }  // false: at an element's end
  int Depth() const;                       // the document element is at 0
  std::string_view Name() const;           // qualified name
  std::string_view LocalName() const;
  std::optional<std::string_view> NamespaceUri() const;
  // The attribute of that qualified name, nullopt when absent.
  std::optional<std::string> Attribute(const std::string& name) const;

  // At an element's start: its text as XmlNode::NodeValue reads it (nullopt
  // when it has no children or the text is empty; Error "Element does not
  // contain a single text node" for other content), after reading on to the
  // element's end. The next NextElement goes on from there.
  std::optional<std::string> ElementText();

 private:
  [[noreturn]] void Fail() const;

  std::string_view bytes_;
  XmlFirstError first_;
  // Diagnostics libxml2 raises outside the reader go to first_ too, never to
  // standard error.
  XmlErrorScope unowned_{&first_, &XmlFirstError::Collect};
  CHandle<xmlTextReader, xmlFreeTextReader> reader_;
  bool start_ = false;
  bool endPending_ = false;  // at the start of an empty element
  bool sawElement_ = false;
};

}  // namespace orx
