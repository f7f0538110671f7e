#include "package/package_job.h"

#include <cstddef>
#include <exception>
#include <filesystem>
#include <string>

#include "package/cipher.h"
#include "package/document_check.h"
#include "package/job_failure.h"
#include "package/key_file.h"
#include "package/package_archive.h"
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
    SourcePreparation source(xsd, SourcePreparation::Wanted::FirstProblem);
    std::string sourcePath;
    RunOffTheWindow(context, [&] { sourcePath = source.Stamp(context, &work, xml); });
    // Packing needs the whole text, so it follows the stamping, while the
    // check finishes beside it. A failure of packing counts only when the
    // document passed the check.
    std::string package;
    std::exception_ptr packingFailure;
    if (!source.failedEarly()) {
      try {
        BeginStep(context, JobStep::Packing);
        RunOffTheWindow(context, [&] {
          package = BuildPackage(work.Path(), sourcePath, context.params.officeKey,
                                 context.clock.Now());
        });
      } catch (...) {
        packingFailure = std::current_exception();
      }
    }
    if (!ValidateXmlBySchema(context, source)) return JobOutcome::Failed;
    if (packingFailure) std::rethrow_exception(packingFailure);

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
