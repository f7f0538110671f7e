#include "package/stamped_source.h"

#include <fcntl.h>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "support/c_handle.h"
#include "package/line_end_streams.h"
#include "package/cert_namespace.h"
#include "package/source_lines.h"
#include "support/error.h"
#include "support/files.h"
#include "support/version.h"
#include "support/xml_document.h"
#include "support/xml_parse_guard.h"

namespace orx {
namespace {


int AppendToString(void* text, const char* data, int length) noexcept {
  try {
    static_cast<std::string*>(text)->append(data, static_cast<std::size_t>(length));
    return length;
  } catch (...) {
    return -1;
  }
}

using SavePtr = CHandle<xmlSaveCtxt, xmlSaveClose>;

void FreeParserAndDocument(xmlParserCtxtPtr ctxt) {
  if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);
  xmlFreeParserCtxt(ctxt);
}

// Declared first on the root, the default namespace is written right after
// the root's name, before any other declaration or attribute.
void DeclareCertNamespace(xmlNodePtr root) {
  const std::string uri(CertNamespaceUri);
  xmlNsPtr ns = xmlNewNs(nullptr, reinterpret_cast<const xmlChar*>(uri.c_str()), nullptr);
  if (ns == nullptr) throw std::bad_alloc();
  ns->next = root->nsDef;
  root->nsDef = ns;
}

// Follows the parser's tree building: the prolog and the root's start tag go
// out when the root starts, each child of the root when it ends. Written
// children are freed, except the root's first and last child: the parser
// looks at exactly those two to decide whether whitespace is kept, so the
// output is what a whole tree would give.
class Stamper {
 public:
  Stamper(CrLfWriter& out, std::string_view dateOfCreate, SourceLineMap* lines)
      : out_(out), dateOfCreate_(dateOfCreate), lines_(lines) {}

  void Run(std::string_view bytes) {
    // The parser is given the text up to its first zero byte (NormalisedInput).
    RefuseBeforeParse(bytes.substr(0, bytes.find('\0')), false);
    bytes_ = bytes;
    NormalisedInput input(bytes);
    CHandle<xmlParserCtxt, FreeParserAndDocument> ctxt(xmlCreateIOParserCtxt(
        nullptr, nullptr, &NormalisedInput::Read, &NormalisedInput::Close, &input,
        XML_CHAR_ENCODING_NONE));
    if (!ctxt) throw std::bad_alloc();
    xmlCtxtUseOptions(ctxt.get(), kXmlParseOptions);
    ctxt->_private = this;
    ctxt->sax->startElementNs = &Stamper::StartElement;
    ctxt->sax->endElementNs = &Stamper::EndElement;
    ctxt->sax->attributeDecl = &Stamper::AttributeDecl;
    ctxt->sax->serror = &Stamper::ParseError;
    document_ = ctxt.get();
    xmlParseDocument(ctxt.get());
    document_ = nullptr;

    if (failure_) std::rethrow_exception(failure_);
    if (!ctxt->wellFormed || root_ == nullptr) {
      throw error_.ParseError(NormalisedInput::All(bytes), *ctxt);
    }
    WriteRootChildren();
    // An entity used twice is copied into the tree without telling its tags.
    if (lines_ != nullptr && lines_->size() != 2 * elements_) lines_->MarkInexact();
    out_.Write(rootEndTag_);
    out_.Write("\n");
    for (xmlNodePtr node = root_->next; node != nullptr; node = node->next) {
      xmlSaveTree(save_.get(), node);
      Flush();
      out_.Write("\n");
    }
    save_.reset();
    out_.Flush();
  }

 private:
  static Stamper& Of(void* ctx) {
    return *static_cast<Stamper*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
  }

