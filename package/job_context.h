#pragma once
// What a job works on: the application's one KeyParameters, the log pane, the
// event log, the clock, the batch-mode flag and (window only) the folder picker
// and the progress the window shows.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "package/key_parameters.h"
#include "support/blocking_call.h"
#include "support/clock.h"
#include "support/event_log.h"
#include "support/folder_picker.h"
#include "support/log_pane.h"
#include "support/token_pin.h"

namespace orx {

// The steps of a job, in order, as the window names them while it runs.
enum class JobStep : std::uint8_t {
  None,
  Validation,       // the key file read, the document stamped and checked
  Packing,          // zipped and enciphered
  Connecting,       // "hello" and the choice of server
  Sending,          // the "save" request under way: the server may get the certificates
  WaitingForReply,  // the certificates sent, the verdict awaited
};

// Shared by a running job and the window, from any thread (the transfers run
// on a worker): the step the job has reached, and whether the operator asked
// it to stop.
class JobProgress {
 public:
  void Begin(JobStep step) noexcept { step_.store(step); }
  JobStep Step() const noexcept { return step_.load(); }
  void RequestCancel() noexcept { cancel_.store(true); }
  bool CancelRequested() const noexcept { return cancel_.load(); }
  void Reset() noexcept {
    step_.store(JobStep::None);
    cancel_.store(false);
  }

 private:
  std::atomic<JobStep> step_{JobStep::None};
  std::atomic<bool> cancel_{false};
};

// What the last job came to beyond its outcome, for the window's status line.
struct JobReport {
  JobStep reached = JobStep::None;  // the furthest step begun
  // The status of the server's verdict (0 accepted, 1 with remarks, else
  // rejected), when one was read.
  std::optional<std::int64_t> serverStatus;
  // What ended the job, in the words of its last line to the operator.
  std::string failure;
  bool cancelled = false;  // the operator stopped it (JobOutcome::Cancelled)
};

struct JobContext {
  KeyParameters& params;
  LogPane& log;
  EventSink& events;
  const Clock& clock;
  bool batchMode = false;
  FolderPicker* folderPicker = nullptr;  // asked for the output folder when !batchMode
  // Runs the network transfers and the long steps of packing; nullptr: they
  // block the calling thread.
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
  // Filled as the job goes; cleared when a job starts.
  JobReport report{};
  // Told each step as it begins and asked at each whether to stop; nullptr:
  // nobody watches and nothing stops the job (batch mode).
  JobProgress* progress = nullptr;
};

// Thrown at the start of a step when the operator has asked the job to stop.
class JobCancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "cancelled"; }
};

// The job begins step: kept in its report and told to the window. Throws
// JobCancelled instead when the operator has asked the job to stop.
void BeginStep(JobContext& context, JobStep step);

// Runs a long step where the window keeps painting and can take a Cancel
// (off its thread) when the window gave a runner, else in place. Such a step
// must touch neither the log pane nor the folder picker.
template <typename Step>
void RunOffTheWindow(const JobContext& context, Step step) {
  if (context.blockingCalls != nullptr) {
    context.blockingCalls->Run(step);
  } else {
    step();
  }
}

// Keeps what ended the job in its report, cut short (at a character
// boundary) when it is long: a server's message may be megabytes.
void NoteFailure(JobContext& context, std::string_view message);

// Whether the operator has asked the running job to stop.
inline bool CancelRequested(const JobContext& context) {
  return context.progress != nullptr && context.progress->CancelRequested();
}

// Pending window events are let through while the job runs; a job started
// from there must not run inside this one on the same log pane and
// parameters.
class RunningJob {
 public:
  explicit RunningJob(JobContext& context) : context_(context), entered_(!context.jobRunning) {
    if (!entered_) return;
    context_.jobRunning = true;
    context_.report = {};
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
  Cancelled,  // the operator cancelled the folder picker, or the job (window only)
};

}  // namespace orx
