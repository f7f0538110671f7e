#include "package/schema_validation.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/schemasInternals.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "package/source_document.h"
#include "support/error.h"
#include "support/files.h"
#include "support/kelma_win.h"
#include "support/unique_fd.h"
#include "support/xml_document.h"

namespace orx {
namespace {

constexpr std::string_view kInvalidDocument = "xml не прошел проверку";

// The first error as one line of text naming the line of the document
// where it was found; nothing when none was reported.
std::optional<std::string> Reason(const XmlFirstError& error) {
  if (!error.set()) return std::nullopt;
  std::string text = error.message().empty() ? "Unknown error" : error.message();
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (error.line() > 0) text += " (строка " + std::to_string(error.line()) + ")";
  return text;
}

// libxml2 reports parser errors through a per-thread handler; this routes
// them to one XmlFirstError for the lifetime of the object and puts the
// previous handler back afterwards.
class ScopedErrorHandler {
 public:
  explicit ScopedErrorHandler(XmlFirstError& sink)
      : savedHandler_(xmlStructuredError), savedContext_(xmlStructuredErrorContext) {
    xmlSetStructuredErrorFunc(&sink, &XmlFirstError::Collect);
  }
  ~ScopedErrorHandler() { xmlSetStructuredErrorFunc(savedContext_, savedHandler_); }
  ScopedErrorHandler(const ScopedErrorHandler&) = delete;
  ScopedErrorHandler& operator=(const ScopedErrorHandler&) = delete;

 private:
  xmlStructuredErrorFunc savedHandler_;
  void* savedContext_;
};

struct SchemaParserFree {
  void operator()(xmlSchemaParserCtxtPtr p) const noexcept { xmlSchemaFreeParserCtxt(p); }
};
struct SchemaFree {
  void operator()(xmlSchemaPtr p) const noexcept { xmlSchemaFree(p); }
};
struct ValidCtxtFree {
  void operator()(xmlSchemaValidCtxtPtr p) const noexcept { xmlSchemaFreeValidCtxt(p); }
};

// A compiled schema and the document it was compiled from (the schema refers
// into it, so the document must outlive it).
class CompiledSchema {
 public:
  explicit CompiledSchema(const std::string& xsdPath)
      : document_(XmlDocument::Parse(FileToString(xsdPath), xsdPath)) {
    XmlFirstError error;
    {
      // A schema may include or import files beside it; documents never may.
      XmlLocalLoadScope localFiles;
      ScopedErrorHandler handler(error);
      std::unique_ptr<xmlSchemaParserCtxt, SchemaParserFree> parser(
          xmlSchemaNewDocParserCtxt(document_.get()));
      if (!parser) throw std::bad_alloc();
      xmlSchemaSetParserStructuredErrors(parser.get(), &XmlFirstError::Collect, &error);
      schema_.reset(xmlSchemaParse(parser.get()));
    }
    if (!schema_) {
      throw Error(Reason(error).value_or("The schema \"" + xsdPath + "\" cannot be compiled"));
    }
    const char* found = reinterpret_cast<const char*>(schema_->targetNamespace);
    if (found == nullptr) {
      throw Error("The schema has no target namespace, expected '" +
                  std::string(CertNamespaceUri) + "'");
    }
    if (CertNamespaceUri != found) {
      throw Error("The schema's target namespace is '" + std::string(found) + "', expected '" +
                  std::string(CertNamespaceUri) + "'");
    }
  }

  xmlSchemaPtr get() const { return schema_.get(); }

 private:
  XmlDocument document_;
  std::unique_ptr<xmlSchema, SchemaFree> schema_;
};

int ReadChunk(void* context, char* buffer, int length) {
  const int fd = *static_cast<const int*>(context);
  for (;;) {
    const ssize_t got = ::read(fd, buffer, static_cast<size_t>(length));
    if (got >= 0) return static_cast<int>(got);
    if (errno != EINTR) return -1;
  }
}

int KeepOpen(void*) { return 0; }

// Streams the document through the validating parser. Returns the reason for
// the first error, or nothing when the document is valid.
std::optional<std::string> FirstProblem(const CompiledSchema& schema, const std::string& xmlPath) {
  XmlFirstError error;
  const UniqueFd file(::open(xmlPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return CannotOpen(xmlPath, errno).what();
  std::unique_ptr<xmlSchemaValidCtxt, ValidCtxtFree> validator(xmlSchemaNewValidCtxt(schema.get()));
  if (!validator) throw std::bad_alloc();
  xmlSchemaSetValidStructuredErrors(validator.get(), &XmlFirstError::Collect, &error);

  int fd = file.get();
  // xmlSchemaValidateStream takes the buffer over and frees it.
  xmlParserInputBufferPtr input =
      xmlParserInputBufferCreateIO(&ReadChunk, &KeepOpen, &fd, XML_CHAR_ENCODING_NONE);
  if (input == nullptr) throw std::bad_alloc();
  int result = 0;
  {
    ScopedErrorHandler handler(error);
    result = xmlSchemaValidateStream(validator.get(), input, XML_CHAR_ENCODING_NONE, nullptr, nullptr);
  }
  if (result != 0 && !error.set()) {
    return "The document is not valid (code " + std::to_string(result) + ")";
  }
  return Reason(error);
}

}  // namespace

bool ValidateXmlBySchema(JobContext& context, std::string_view xmlPath, std::string_view xsdPath) {
  const std::string expandedXml = ExpandEnvVars(xmlPath);
  const std::string expandedXsd = ExpandEnvVars(xsdPath);
  const CompiledSchema schema(expandedXsd);
  const std::optional<std::string> problem = FirstProblem(schema, expandedXml);
  if (!problem) return true;
  context.log.Append(*problem);
  LogEvent(context.events, kDefaultEventSource, EventType::Error, kCategoryJob,
           kEventOperationFailed, {std::string(kInvalidDocument), *problem});
  return false;
}

}  // namespace orx
