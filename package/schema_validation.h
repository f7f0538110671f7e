#pragma once
// Checks a source document against the XML Schema of its document kind.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "package/job_context.h"
#include "package/source_lines.h"
#include "package/text_relay.h"

namespace orx {

// One error the validator found: its reason on one line, and the line of the
// operator's file where it was found, when that is known.
struct SchemaProblem {
  std::string reason;
  std::optional<std::uint32_t> line = {};
  // Where the validator stood when it found the problem: the number of the
  // stamped copy's tag concerned, and the copy's own line.
  std::optional<std::uint64_t> tag = {};
  std::optional<std::uint32_t> documentLine = {};
};
using SchemaProblemSink = std::function<void(const SchemaProblem&)>;

// What an error libxml2 reports while it checks a document says: a problem
// of the document, or a failure of the check itself (memory ran out, the
// text could not be read, the validator broke), which is no verdict on the
// document and fails the job instead ("недостаточно памяти", ...). domain,
// code and message are those of libxml2's xmlError.
enum class CheckFault { Problem, OutOfMemory, ReadFailure, Internal };
CheckFault ClassifyCheckError(int domain, int code, const char* message);

// Names the line of a problem found without the record of the operator's
// lines (the stamping was still writing it), as it would have been named
// with the finished record.
void NameOperatorsLine(SchemaProblem& problem, const SourceLineMap* lines);

// A schema compiled once for any number of documents. Its target namespace
// must be CertNamespaceUri; local xs:include/xs:import files are read,
// nothing from the network. A schema that cannot be read, is not a schema,
// or has another target namespace throws Error with the parser's message.
class SchemaChecker {
 public:
  explicit SchemaChecker(const std::string& xsdPath);
  ~SchemaChecker();
  SchemaChecker(const SchemaChecker&) = delete;
  SchemaChecker& operator=(const SchemaChecker&) = delete;

  // Streams the document coming through relay, while it is being written,
  // through the validating parser without building a tree, and hands report
  // every error in document order (warnings are left out). A document that
  // is not well-formed, or a text the writer abandoned, is a problem too.
  // report may stop the reading (relay.StopReading()); the writer then no
  // longer waits, and whatever the parser says after is still reported.
  // A problem names the document's own line until NameOperatorsLine names
  // the operator's. Returns how many were reported; what report throws is
  // thrown again once the parser has stopped. The relay is stopped on return.
  std::uint64_t Check(TextRelay& relay, const SchemaProblemSink& report) const;
  // The same for a finished text held in memory (a package's entry).
  std::uint64_t CheckText(std::string_view text, const SchemaProblemSink& report) const;
  // As CheckText, the document coming from read, which puts up to length
  // bytes into buffer and returns how many, 0 at the end. What read throws
  // is thrown again once the parser has stopped.
  using Reader = std::function<std::size_t(char* buffer, std::size_t length)>;
  std::uint64_t CheckStream(const Reader& read, const SchemaProblemSink& report) const;

 private:
  class Compiled;
  std::unique_ptr<Compiled> compiled_;
};

// The log-pane line and the event record of a document that is not valid:
// the reason, then " (строка N)" with its line when known; one record
// ("ОРХ РФ", "xml не прошел проверку", that line).
void ReportInvalidDocument(JobContext& context, const SchemaProblem& problem);

}  // namespace orx
