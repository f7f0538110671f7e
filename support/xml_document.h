#pragma once
// XML document access over libxml2. Every document the program reads is
// untrusted: parsing never touches the network, loads no DTD and no external
// entity, and keeps libxml2's entity-expansion limits. Call InitXmlLibrary()
// once in the main thread before any other use (Parse and Create call it too;
// repeated calls do nothing).
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "support/c_handle.h"
#include "support/error.h"

namespace orx {

void InitXmlLibrary();

// The options every document of the program is parsed with. NOENT
// substitutes entities while parsing, where libxml2's amplification limits
// apply; without it every later xmlNodeGetContent would expand them
// unbounded. The refusing loader keeps NOENT from reading external entities.
inline constexpr int kXmlParseOptions = XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOBLANKS |
                                        XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// Error("<reason>\r\nLine: <n>\r\n<first 40 characters of line n of source>"),
// line ends at the end of reason dropped; source is the text the parser read.
Error XmlParseError(std::string_view source, std::string_view reason, int line);

// The reason when a parser failed without saying why.
inline constexpr const char* kUnparsedDocument = "XML-документ не удалось разобрать";

// Throws Error for bytes longer than libxml2's int lengths can hold.
void RefuseOversizeDocument(std::string_view bytes);

// The first error a libxml2 parser or validator reports. libxml2 may report
// follow-on errors after the first fatal one ("Extra content", "Premature
// end"); the first is the one that names the fault. An encoding error comes
// without a line, so the next error gives it one. Warnings are passed over.
class XmlFirstError {
 public:
  // A structured-error handler whose context is the XmlFirstError.
  static void Collect(void* self, xmlErrorPtr error);
  void Take(const xmlError* error);

  bool set() const { return set_; }
  const std::string& message() const { return message_; }
  int line() const { return line_; }
  // XmlParseError of the first error; when none was reported, of the
  // parser's last one, else of a general reason on line 0.
  Error ParseError(std::string_view source, const xmlParserCtxt& ctxt) const;

 private:
  bool set_ = false;
  std::string message_;
  int line_ = 0;
};

// A 16- or 32-bit encoding name (UTF-16, UCS-4, ...): such documents are
// written back as UTF-8.
bool IsWideEncoding(std::string_view name);

// While one exists on the current thread, external resources given by a
// local path or file: URL may be loaded (the includes and imports of an XML
// Schema while it is parsed). Network URLs stay refused.
class XmlLocalLoadScope {
 public:
  XmlLocalLoadScope();
  ~XmlLocalLoadScope();
  XmlLocalLoadScope(const XmlLocalLoadScope&) = delete;
  XmlLocalLoadScope& operator=(const XmlLocalLoadScope&) = delete;

 private:
  bool previous_;
};

// While one exists on the current thread, every diagnostic libxml2 raises
// that no parser context takes (input and output encoding conversion, output
// buffers, ...) goes to handler(context, error) and nothing reaches standard
// error. The previous handlers come back afterwards; scopes nest.
class XmlErrorScope {
 public:
  XmlErrorScope(void* context, xmlStructuredErrorFunc handler);
  ~XmlErrorScope();
  XmlErrorScope(const XmlErrorScope&) = delete;
  XmlErrorScope& operator=(const XmlErrorScope&) = delete;

 private:
  xmlStructuredErrorFunc savedHandler_;
  void* savedContext_;
  xmlGenericErrorFunc savedGeneric_;
  void* savedGenericContext_;
};

class XmlNode {
 public:
  XmlNode() = default;
  explicit XmlNode(xmlNodePtr node) : node_(node) {}

  explicit operator bool() const { return node_ != nullptr; }
  xmlNodePtr get() const { return node_; }

  // Qualified name (prefix:local when there is a prefix).
  std::string NodeName() const;
  // nullopt when the attribute is absent; its text otherwise, also when empty.
  std::optional<std::string> Attribute(std::string_view name) const;
  void SetAttribute(std::string_view name, std::string_view value);
  void SetAttribute(std::string_view name, std::int64_t value);
  // The text of an element whose one child is text or CDATA; nullopt when the
  // element has no children or the text is empty. Other content throws
  // Error("Element does not contain a single text node").
  std::optional<std::string> NodeValue() const;
  // As NodeValue, without a copy: valid while the document lasts.
  std::optional<std::string_view> NodeText() const;

  // Element children only, in document order. An index out of range throws
  // Error("List index out of bounds (<index>)").
  int ChildCount() const;
  XmlNode ChildAt(int index) const;
  void DeleteChild(int index);
  // First element child whose qualified or local name equals name; null node if none.
  XmlNode FindNode(std::string_view name) const;
  // New element in this element's namespace; index -1 (or the child count)
  // appends, 0 makes it first.
  XmlNode AddChild(std::string_view name, int index = -1);

 private:
  xmlNodePtr node_ = nullptr;
};

class XmlDocument {
 public:
  // Parses bytes (encoding from a byte-order mark or the declaration, UTF-8
  // otherwise). Throws Error with the message
  // "<reason>\r\nLine: <n>\r\n<first 40 characters of the offending line>".
  // With treeBytes the parse is bounded for a document from elsewhere: the
  // bytes are read where they lie, not copied; the tree takes at most about
  // treeBytes bytes, one text as long as the bytes allow, but a comment,
  // attribute value or other single piece no more than libxml2's usual
  // limit; a document beyond that fails with the reason "Документ слишком
  // велик для чтения", one with an internal DTD subset with "Внутреннее
  // подмножество DTD не допускается".
  static XmlDocument Parse(std::string_view bytes, std::string_view url = {},
                           std::optional<std::size_t> treeBytes = std::nullopt);
  // As Parse, from text set as the document's text: cut at the first zero
  // byte, line ends made CR LF first.
  static XmlDocument ParseText(std::string_view text);
  // Reads the file whole (FileToString) and parses it.
  static XmlDocument LoadFile(std::string_view path);
  // An empty document with a root element.
  static XmlDocument Create(std::string_view rootName);

  XmlNode Root() const;
  // Serialised: declaration first, in the encoding it names (UTF-8 when the
  // document named none or a 16/32-bit one), every line ended by CR LF.
  std::string Text() const;
  xmlDocPtr get() const { return doc_.get(); }

 private:
  explicit XmlDocument(xmlDocPtr doc) : doc_(doc) {}
  CHandle<xmlDoc, xmlFreeDoc> doc_;
};

// Conversions of attribute and element values. Null (nullopt) and text that
// is not a whole number throw Error with a message naming the value.
std::int64_t ToInteger(const std::optional<std::string>& value);
std::string ToText(const std::optional<std::string>& value);

}  // namespace orx
