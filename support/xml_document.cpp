#include "support/xml_document.h"

#include <libxml/SAX2.h>
#include <libxml/dict.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "support/c_handle.h"
#include "support/error.h"
#include "support/files.h"
#include "support/text.h"
#include "support/xml_parse_guard.h"
#include "support/xml_reason_wording.h"
#include "support/xml_source_line.h"

namespace orx {
namespace {

thread_local bool localLoadsAllowed = false;
xmlExternalEntityLoader defaultLoader = nullptr;

bool IsNetworkUrl(const char* url) {
  static constexpr const char* kSchemes[] = {"http:", "https:", "ftp:"};
  for (const char* scheme : kSchemes) {
    if (xmlStrncasecmp(reinterpret_cast<const xmlChar*>(url),
                       reinterpret_cast<const xmlChar*>(scheme),
                       static_cast<int>(std::strlen(scheme))) == 0) {
      return true;
    }
  }
  return false;
}

xmlParserInputPtr RefuseExternalEntity(const char* url, const char* id, xmlParserCtxtPtr ctxt) {
  if (localLoadsAllowed && url != nullptr && !IsNetworkUrl(url) && defaultLoader != nullptr) {
    return defaultLoader(url, id, ctxt);
  }
  return nullptr;
}

// Diagnostics printed directly rather than raised are dropped: the raised
// ones carry everything a message needs.
void IgnoreGenericError(void*, const char*, ...) {}

xmlNodePtr ElementChild(xmlNodePtr parent, int index) {
  if (index < 0) return nullptr;
  for (xmlNodePtr child = parent->children; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE && index-- == 0) return child;
  }
  return nullptr;
}

[[noreturn]] void ThrowIndexError(int index) {
  throw Error("List index out of bounds (" + std::to_string(index) + ")");
}

const xmlChar* Xml(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }

std::string FromXml(const xmlChar* text) {
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

std::string QualifiedName(const xmlChar* prefix, const xmlChar* name) {
  std::string result;
  if (prefix != nullptr && *prefix != 0) {
    result = FromXml(prefix);
    result += ':';
  }
  result += FromXml(name);
  return result;
}

const xmlChar* NamespaceUri(xmlNodePtr node) { return node->ns != nullptr ? node->ns->href : nullptr; }

// Encodings that libxml2 can read but that the serialised text must not use.

}  // namespace

void RefuseOversizeDocument(std::string_view bytes) {
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
    throw Error("XML-документ слишком велик (" + std::to_string(bytes.size()) + " байт)");
  }
}

Error XmlParseError(std::string_view source, std::string_view reason, int line) {
  std::string text = XmlReasonWording(reason);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return Error(text + "\r\nLine: " + std::to_string(line) + "\r\n" +
               XmlSourceLine(source, line, 40));
}

void XmlFirstError::Collect(void* self, xmlErrorPtr error) {
  static_cast<XmlFirstError*>(self)->Take(error);
}

void XmlFirstError::Take(const xmlError* error) {
  if (error == nullptr || error->level < XML_ERR_ERROR) return;
  // An encoding error comes first but without a line; the parser's next
  // error tells where it stopped.
  if (set_) {
    if (line_ == 0) line_ = error->line;
    return;
  }
  set_ = true;
  message_ = error->message != nullptr ? error->message : "";
  while (!message_.empty() && (message_.back() == '\n' || message_.back() == '\r')) {
    message_.pop_back();
  }
  line_ = error->line;
}

Error XmlFirstError::ParseError(std::string_view source, const xmlParserCtxt& ctxt) const {
  if (set_) return XmlParseError(source, message_, line_);
  const xmlError& last = ctxt.lastError;
  if (last.message != nullptr) return XmlParseError(source, last.message, last.line);
  return XmlParseError(source, kUnparsedDocument, 0);
}

bool IsWideEncoding(std::string_view name) {
  static constexpr std::string_view kWide[] = {"UTF-16", "UTF16", "UTF-32", "UTF32",
                                               "UCS-2",  "UCS2",  "UCS-4",  "UCS4",
                                               "ISO-10646-UCS"};
  for (std::string_view prefix : kWide) {
    if (name.size() >= prefix.size() &&
        xmlStrncasecmp(reinterpret_cast<const xmlChar*>(name.data()),
                       reinterpret_cast<const xmlChar*>(prefix.data()),
                       static_cast<int>(prefix.size())) == 0) {
      return true;
    }
  }
  return false;
}

void InitXmlLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    defaultLoader = xmlGetExternalEntityLoader();
    xmlSetExternalEntityLoader(RefuseExternalEntity);
  });
}

XmlErrorScope::XmlErrorScope(void* context, xmlStructuredErrorFunc handler)
    : savedHandler_(xmlStructuredError),
      savedContext_(xmlStructuredErrorContext),
      savedGeneric_(xmlGenericError),
      savedGenericContext_(xmlGenericErrorContext) {
  xmlSetStructuredErrorFunc(context, handler);
  xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
}

