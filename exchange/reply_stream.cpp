#include "exchange/reply_stream.h"

#include <new>

#include "support/error.h"
#include "support/xml_parse_guard.h"

namespace orx {
namespace {

const char* Text(const xmlChar* text) { return reinterpret_cast<const char*>(text); }

bool IsText(int type) {
  return type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA ||
         type == XML_READER_TYPE_WHITESPACE || type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE;
}

}  // namespace

ReplyStream::ReplyStream(std::string_view reply) : bytes_(reply) {
  InitXmlLibrary();
  RefuseOversizeDocument(reply);
  RefuseBeforeParse(reply, true);
  static const char kEmpty[] = "";
  // Read as UTF-8 whatever the declaration says, with libxml2's own limits
  // (a text or a value of at most 10 MB, names of at most 10 MB in all,
  // entities that cannot multiply a document).
  reader_.reset(xmlReaderForMemory(reply.empty() ? kEmpty : reply.data(),
                                   static_cast<int>(reply.size()), nullptr, "UTF-8",
                                   kXmlParseOptions | XML_PARSE_IGNORE_ENC));
  if (!reader_) throw std::bad_alloc();
  xmlTextReaderSetStructuredErrorHandler(reader_.get(), &XmlFirstError::Collect, &first_);
}

void ReplyStream::Fail() const {
  if (first_.set()) throw XmlParseError(bytes_, first_.message(), first_.line());
  throw XmlParseError(bytes_, kUnparsedDocument, 0);
}

bool ReplyStream::NextElement() {
  if (start_ && endPending_) {
    // An empty element ends where it starts.
    start_ = false;
    endPending_ = false;
    return true;
  }
  for (;;) {
    const int read = xmlTextReaderRead(reader_.get());
    if (read < 0) Fail();
    if (read == 0) {
      if (!sawElement_) throw XmlParseError(bytes_, "Document is empty", 1);
      return false;
    }
    const int type = xmlTextReaderNodeType(reader_.get());
    if (type == XML_READER_TYPE_ELEMENT) {
      start_ = true;
      sawElement_ = true;
      endPending_ = xmlTextReaderIsEmptyElement(reader_.get()) == 1;
      return true;
    }
    if (type == XML_READER_TYPE_END_ELEMENT) {
      start_ = false;
      return true;
    }
  }
}

int ReplyStream::Depth() const { return xmlTextReaderDepth(reader_.get()); }

std::string_view ReplyStream::Name() const {
  const xmlChar* name = xmlTextReaderConstName(reader_.get());
  return name != nullptr ? Text(name) : "";
}

std::string_view ReplyStream::LocalName() const {
  const xmlChar* name = xmlTextReaderConstLocalName(reader_.get());
  return name != nullptr ? Text(name) : "";
}

std::optional<std::string_view> ReplyStream::NamespaceUri() const {
  const xmlChar* uri = xmlTextReaderConstNamespaceUri(reader_.get());
  if (uri == nullptr) return std::nullopt;
  return std::string_view(Text(uri));
}

std::optional<std::string> ReplyStream::Attribute(const std::string& name) const {
  const CHandle<xmlChar, [](xmlChar* text) { xmlFree(text); }> value(
      xmlTextReaderGetAttribute(reader_.get(), reinterpret_cast<const xmlChar*>(name.c_str())));
  if (!value) return std::nullopt;
  return std::string(Text(value.get()));
}

std::optional<std::string> ReplyStream::ElementText() {
  if (endPending_) {
    start_ = false;
    endPending_ = false;
    return std::nullopt;
  }
  const int depth = Depth();
  int children = 0;
  bool single = true;
  std::string text;
  for (;;) {
    const int read = xmlTextReaderRead(reader_.get());
    if (read <= 0) Fail();
    const int type = xmlTextReaderNodeType(reader_.get());
    const int at = Depth();
    if (type == XML_READER_TYPE_END_ELEMENT && at == depth) break;
    if (at != depth + 1 || type == XML_READER_TYPE_END_ELEMENT) continue;
    if (++children == 1 && IsText(type)) {
      const xmlChar* value = xmlTextReaderConstValue(reader_.get());
      if (value != nullptr) text = Text(value);
    } else {
      single = false;
    }
  }
  start_ = false;
  if (children == 0) return std::nullopt;
  if (!single) throw Error("Element does not contain a single text node");
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace orx
