#include "package/package_job.h"

#include <exception>
#include <filesystem>
#include <future>
#include <string>
#include <system_error>

#include "package/cipher.h"
#include "package/key_file.h"
#include "package/package_archive.h"
#include "package/schema_validation.h"
#include "package/source_document.h"
#include "support/error.h"
#include "support/files.h"
#include "support/kelma_win.h"

namespace orx {
namespace {

constexpr std::string_view kEntryName = "sync.xml";

// The source document packed as the one entry of a ZIP archive and
// enciphered with the office key (the fixed key text when it is empty). The
// archive goes through a temporary file in tempDir that is gone when this
// returns, whether it returns or throws. Touches nothing shared: it runs
// beside the schema check.
std::string BuildPackage(const std::string& tempDir, const std::string& sourcePath,
                         const std::string& officeKey, const LocalDateTime& packed) {
  TempFile archive(tempDir, "orx", ".zip");
  {
    const std::string content = GetSourceForPacking(sourcePath);
    WriteSingleEntryZip(archive.path(), kEntryName, content, packed);
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

    LoadParamsFromICod(context, keyFile);
    SourceLineMap lines;
    const std::string sourcePath = GetFullSourceName(context, xml, &lines);
    const std::string tempDir = GetTempDir();
    if (tempDir.empty()) throw Error("No private temporary folder is available");

    // Packing and enciphering read only the written source document, so they
    // run on a second core while the schema check reads it too. Leaving this
    // scope in any way waits for them; an invalid document discards their
    // result (and its temporary archive is gone by then). Where no thread can
    // be started they run at get(), after the check.
    std::future<std::string> packing =
        std::async(std::launch::async | std::launch::deferred, BuildPackage, tempDir, sourcePath,
                   context.params.officeKey, context.clock.Now());
    if (!ValidateXmlBySchema(context, sourcePath, xsd, &lines)) return JobOutcome::Failed;
    const std::string package = packing.get();

    // The operator is asked only once everything that can fail before it has
    // succeeded; a cancel discards the enciphered data silently.
    std::string folder;
    if (context.batchMode) {
      folder = output;
    } else {
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
    WriteFileAtomically(package, target);
    std::error_code noCurrentFolder;
    const std::filesystem::path absolute = std::filesystem::absolute(target, noCurrentFolder);
    context.packagePath = noCurrentFolder ? target : absolute.lexically_normal().string();
    return JobOutcome::Succeeded;
  } catch (const std::exception& e) {
    LogEvent(context.events, kDefaultEventSource, EventType::Error, kCategoryJob,
             kEventOperationFailed, {"TFormMain.XmlToCod", e.what()});
    context.log.Append(std::string("ошибка: ") + e.what());
    return JobOutcome::Failed;
  }
}

}  // namespace orx
