#pragma once
// The server job: sends the certificates to the certificate server over HTTPS
// and reports the verdict. Reports every failure itself and never throws.
#include <string>
#include <string_view>

#include "package/job_context.h"

namespace orx {

[[nodiscard]] JobOutcome XmlToServer(JobContext& context, std::string_view xmlPath, std::string_view xsdPath,
                       std::string_view keyFilePath);

// A trace line with the office key hidden ("orxk=***"), however the line has
// it encoded: everything from "orxk=" to the last "&pver=" that follows it,
// or without one to the end of the URL.
std::string HideOfficeKey(std::string line);

}  // namespace orx