XmlErrorScope::~XmlErrorScope() {
  xmlSetStructuredErrorFunc(savedContext_, savedHandler_);
  xmlSetGenericErrorFunc(savedGenericContext_, savedGeneric_);
}

XmlLocalLoadScope::XmlLocalLoadScope() : previous_(localLoadsAllowed) {
  InitXmlLibrary();
  localLoadsAllowed = true;
}

XmlLocalLoadScope::~XmlLocalLoadScope() { localLoadsAllowed = previous_; }

// ---------------------------------------------------------------- XmlNode

std::string XmlNode::NodeName() const {
  if (node_ == nullptr) return {};
  return QualifiedName(node_->ns != nullptr ? node_->ns->prefix : nullptr, node_->name);
}

std::optional<std::string> XmlNode::Attribute(std::string_view name) const {
  if (node_ == nullptr || node_->type != XML_ELEMENT_NODE) return std::nullopt;
  // Walk the attributes directly: xmlHasProp may hand back a DTD declaration
  // in place of an attribute, and xmlGetProp would expand entity references.
  for (xmlAttrPtr attr = node_->properties; attr != nullptr; attr = attr->next) {
    if (QualifiedName(attr->ns != nullptr ? attr->ns->prefix : nullptr, attr->name) != name) continue;
    std::string value;
    for (xmlNodePtr part = attr->children; part != nullptr; part = part->next) {
      if (part->type == XML_TEXT_NODE && part->content != nullptr) value += FromXml(part->content);
    }
    return value;
  }
  return std::nullopt;
}

void XmlNode::SetAttribute(std::string_view name, std::string_view value) {
  if (node_ == nullptr) throw Error("Cannot set attribute '" + std::string(name) + "' of a null node");
  const std::string n(name);
  const std::string v(value);
  if (xmlSetProp(node_, Xml(n), Xml(v)) == nullptr) {
    throw Error("Cannot set attribute '" + n + "'");
  }
}

void XmlNode::SetAttribute(std::string_view name, std::int64_t value) {
  SetAttribute(name, std::string_view(std::to_string(value)));
}

std::optional<std::string> XmlNode::NodeValue() const {
  const std::optional<std::string_view> text = NodeText();
  if (!text) return std::nullopt;
  return std::string(*text);
}

std::optional<std::string_view> XmlNode::NodeText() const {
  if (node_ == nullptr) return std::nullopt;
  xmlNodePtr text = node_;
  if (node_->type == XML_ELEMENT_NODE) {
    text = node_->children;
    if (text == nullptr) return std::nullopt;
    if (text->next != nullptr ||
        (text->type != XML_TEXT_NODE && text->type != XML_CDATA_SECTION_NODE)) {
      throw Error("Element does not contain a single text node");
    }
  }
  if (text->content == nullptr || *text->content == 0) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(text->content));
}

int XmlNode::ChildCount() const {
  if (node_ == nullptr) return 0;
  int count = 0;
  for (xmlNodePtr child = node_->children; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) ++count;
  }
  return count;
}

XmlNode XmlNode::ChildAt(int index) const {
  xmlNodePtr child = node_ != nullptr ? ElementChild(node_, index) : nullptr;
  if (child == nullptr) ThrowIndexError(index);
  return XmlNode(child);
}

void XmlNode::DeleteChild(int index) {
  xmlNodePtr child = node_ != nullptr ? ElementChild(node_, index) : nullptr;
  if (child == nullptr) ThrowIndexError(index);
  xmlUnlinkNode(child);
  xmlFreeNode(child);
}

XmlNode XmlNode::FindNode(std::string_view name) const {
  if (node_ == nullptr) return {};
  const xmlChar* parentNs = NamespaceUri(node_);
  for (xmlNodePtr child = node_->children; child != nullptr; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    if (!xmlStrEqual(NamespaceUri(child), parentNs)) continue;
    if (FromXml(child->name) == name ||
        QualifiedName(child->ns != nullptr ? child->ns->prefix : nullptr, child->name) == name) {
      return XmlNode(child);
    }
  }
  return {};
}

XmlNode XmlNode::AddChild(std::string_view name, int index) {
  if (node_ == nullptr) throw Error("Cannot add element '" + std::string(name) + "' to a null node");
  const int count = ChildCount();
  if (index < -1 || index > count) ThrowIndexError(index);
  const std::string n(name);
  xmlNodePtr child = xmlNewDocNode(node_->doc, node_->ns, Xml(n), nullptr);
  if (child == nullptr) throw Error("Cannot create element '" + n + "'");
  xmlNodePtr added = nullptr;
  if (index == -1 || index == count) {
    added = xmlAddChild(node_, child);
  } else {
    added = xmlAddPrevSibling(ElementChild(node_, index), child);
  }
  if (added == nullptr) {
    xmlFreeNode(child);
    throw Error("Cannot add element '" + n + "'");
  }
  return XmlNode(added);
}

