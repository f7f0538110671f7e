#include "package/job_failure.h"

#include <string>

#include "support/text.h"

namespace orx {

JobOutcome ReportJobFailure(JobContext& context, std::uint16_t category, std::string_view caller,
                            std::string_view message) {
  LogEvent(context.events, kDefaultEventSource, EventType::Error, category, kEventOperationFailed,
           {std::string(caller), std::string(message)});
  context.log.Append("ошибка: " + std::string(message));
  NoteFailure(context, message);
  return JobOutcome::Failed;
}

JobOutcome ReportJobCancelled(JobContext& context, EventType type, std::uint16_t category,
                              std::string_view caller, std::string_view message) {
  LogEvent(context.events, kDefaultEventSource, type, category, kEventOperationFailed,
           {std::string(caller), std::string(message)});
  context.log.Append(std::string(message));
  NoteFailure(context, message);
  context.report.cancelled = true;
  return JobOutcome::Cancelled;
}

void NoteFailure(JobContext& context, std::string_view message) {
  constexpr std::size_t kKept = 500;
  if (message.size() <= kKept) {
    context.report.failure = message;
  } else {
    context.report.failure = std::string(message.substr(0, Utf8Boundary(message, kKept))) + "…";
  }
}

void BeginStep(JobContext& context, JobStep step) {
  if (CancelRequested(context)) throw JobCancelled();
  if (step > context.report.reached) context.report.reached = step;
  if (context.progress != nullptr) context.progress->Begin(step);
}

}  // namespace orx