  static void StartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                           const xmlChar* uri, int nbNamespaces, const xmlChar** namespaces,
                           int nbAttributes, int nbDefaulted, const xmlChar** attributes) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    Stamper& self = Of(ctx);
    if (self.Refused(ctxt, self.defaults_.Added(nbAttributes, nbDefaulted))) return;
    xmlSAX2StartElementNs(ctx, localname, prefix, uri, nbNamespaces, namespaces, nbAttributes,
                          nbDefaulted, attributes);
    self.RecordLine();
    if (self.root_ != nullptr || self.failure_ || ctxt->node == nullptr || ctxt->nodeNr != 1) return;
    self.root_ = ctxt->node;
    self.Guard(ctxt, [&] { self.BeginRoot(ctxt); });
  }

  static void EndElement(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                         const xmlChar* uri) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    Stamper& self = Of(ctx);
    self.RecordLine();
    const xmlNodePtr ending = ctxt->node;
    xmlSAX2EndElementNs(ctx, localname, prefix, uri);
    if (self.failure_ || self.root_ == nullptr || ending == nullptr || ending->parent != self.root_) return;
    self.Guard(ctxt, [&] {
      self.WriteRootChildren();
      self.DropWrittenChildren();
    });
  }

  static void AttributeDecl(void* ctx, const xmlChar* element, const xmlChar* name, int type,
                            int def, const xmlChar* defaultValue, xmlEnumerationPtr tree) {
    Stamper& self = Of(ctx);
    if (self.Refused(static_cast<xmlParserCtxtPtr>(ctx), self.defaults_.Declared(element, def, defaultValue))) {
      xmlFreeEnumeration(tree);  // the handler owns it
      return;
    }
    xmlSAX2AttributeDecl(ctx, element, name, type, def, defaultValue, tree);
  }

  // Stops the parse for a DTD's defaults (DefaultAttributeGuard) when there
  // is a reason.
  bool Refused(xmlParserCtxtPtr ctxt, const char* reason) {
    if (reason == nullptr) return false;
    if (!failure_) {
      failure_ = std::make_exception_ptr(
          XmlParseError(NormalisedInput::All(bytes_), reason, xmlSAX2GetLineNumber(ctxt)));
    }
    xmlStopParser(ctxt);
    return true;
  }

  // The first error decides the message, as when a whole document is parsed.
  static void ParseError(void* ctx, xmlErrorPtr error) { Of(ctx).error_.Take(error); }

  // The line of the operator's file the parser stands on. Elements of an
  // entity are parsed in a context of their own; they get the line of the
  // reference.
  void RecordLine() {
    if (lines_ == nullptr || failure_ || document_ == nullptr) return;
    const xmlParserInputPtr input = document_->inputNr > 0 ? document_->inputTab[0] : nullptr;
    if (input == nullptr) return;
    Guard(document_, [&] { lines_->Add(static_cast<std::uint32_t>(std::max(input->line, 1))); });
  }

  // Nothing may unwind through the parser: a failure stops it and is thrown
  // again once it has returned.
  template <typename Step>
  void Guard(xmlParserCtxtPtr ctxt, Step step) {
    try {
      step();
    } catch (...) {
      failure_ = std::current_exception();
      xmlStopParser(ctxt);
    }
  }

  void BeginRoot(xmlParserCtxtPtr ctxt) {
    xmlDocPtr doc = root_->doc;
    const char* declared = reinterpret_cast<const char*>(doc->encoding);
    if (declared == nullptr) declared = reinterpret_cast<const char*>(ctxt->encoding);
    if (declared == nullptr && ctxt->inputNr > 0 && ctxt->inputTab[0] != nullptr) {
      declared = reinterpret_cast<const char*>(ctxt->inputTab[0]->encoding);
    }
    encoding_ = (declared == nullptr || IsWideEncoding(declared)) ? "UTF-8" : declared;
    // Attribute values are written raw only when the document names its
    // encoding; a whole-document dump names the output encoding meanwhile.
    xmlChar* named = xmlStrdup(reinterpret_cast<const xmlChar*>(encoding_.c_str()));
    if (named == nullptr) throw std::bad_alloc();
    if (doc->encoding != nullptr) xmlFree(const_cast<xmlChar*>(doc->encoding));
    doc->encoding = named;
    // A document with an XHTML doctype is serialised by the XHTML rules.
    const xmlDtdPtr dtd = xmlGetIntSubset(doc);
    if (dtd != nullptr && xmlIsXHTML(dtd->SystemID, dtd->ExternalID) > 0) options_ = XML_SAVE_XHTML;

    save_.reset(xmlSaveToIO(&CrLfWriter::Callback, nullptr, &out_, encoding_.c_str(), options_));
    if (!save_) throw SerialiseError(encoding_);

    std::string declaration = "<?xml version=\"";
    declaration += doc->version != nullptr ? reinterpret_cast<const char*>(doc->version) : "1.0";
    declaration += "\" encoding=\"" + encoding_ + "\"";
    if (doc->standalone == 0) declaration += " standalone=\"no\"";
    if (doc->standalone == 1) declaration += " standalone=\"yes\"";
    declaration += "?>\n";
    out_.Write(declaration);
    for (xmlNodePtr node = doc->children; node != nullptr && node != root_; node = node->next) {
      xmlSaveTree(save_.get(), node);
      Flush();
      out_.Write("\n");
    }
    out_.Write(StampedStartTag());
  }

  // The root's start tag and the "arm" element, serialised from a childless
  // copy of the root; its end tag is kept for the end of the document.
  std::string StampedStartTag() {
    CHandle<xmlNode, xmlFreeNode> copy(xmlDocCopyNode(root_, root_->doc, 2));
    if (!copy) throw std::bad_alloc();
    XmlNode stamped(copy.get());
    stamped.AddChild("arm", 0).SetAttribute("lastKnownChange", std::int64_t{0});
    stamped.SetAttribute("version", "2.0");
    stamped.SetAttribute("name", "mcod");
    stamped.SetAttribute("ProgramFullVersion", kVersionText);
    stamped.SetAttribute("DateOfCreate", dateOfCreate_);
    DeclareCertNamespace(copy.get());

    std::string text;
    {
      SavePtr save(xmlSaveToIO(&AppendToString, nullptr, &text, encoding_.c_str(), options_));
      if (!save || xmlSaveTree(save.get(), copy.get()) < 0 || xmlSaveFlush(save.get()) < 0) {
        throw SerialiseError(encoding_);
      }
    }
    const auto end = text.rfind("</");
    if (end == std::string::npos) throw Error("Не удалось записать корневой элемент документа");
    rootEndTag_ = text.substr(end);
    text.erase(end);
    return text;
  }

  void WriteRootChildren() {
    xmlNodePtr node = lastWritten_ != nullptr ? lastWritten_->next : root_->children;
    for (; node != nullptr; node = node->next) {
      if (lines_ != nullptr) elements_ += CountElements(node);
      xmlSaveTree(save_.get(), node);
      lastWritten_ = node;
    }
    Flush();
  }

  static std::uint64_t CountElements(xmlNodePtr top) {
    std::uint64_t count = 0;
    for (xmlNodePtr node = top; node != nullptr;) {
      if (node->type == XML_ELEMENT_NODE) ++count;
      if (node->type == XML_ELEMENT_NODE && node->children != nullptr) {
        node = node->children;
        continue;
      }
      while (node != top && node->next == nullptr) node = node->parent;
      node = node == top ? nullptr : node->next;
    }
    return count;
  }

  void DropWrittenChildren() {
    const xmlNodePtr first = root_->children;
    if (first == nullptr) return;
    for (xmlNodePtr node = first->next; node != nullptr && node != lastWritten_;) {
      const xmlNodePtr next = node->next;
      xmlUnlinkNode(node);
      xmlFreeNode(node);
      node = next;
    }
  }

  void Flush() {
    if (xmlSaveFlush(save_.get()) < 0) {
      if (out_.failed()) out_.RethrowFailure();
      throw SerialiseError(encoding_);
    }
  }

  // Taken first and given up last, so that even closing the writer after a
  // failure ("flush error") reports here and not on standard error.
  XmlFirstError error_;
  XmlErrorScope unowned_{&error_, &XmlFirstError::Collect};
  CrLfWriter& out_;
  std::string dateOfCreate_;
  SourceLineMap* lines_;
  xmlParserCtxtPtr document_ = nullptr;
  std::uint64_t elements_ = 1;  // the root
  std::string encoding_;
  int options_ = 0;
  SavePtr save_;
  xmlNodePtr root_ = nullptr;
  xmlNodePtr lastWritten_ = nullptr;
  std::string rootEndTag_;
  std::exception_ptr failure_;
  std::string_view bytes_;
  DefaultAttributeGuard defaults_;
};

}  // namespace

