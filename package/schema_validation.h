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

  // Streams the document through the validating parser, without building a
  // tree, and hands report every error in document order (warnings are left
  // out). With lines (the stamping's record of the operator's file) a
  // problem names the operator's line; without, the document's own line.
  // A file that cannot be read or a document that is not well-formed is a
  // problem too. Returns how many were reported; what report throws is
  // thrown again once the parser has stopped.
  std::uint64_t CheckFile(const std::string& path, const SourceLineMap* lines,
                          const SchemaProblemSink& report) const;
  std::uint64_t CheckText(std::string_view text, const SourceLineMap* lines,
                          const SchemaProblemSink& report) const;
  // As CheckText, the document coming from read, which puts up to length
  // bytes into buffer and returns how many, 0 at the end. What read throws
  // is thrown again once the parser has stopped.
  using Reader = std::function<std::size_t(char* buffer, std::size_t length)>;
  std::uint64_t CheckStream(const Reader& read, const SourceLineMap* lines,
                            const SchemaProblemSink& report) const;
  // The first problem of the document coming through relay while it is
  // being written, or nothing when it is valid. Reads no further after the
  // first problem (the writer then no longer waits). Its line is the
  // document's own until NameOperatorsLine names it.
  [[nodiscard]] std::optional<SchemaProblem> FirstProblem(TextRelay& relay) const;

 private:
  class Compiled;
  std::unique_ptr<Compiled> compiled_;
};

// Expands environment references in both paths and checks the document
// against the schema (SchemaChecker).
//
// Returns true when the document is well-formed and valid; nothing is written
// then. Returns false when the document cannot be read, is not well-formed or
// is not valid, after appending one line to the log pane (the reason for the
// first error, then " (строка N)" with its line when known) and writing one
// event record ("ОРХ РФ", "xml не прошел проверку", that line).
//
// Schema failures throw as SchemaChecker does.
[[nodiscard]] bool ValidateXmlBySchema(JobContext& context, std::string_view xmlPath, std::string_view xsdPath,
                         const SourceLineMap* lines = nullptr);

// The log-pane line and the event record ValidateXmlBySchema writes for a
// document that is not valid.
void ReportInvalidDocument(JobContext& context, const SchemaProblem& problem);

}  // namespace orx
