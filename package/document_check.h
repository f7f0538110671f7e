#pragma once
// How every job gets its source document: the certificate XML is stamped
// while a second thread checks the text against the schema as it is written,
// so the file is read once and the check costs little time of its own.
// XmlToCod, XmlToServer and the --check tool all prepare their document here.
#include <atomic>
#include <cstdint>
#include <future>
#include <string>
#include <string_view>
#include <vector>

#include "package/job_context.h"
#include "package/schema_validation.h"
#include "package/source_lines.h"
#include "package/text_relay.h"
#include "support/job_folder.h"

namespace orx {

class SourcePreparation {
 public:
  enum class Wanted { FirstProblem, EveryProblem };

  // Expands the environment references in xsdPath and starts the check on a
  // second thread, which compiles the schema and waits for the text. With
  // FirstProblem it reads no further after the first problem. Throws
  // std::system_error when no thread can be started.
  SourcePreparation(std::string_view xsdPath, Wanted wanted);
  // Never leaves the check waiting for text that will not come.
  ~SourcePreparation();
  SourcePreparation(const SourcePreparation&) = delete;
  SourcePreparation& operator=(const SourcePreparation&) = delete;

  // Stamps the certificate XML at xmlPath for the check. With a folder, as
  // GetFullSourceName does (recording its failures the same way), and
  // returns the path of the written SourceConvert.xml; without, the text
  // goes to the check alone, nothing is written or recorded, and the result
  // is empty. Call once.
  std::string Stamp(JobContext& context, JobFolder* folder, std::string_view xmlPath);

  // Whether the check has already found a problem or failed, so that work
  // that follows the stamping can be left undone.
  bool failedEarly() const { return failedEarly_.load(); }

  // Once Stamp has returned: waits for the check and gives what it found in
  // document order, each problem naming the operator's line (empty: valid).
  // Throws what the schema threw (Error with the parser's message).
  std::vector<SchemaProblem> Problems();

 private:
  std::vector<SchemaProblem> Run(const std::string& xsdPath);

  const Wanted wanted_;
  SourceLineMap lines_;
  // When the stamping writes a file, the check reads it behind the writer,
  // however far it lags, so what follows the stamping need not wait for it.
  TextRelay relay_;
  std::atomic<bool> failedEarly_{false};
  std::future<std::vector<SchemaProblem>> result_;  // last: its thread uses the members above
};

// The verdict of a job's check (Problems): true when the document is valid.
// Otherwise reports the first problem (ReportInvalidDocument) and returns
// false. Schema failures throw as SchemaChecker does.
[[nodiscard]] bool ValidateXmlBySchema(JobContext& context, SourcePreparation& source);

// --check: reads the key file as a job does (LoadParamsFromICod), prepares
// the document as the jobs do but writes nothing, not even a temporary file,
// and hands report every schema problem in document order, each naming the
// line of the operator's file. Returns how many there were (0: valid). The
// key file and certificate XML paths are taken as they stand.
//
// A key file, certificate XML or schema that fails throws Error with the
// jobs' message; the key file's failure is also recorded in context.events
// as LoadParamsFromICod does.
std::uint64_t CheckDocument(JobContext& context, const std::string& xmlPath,
                            const std::string& keyFilePath, const std::string& xsdPath,
                            const SchemaProblemSink& report);

}  // namespace orx