// ---------------------------------------------------------------- XmlDocument

XmlDocument XmlDocument::Parse(std::string_view bytes, std::string_view url,
                               std::optional<std::size_t> treeBytes) {
  InitXmlLibrary();
  RefuseOversizeDocument(bytes);
  // A bounded parse reads the bytes as UTF-8 only (a declared encoding is
  // ignored, a zero byte of a wide encoding refused).
  RefuseBeforeParse(bytes, treeBytes.has_value());
  CHandle<xmlParserCtxt, xmlFreeParserCtxt> ctxt(xmlNewParserCtxt());
  if (!ctxt) throw std::bad_alloc();
  // The handler belongs to this parser context. For the parse's length the
  // errors raised without a context (a byte the declared encoding cannot
  // convert) go to the same record, so nothing reaches stderr.
  ParseWatch watch;
  WatchParse(*ctxt, watch);
  const XmlErrorScope unowned(&watch.first, &XmlFirstError::Collect);
  xmlDocPtr doc = nullptr;
  if (treeBytes) {
    doc = ParseBounded(*ctxt, watch, bytes, *treeBytes);
  } else {
    const std::string urlText(url);
    static const char kEmpty[] = "";
    doc = xmlCtxtReadMemory(ctxt.get(), bytes.empty() ? kEmpty : bytes.data(),
                            static_cast<int>(bytes.size()),
                            urlText.empty() ? nullptr : urlText.c_str(), nullptr, kXmlParseOptions);
  }
  XmlDocument result{doc};
  if (watch.refusal != nullptr) throw XmlParseError(bytes, watch.refusal, watch.refusalLine);
  // libxml2 stops short without calling the document malformed when a text
  // outgrows its limit; the part it read is not the document.
  if (doc == nullptr || !ctxt->wellFormed || ctxt->disableSAX) {
    throw watch.first.ParseError(bytes, *ctxt);
  }
  if (xmlDocGetRootElement(doc) == nullptr) throw XmlParseError(bytes, "Document is empty", 1);
  return result;
}

XmlDocument XmlDocument::ParseText(std::string_view text) {
  const std::size_t zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  std::string normal;
  normal.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      normal += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      normal += "\r\n";
    } else {
      normal += c;
    }
  }
  return Parse(normal);
}

XmlDocument XmlDocument::LoadFile(std::string_view path) {
  return Parse(FileToString(path), path);
}

XmlDocument XmlDocument::Create(std::string_view rootName) {
  InitXmlLibrary();
  XmlDocument result{xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"))};
  if (!result.doc_) throw std::bad_alloc();
  const std::string name(rootName);
  xmlNodePtr root = xmlNewDocNode(result.doc_.get(), nullptr, Xml(name), nullptr);
  if (root == nullptr) throw Error("Cannot create element '" + name + "'");
  xmlDocSetRootElement(result.doc_.get(), root);
  return result;
}

XmlNode XmlDocument::Root() const { return XmlNode(xmlDocGetRootElement(doc_.get())); }

std::string XmlDocument::Text() const {
  const char* declared = reinterpret_cast<const char*>(doc_->encoding);
  // Without an explicit name libxml2 writes no encoding and escapes every
  // non-ASCII character; wide encodings are written as UTF-8.
  const char* encoding = (declared == nullptr || IsWideEncoding(declared)) ? "UTF-8" : declared;
  xmlChar* raw = nullptr;
  int size = 0;
  XmlFirstError first;
  {
    const XmlErrorScope unowned(&first, &XmlFirstError::Collect);
    xmlDocDumpMemoryEnc(doc_.get(), &raw, &size, encoding);
  }
  CHandle<xmlChar, [](xmlChar* text) { xmlFree(text); }> dumped(raw);
  if (!dumped || size < 0) {
    std::string message = std::string("Cannot serialise the XML document in encoding ") + encoding;
    if (first.set()) message += ": " + first.message();
    throw Error(message);
  }
  // libxml2 never writes a raw CR (it escapes CR as &#13;), so every LF is a
  // line end.
  const std::string_view lf(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(size));
  std::string text;
  text.reserve(lf.size() + lf.size() / 16 + 2);
  for (const char c : lf) {
    if (c == '\n') text += '\r';
    text += c;
  }
  return text;
}

// ---------------------------------------------------------------- conversions

std::int64_t ToInteger(const std::optional<std::string>& value) {
  if (!value) throw Error("Could not convert Null into an integer");
  const std::optional<std::int64_t> number = ParseDecimal(TrimWhiteSpace(*value));
  if (!number) throw Error("'" + *value + "' is not a valid integer value");
  return *number;
}

std::string ToText(const std::optional<std::string>& value) {
  if (!value) throw Error("Could not convert Null into text");
  return *value;
}

}  // namespace orx
