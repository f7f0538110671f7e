#include "package/schema_validation.h"

#include <libxml/parser.h>
#include <libxml/schemasInternals.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "package/cert_namespace.h"
#include "support/c_handle.h"
#include "support/error.h"
#include "support/files.h"
#include "support/xml_document.h"
#include "support/xml_reason_wording.h"

namespace orx {
namespace {

constexpr std::string_view kInvalidDocument = "xml не прошел проверку";

// A libxml2 message as the operator reads it, on one line.
std::string OneLine(std::string_view message) {
  std::string text = XmlReasonWording(message);
  if (text.empty()) text = "Unknown error";
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::exception_ptr FaultFailure(CheckFault fault, const char* message) {
  const std::string detail = message != nullptr ? ": " + OneLine(message) : "";
  switch (fault) {
    case CheckFault::OutOfMemory:
      return std::make_exception_ptr(std::bad_alloc());
    case CheckFault::ReadFailure:
      return std::make_exception_ptr(Error("Документ не прочитан при проверке по схеме" + detail));
    default:
      return std::make_exception_ptr(Error("Проверка по схеме прервана внутренней ошибкой" + detail));
  }
}

// Every error libxml2 reports while one document is validated, as problems
// naming a line. The validator hears of each start and end tag before it
// checks it, so the tags counted so far tell where in the document it stands.
class ProblemCollector {
 public:
  explicit ProblemCollector(const SchemaProblemSink& report) : report_(report) {}

  static void Collect(void* self, xmlErrorPtr error) {
    static_cast<ProblemCollector*>(self)->Take(error);
  }

  static void CountTag(void* self, const xmlChar*, const xmlChar*, const xmlChar*, int,
                       const xmlChar**, int, int, const xmlChar**) {
    ++static_cast<ProblemCollector*>(self)->tags_;
  }
  static void CountEndTag(void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
    ++static_cast<ProblemCollector*>(self)->tags_;
  }

  void Take(const xmlError* error) {
    if (error == nullptr || error->level < XML_ERR_ERROR || failure_) return;
    // Running out of memory or failing to read says nothing of the document:
    // the job fails instead. Once a problem is reported the verdict stands,
    // and a reader that stopped after it makes the parser complain as well.
    if (const CheckFault fault = ClassifyCheckError(error->domain, error->code, error->message);
        fault != CheckFault::Problem) {
      if (count_ == 0) failure_ = FaultFailure(fault, error->message);
      return;
    }
    std::string text = OneLine(error->message ? error->message : "");
    // libxml2 raises this note on a value it has already reported as an error.
    if (text.find(": Warning: ") != std::string::npos) return;
    SchemaProblem problem{std::move(text)};
    // A validity error concerns the tag just read; a parse error the next.
    const bool validity = error->domain == XML_FROM_SCHEMASV;
    problem.tag = validity && tags_ > 0 ? tags_ - 1 : tags_;
    if (error->line > 0) problem.documentLine = static_cast<std::uint32_t>(error->line);
    NameOperatorsLine(problem, nullptr);
    Report(problem);
  }

  // A problem libxml2 gave no error for.
  void Add(std::string reason) { Report({std::move(reason), std::nullopt}); }

  std::uint64_t count() const { return count_; }
  void RethrowFailure() const {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  // Nothing may unwind through libxml2.
  void Report(const SchemaProblem& problem) noexcept {
    if (failure_) return;
    ++count_;
    try {
      report_(problem);
    } catch (...) {
      failure_ = std::current_exception();
    }
  }

  const SchemaProblemSink& report_;
  std::uint64_t tags_ = 0;
  std::uint64_t count_ = 0;
  std::exception_ptr failure_;
};

// The first error as one line of text naming the line of the document
// where it was found, for the schema's own compile errors.
std::optional<std::string> Reason(const XmlFirstError& error) {
  if (!error.set()) return std::nullopt;
  std::string text = OneLine(error.message());
  if (error.line() > 0) text += " (строка " + std::to_string(error.line()) + ")";
  return text;
}

}  // namespace

// A compiled schema and the document it was compiled from (the schema refers
// into it, so the document must outlive it).
class SchemaChecker::Compiled {
 public:
  explicit Compiled(const std::string& xsdPath)
      : document_(XmlDocument::Parse(FileToString(xsdPath), xsdPath)) {
    XmlFirstError error;
    {
      // A schema may include or import files beside it; documents never may.
      XmlLocalLoadScope localFiles;
      const XmlErrorScope handler(&error, &XmlFirstError::Collect);
      CHandle<xmlSchemaParserCtxt, xmlSchemaFreeParserCtxt> parser(
          xmlSchemaNewDocParserCtxt(document_.get()));
      if (!parser) throw std::bad_alloc();
      xmlSchemaSetParserStructuredErrors(parser.get(), &XmlFirstError::Collect, &error);
      schema_.reset(xmlSchemaParse(parser.get()));
    }
    if (!schema_) {
      throw Error(Reason(error).value_or("Не удалось скомпилировать схему \"" + xsdPath + "\""));
    }
    const char* found = reinterpret_cast<const char*>(schema_->targetNamespace);
    if (found == nullptr) {
      throw Error("У схемы нет целевого пространства имён, ожидается '" +
                  std::string(CertNamespaceUri) + "'");
    }
    if (CertNamespaceUri != found) {
      throw Error("Целевое пространство имён схемы '" + std::string(found) + "', ожидается '" +
                  std::string(CertNamespaceUri) + "'");
    }
  }

  xmlSchemaPtr get() const { return schema_.get(); }

 private:
  XmlDocument document_;
  CHandle<xmlSchema, xmlSchemaFree> schema_;
};

namespace {

int KeepOpen(void*) { return 0; }

int ReadText(void* context, char* buffer, int length) {
  auto& rest = *static_cast<std::string_view*>(context);
  const std::size_t n = std::min(rest.size(), static_cast<std::size_t>(length));
  std::memcpy(buffer, rest.data(), n);
  rest.remove_prefix(n);
  return static_cast<int>(n);
}

// A Reader as a libxml2 input, holding what it threw until the parser has
// stopped.
struct ReaderInput {
  const SchemaChecker::Reader& read;
  std::exception_ptr failure;

  static int Read(void* context, char* buffer, int length) {
    auto& self = *static_cast<ReaderInput*>(context);
    try {
      return static_cast<int>(self.read(buffer, static_cast<std::size_t>(length)));
    } catch (...) {
      self.failure = std::current_exception();
      return -1;
    }
  }
};

// Runs the validating parser over input (which it takes over and frees).
std::uint64_t Validate(xmlSchemaPtr schema, xmlParserInputBufferPtr input,
                       const SchemaProblemSink& report) {
  if (input == nullptr) throw std::bad_alloc();
  CHandle<xmlSchemaValidCtxt, xmlSchemaFreeValidCtxt> validator(xmlSchemaNewValidCtxt(schema));
  if (!validator) {
    xmlFreeParserInputBuffer(input);
    throw std::bad_alloc();
  }
  ProblemCollector problems(report);
  xmlSchemaSetValidStructuredErrors(validator.get(), &ProblemCollector::Collect, &problems);
  // The validator passes every tag on to these handlers first.
  xmlSAXHandler counting{};
  counting.initialized = XML_SAX2_MAGIC;
  counting.startElementNs = &ProblemCollector::CountTag;
  counting.endElementNs = &ProblemCollector::CountEndTag;
  int result = 0;
  {
    const XmlErrorScope handler(&problems, &ProblemCollector::Collect);
    result = xmlSchemaValidateStream(validator.get(), input, XML_CHAR_ENCODING_NONE, &counting,
                                     &problems);
  }
  problems.RethrowFailure();
  if (result < 0 && problems.count() == 0) {
    // The validator could not do its work; that is no verdict either.
    throw Error("Проверка по схеме прервана внутренней ошибкой (код " + std::to_string(result) + ")");
  }
  if (result != 0 && problems.count() == 0) {
    problems.Add("Документ не соответствует схеме (код " + std::to_string(result) + ")");
    problems.RethrowFailure();
  }
  return problems.count();
}

}  // namespace

SchemaChecker::SchemaChecker(const std::string& xsdPath)
    : compiled_(std::make_unique<Compiled>(xsdPath)) {}

SchemaChecker::~SchemaChecker() = default;

std::uint64_t SchemaChecker::Check(TextRelay& relay, const SchemaProblemSink& report) const {
  const StopReadingOnExit stop(relay);
  return Validate(compiled_->get(),
                  xmlParserInputBufferCreateIO(&TextRelay::ReadCallback, &KeepOpen, &relay,
                                               XML_CHAR_ENCODING_NONE),
                  report);
}

std::uint64_t SchemaChecker::CheckText(std::string_view text,
                                       const SchemaProblemSink& report) const {
  std::string_view rest = text;
  return Validate(compiled_->get(),
                  xmlParserInputBufferCreateIO(&ReadText, &KeepOpen, &rest, XML_CHAR_ENCODING_NONE),
                  report);
}

std::uint64_t SchemaChecker::CheckStream(const Reader& read,
                                         const SchemaProblemSink& report) const {
  ReaderInput input{read, nullptr};
  // The parser's complaint about the failed read is not the document's, and
  // the reader's own failure is the one to tell.
  std::uint64_t problems = 0;
  try {
    problems = Validate(
        compiled_->get(),
        xmlParserInputBufferCreateIO(&ReaderInput::Read, &KeepOpen, &input, XML_CHAR_ENCODING_NONE),
        [&](const SchemaProblem& problem) {
          if (!input.failure) report(problem);
        });
  } catch (...) {
    if (!input.failure) throw;
  }
  if (input.failure) std::rethrow_exception(input.failure);
  return problems;
}

CheckFault ClassifyCheckError(int domain, int code, const char* message) {
  // libxml2 that cannot allocate the text of a message passes none.
  if (code == XML_ERR_NO_MEMORY || domain == XML_FROM_MEMORY || message == nullptr ||
      *message == '\0') {
    return CheckFault::OutOfMemory;
  }
  if (domain == XML_FROM_IO) return CheckFault::ReadFailure;
  if (code == XML_SCHEMAV_INTERNAL || code == XML_ERR_INTERNAL_ERROR) return CheckFault::Internal;
  return CheckFault::Problem;
}

void NameOperatorsLine(SchemaProblem& problem, const SourceLineMap* lines) {
  if (lines != nullptr && !lines->empty()) {
    problem.line = problem.tag ? lines->LineOfStampedTag(*problem.tag) : std::nullopt;
  } else {
    problem.line = problem.documentLine;
  }
}

void ReportInvalidDocument(JobContext& context, const SchemaProblem& problem) {
  std::string line = problem.reason;
  if (problem.line) line += " (строка " + std::to_string(*problem.line) + ")";
  context.log.Append(line);
  NoteFailure(context, line);
  LogEvent(context.events, kDefaultEventSource, EventType::Error, kCategoryJob,
           kEventOperationFailed, {std::string(kInvalidDocument), line});
}

}  // namespace orx
