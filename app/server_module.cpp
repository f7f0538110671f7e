#include "app/server_module.h"

#include "app/module_place.h"
#include "app/program_module.h"
#include "package/job_failure.h"

namespace orx {

JobOutcome RunServerJobModule(JobContext& context, std::string_view xmlPath,
                              std::string_view xsdPath, std::string_view keyFilePath) {
  std::string error;
  const auto entry = reinterpret_cast<ServerJobEntry>(
      OpenModuleEntry(kServerModuleFile, kServerJobEntryName, error));
  if (entry) {
    const ServerJobStart start{&context, xmlPath, xsdPath, keyFilePath};
    return static_cast<JobOutcome>(entry(&start));
  }
  const std::string message = "не загружен модуль обмена с сервером " +
                              std::string(kServerModuleFile) + " (" + error + ")";
  return ReportJobFailure(context, kCategoryExchange, "TFormMain.XmlToServer", message);
}

}  // namespace orx
