#pragma once
// The words of the window's status line: the step a running job is at, and
// what a job that has ended came to.
#include <QString>
#include <string>

#include "package/job_context.h"

namespace orx {

enum class JobKind { Package, Server };

struct StatusLine {
  enum class Tone { Plain, Good, Doubtful, Bad };
  QString text;
  Tone tone = Tone::Plain;
};

// "Проверка документа…" and the like.
QString StepText(JobStep step);

// Accepted, accepted with remarks, rejected, not sent and why, perhaps sent,
// package written with its path, or not written and why.
StatusLine OutcomeLine(JobKind kind, JobOutcome outcome, const JobReport& report,
                       const std::string& packagePath);

}  // namespace orx
