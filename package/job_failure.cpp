#include "package/job_failure.h"

#include <string>

namespace orx {

JobOutcome ReportJobFailure(JobContext& context, std::uint16_t category, std::string_view caller,
                            std::string_view message) {
  LogEvent(context.events, kDefaultEventSource, EventType::Error, category, kEventOperationFailed,
           {std::string(caller), std::string(message)});
  context.log.Append("ошибка: " + std::string(message));
  return JobOutcome::Failed;
}

}  // namespace orx
