#pragma once
// What a job works on: the application's one KeyParameters, the log pane, the
// event log, the clock, the batch-mode flag and (window only) the folder picker.
#include <string>

#include "package/key_parameters.h"
#include "support/blocking_call.h"
#include "support/clock.h"
#include "support/event_log.h"
#include "support/folder_picker.h"
#include "support/log_pane.h"
#include "support/token_pin.h"

namespace orx {

struct JobContext {
  KeyParameters& params;
  LogPane& log;
  EventSink& events;
  const Clock& clock;
  bool batchMode = false;
  FolderPicker* folderPicker = nullptr;  // asked for the output folder when !batchMode
  // Runs the network transfers; nullptr: they block the calling thread.
  BlockingCallRunner* blockingCalls = nullptr;
  // Set while a job runs: a job lets pending window events through, and one
  // started from there must not run inside it.
  bool jobRunning = false;
  // The absolute path of the package file the last package job wrote; empty
  // when it wrote none.
  std::string packagePath{};
  // Gives a token's PIN to the server job (the window's dialog); nullptr:
  // the file ORX_TOKEN_PIN_FILE names.
  TokenPinSource* tokenPins = nullptr;
};

// Pending window events are let through while the job runs; a job started
// from there must not run inside this one on the same log pane and
// parameters.
class RunningJob {
 public:
  explicit RunningJob(JobContext& context) : context_(context), entered_(!context.jobRunning) {
    if (entered_) context_.jobRunning = true;
  }
  ~RunningJob() {
    if (entered_) context_.jobRunning = false;
  }
  RunningJob(const RunningJob&) = delete;
  RunningJob& operator=(const RunningJob&) = delete;
  bool entered() const { return entered_; }

 private:
  JobContext& context_;
  bool entered_;
};

// How a job ended, for the exit status of a batch run.
enum class JobOutcome {
  Succeeded,  // package file written; server accepted the certificates
  Failed,     // any failure, an invalid document, a rejected verdict
  Cancelled,  // the operator cancelled the folder picker
};

}  // namespace orx
