#pragma once
// The server job: sends the certificates to the certificate server over HTTPS
// and reports the verdict. Reports every failure itself and never throws.
#include <string_view>

#include "package/job_context.h"

namespace orx {

[[nodiscard]] JobOutcome XmlToServer(JobContext& context, std::string_view xmlPath, std::string_view xsdPath,
                       std::string_view keyFilePath);

}  // namespace orx
