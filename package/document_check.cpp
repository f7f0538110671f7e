#include "package/document_check.h"

#include "package/key_file.h"
#include "package/source_document.h"
#include "support/kelma_win.h"

namespace orx {

SourcePreparation::SourcePreparation(std::string_view xsdPath, Wanted wanted)
    : wanted_(wanted),
      result_(std::async(std::launch::async,
                         [this, xsd = ExpandEnvVars(xsdPath)] { return Run(xsd); })) {}

SourcePreparation::~SourcePreparation() {
  relay_.Abandon();
  if (result_.valid()) result_.wait();
}

std::vector<SchemaProblem> SourcePreparation::Run(const std::string& xsdPath) {
  try {
    const StopReadingOnExit stop(relay_);
    // Compiled here, on the check's own thread: a large schema costs the
    // stamping nothing, and its local includes are read on this thread.
    const SchemaChecker schema(xsdPath);
    std::vector<SchemaProblem> found;
    schema.Check(relay_, [this, &found](const SchemaProblem& problem) {
      if (wanted_ == Wanted::FirstProblem && !found.empty()) return;
      found.push_back(problem);
      failedEarly_ = true;
      if (wanted_ == Wanted::FirstProblem) relay_.StopReading();
    });
    return found;
  } catch (...) {
    failedEarly_ = true;
    throw;
  }
}

std::string SourcePreparation::Stamp(JobContext& context, JobFolder* folder,
                                     std::string_view xmlPath) {
  if (folder != nullptr) return GetFullSourceName(context, *folder, xmlPath, &lines_, &relay_);
  StreamSourceDocument(context.clock, xmlPath, &lines_, relay_);
  return {};
}

std::vector<SchemaProblem> SourcePreparation::Problems() {
  relay_.Finish();
  std::vector<SchemaProblem> found = result_.get();
  // The check ran ahead of the record of the operator's lines; now it is whole.
  for (SchemaProblem& problem : found) NameOperatorsLine(problem, &lines_);
  return found;
}

bool ValidateXmlBySchema(JobContext& context, SourcePreparation& source) {
  // The check may lag behind the stamping by seconds on a large file.
  std::vector<SchemaProblem> problems;
  RunOffTheWindow(context, [&] { problems = source.Problems(); });
  if (problems.empty()) return true;
  ReportInvalidDocument(context, problems.front());
  return false;
}

std::uint64_t CheckDocument(JobContext& context, const std::string& xmlPath,
                            const std::string& keyFilePath, const std::string& xsdPath,
                            const SchemaProblemSink& report) {
  LoadParamsFromICod(context, keyFilePath);
  SourcePreparation source(xsdPath, SourcePreparation::Wanted::EveryProblem);
  (void)source.Stamp(context, nullptr, xmlPath);
  const std::vector<SchemaProblem> problems = source.Problems();
  for (const SchemaProblem& problem : problems) report(problem);
  return problems.size();
}

}  // namespace orx
