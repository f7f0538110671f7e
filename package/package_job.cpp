#include "package/package_job.h"

#include <atomic>
#include <cstddef>
#include <exception>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <system_error>

#include "package/cipher.h"
#include "package/job_failure.h"
#include "package/key_file.h"
#include "package/package_archive.h"
#include "package/schema_validation.h"
#include "package/source_document.h"
#include "support/error.h"
#include "support/files.h"
#include "support/kelma_win.h"
#include "support/mapped_file.h"

namespace orx {
namespace {

constexpr std::string_view kEntryName = "sync.xml";
constexpr std::string_view kCaller = "TFormMain.XmlToCod";
constexpr std::string_view kCancelled = "Отменено оператором, файл не сформирован";
// The name is fixed by kind, office, locale and date, so a second job of
// the day replaces the first one's file: the operator is told.
constexpr std::string_view kReplacedPackage = "Заменён прежний файл пакета с тем же именем: ";

// The source document packed as the one entry of a ZIP archive and
// enciphered with the office key (the fixed key text when it is empty). The
// archive goes through a temporary file in tempDir (the job's folder) that
// is gone when this returns, whether it returns or throws.
std::string BuildPackage(const std::string& tempDir, const std::string& sourcePath,
                         const std::string& officeKey, const LocalDateTime& packed) {
  TempFile archive(tempDir, "orx", ".zip");
  {
    MappedFile content(sourcePath);
    RemoveNamespaceDeclaration(content);
    WriteSingleEntryZip(archive.path(), kEntryName, content.view(), packed);
  }
  std::string bytes = FileToString(archive.path());
  archive.Remove();
  EncryptCodStream(bytes, officeKey);
  return bytes;
}

// The schema check of the source document while the stamping writes it, on
// a second core. It reads the text through the relay, so it needs nothing
// the stamping has not written yet; what it finds is reported only once the
// stamping has finished, as if it had run afterwards.
class ConcurrentCheck {
 public:
  // Throws std::system_error when no thread can be started.
  explicit ConcurrentCheck(const std::string& xsdPath)
      : result_(std::async(std::launch::async, [this, xsdPath] { return Run(xsdPath); })) {}
  // Never leaves the check waiting for text that will not come.
  ~ConcurrentCheck() {
    relay_.Abandon();
    if (result_.valid()) result_.wait();
  }
  ConcurrentCheck(const ConcurrentCheck&) = delete;
  ConcurrentCheck& operator=(const ConcurrentCheck&) = delete;

  TextRelay& relay() { return relay_; }
  // Whether the check has already failed, so that the package need not be built.
  bool failedEarly() const { return failedEarly_.load(); }
  // The text is complete: the first problem, or nothing when it is valid.
  // Throws what the schema threw.
  std::optional<SchemaProblem> Result() {
    relay_.Finish();
    return result_.get();
  }

 private:
  std::optional<SchemaProblem> Run(const std::string& xsdPath) {
    try {
      const StopReadingOnExit stop(relay_);
      // The schema path is expanded once more, as ValidateXmlBySchema does.
      std::optional<SchemaProblem> problem =
          SchemaChecker(ExpandEnvVars(xsdPath)).FirstProblem(relay_);
      if (problem) failedEarly_ = true;
      return problem;
    } catch (...) {
      failedEarly_ = true;
      throw;
    }
  }

  // The check reads the stamped file behind the stamping, however far it
  // lags, so packing starts as soon as the stamping ends.
  TextRelay relay_;
  std::atomic<bool> failedEarly_{false};
  std::future<std::optional<SchemaProblem>> result_;
};

}  // namespace

JobOutcome XmlToCod(JobContext& context, std::string_view xmlPath, std::string_view xsdPath,
                    std::string_view outputFolder, std::string_view keyFilePath) {
  const RunningJob running(context);
  if (!running.entered()) return JobOutcome::Failed;
  context.packagePath.clear();
  try {
    context.log.Clear();
    const std::string xml = ExpandEnvVars(xmlPath);
    const std::string xsd = ExpandEnvVars(xsdPath);
    const std::string output = ExpandEnvVars(outputFolder);
    const std::string keyFile = ExpandEnvVars(keyFilePath);

    BeginStep(context, JobStep::Validation);
    LoadParamsFromICod(context, keyFile);
    // Everything the job writes before the package file stays in its own
    // folder: jobs running at the same time never see each other's files.
    JobFolder work;
    SourceLineMap lines;
    std::string package;
    std::optional<ConcurrentCheck> check;
    try {
      check.emplace(xsd);
    } catch (const std::system_error&) {
      // No second thread: the check follows the stamping.
    }
    const auto pack = [&](const std::string& sourcePath) {
      BeginStep(context, JobStep::Packing);
      RunOffTheWindow(context, [&] {
        package = BuildPackage(work.Path(), sourcePath, context.params.officeKey,
                               context.clock.Now());
      });
    };
    if (check) {
      std::string sourcePath;
      RunOffTheWindow(context, [&] {
        sourcePath = GetFullSourceName(context, work, xml, &lines, &check->relay());
      });
      // Packing needs the whole text, so it follows the stamping, while the
      // check finishes beside it. A failure of packing counts only when the
      // document passed the check.
      std::exception_ptr packingFailure;
      if (!check->failedEarly()) {
        try {
          pack(sourcePath);
        } catch (...) {
          packingFailure = std::current_exception();
        }
      }
      std::optional<SchemaProblem> problem = check->Result();
      if (problem) {
        NameOperatorsLine(*problem, &lines);
        ReportInvalidDocument(context, *problem);
        return JobOutcome::Failed;
      }
      if (packingFailure) std::rethrow_exception(packingFailure);
    } else {
      std::string sourcePath;
      RunOffTheWindow(context, [&] { sourcePath = GetFullSourceName(context, work, xml, &lines); });
      if (!ValidateXmlBySchema(context, sourcePath, xsd, &lines)) return JobOutcome::Failed;
      pack(sourcePath);
    }

    // The operator is asked only once everything that can fail before it has
    // succeeded; a cancel discards the enciphered data silently.
    std::string folder;
    if (context.batchMode) {
      folder = output;
    } else {
      if (CancelRequested(context)) throw JobCancelled();
      if (context.folderPicker == nullptr || !context.folderPicker->Execute()) {
        return JobOutcome::Cancelled;
      }
      folder = context.folderPicker->Directory();
    }
    if (folder.empty()) throw Error("Range check error");
    if (folder.back() != '/') folder += '/';

    // Written beside the target and renamed over it: a failure leaves an
    // earlier package file of the same name as it was and no partial file.
    const std::string target = PackageFileName(context.params, folder);
    std::error_code unknown;
    const bool replacing = std::filesystem::exists(target, unknown);
    WriteFileAtomically(package, target);
    std::error_code noCurrentFolder;
    const std::filesystem::path absolute = std::filesystem::absolute(target, noCurrentFolder);
    context.packagePath = noCurrentFolder ? target : absolute.lexically_normal().string();
    if (replacing) context.log.Append(std::string(kReplacedPackage) + context.packagePath);
    return JobOutcome::Succeeded;
  } catch (const std::exception& e) {
    // Whatever a stopped step threw, the operator stopped it.
    if (CancelRequested(context)) {
      return ReportJobCancelled(context, EventType::Information, kCategoryJob, kCaller, kCancelled);
    }
    return ReportJobFailure(context, kCategoryJob, kCaller, FailureText(e));
  }
}

}  // namespace orx