std::string ReadCertificateXml(std::string_view path) {
  constexpr std::size_t kMostStreamed = std::size_t{256} << 20;
  return TextFileToString(path, kMostStreamed,
                          "Входной файл \"" + std::string(path) +
                              "\" - не обычный файл, и он не кончился за 256 МиБ: чтение прекращено");
}

void WriteStampedSource(std::string_view inputPath, const std::string& outputPath,
                        std::string_view dateOfCreate, SourceLineMap* lines, TextRelay* copy) {
  InitXmlLibrary();
  const std::string bytes = ReadCertificateXml(inputPath);
  std::string folder = ExtractDir(outputPath);
  if (folder.empty()) folder = ".";
  TempFile temp(folder, "SourceConvert", ".tmp");
  {
    CrLfWriter out(temp.fd(), outputPath);
    out.CopyTo(copy);
    Stamper(out, dateOfCreate, lines).Run(bytes);
  }
  if (!temp.Close()) throw StreamWriteError(outputPath, errno);
  if (::rename(temp.path().c_str(), outputPath.c_str()) != 0) throw CannotCreate(outputPath, errno);
  temp.Release();
}

void StreamStampedSource(std::string_view inputPath, std::string_view dateOfCreate,
                         SourceLineMap* lines, TextRelay& copy) {
  InitXmlLibrary();
  const std::string bytes = ReadCertificateXml(inputPath);
  CrLfWriter out;
  out.CopyTo(&copy);
  Stamper(out, dateOfCreate, lines).Run(bytes);
}

}  // namespace orx
