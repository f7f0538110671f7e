#include "exchange/sync_job.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "exchange/https_connection.h"
#include "exchange/pin_file.h"
#include "exchange/replies.h"
#include "exchange/server_choice.h"
#include "package/address.h"
#include "package/job_failure.h"
#include "package/key_file.h"
#include "package/document_check.h"
#include "package/source_document.h"
#include "support/error.h"
#include "support/kelma_win.h"
#include "support/version.h"

namespace orx {
namespace {

constexpr std::string_view kCaller = "TFormMain.XmlToServer";
constexpr std::string_view kAgent = "Custom ORX";
constexpr std::string_view kEmptyHello = "Сервер вернул пустую строку на hello";
constexpr std::string_view kCancelledBeforeSending =
    "Отменено оператором, сертификаты не отправлены";
constexpr std::string_view kCancelledWhileSending =
    "Отправка прервана оператором: сервер мог уже получить сертификаты";

// Who the office is: the query of "hello" and "version" and the start of the
// "save" body. The office key goes out exactly as the key file holds it.
std::string Identification(const KeyParameters& params) {
  return "orxn=" + std::to_string(params.officeNumber) +
         "&plcn=" + std::to_string(params.localeNumber) + "&orxk=" + params.officeKey +
         "&pver=" + kVersionText;
}

void Record(JobContext& context, EventType type, std::uint16_t category, std::uint32_t eventId,
            std::vector<std::string> strings) {
  LogEvent(context.events, kDefaultEventSource, type, category, eventId, strings);
}

// A "save" step the connection refused: the code goes to the record, the
// system's words alone to the operator.
JobOutcome ReportSaveFault(JobContext& context, std::string_view step,
                           const THttpsConnection& connection) {
  const std::uint32_t code = connection.LastError();
  const std::string limit = EndingLimitNote(connection);
  Record(context, EventType::Error, kCategoryExchange, kEventRequestFault,
         {std::string(kCaller), std::string(step), ErrorCodeMessage(code) + limit});
  const std::string reason = ErrorCodeText(code) + limit;
  NoteFailure(context, reason);
  context.log.Append("ошибка: " + reason);
  return JobOutcome::Failed;
}

}  // namespace

// A URL escapes blanks, quotes, non-ASCII letters and the like, so the key
// is not searched for as it stands; Identification puts "&pver=" after it.
std::string HideOfficeKey(std::string line) {
  constexpr std::string_view kKey = "orxk=";
  constexpr std::string_view kNext = "&pver=";
  constexpr std::string_view kHidden = "***";
  for (std::size_t at = line.find(kKey); at != std::string::npos;
       at = line.find(kKey, at + kKey.size() + kHidden.size())) {
    const std::size_t from = at + kKey.size();
    // The last "&pver=", in case the key itself holds one.
    std::size_t to = line.rfind(kNext);
    if (to == std::string::npos || to < from) to = std::min(line.find(' ', from), line.size());
    line.replace(from, to - from, kHidden);
  }
  return line;
}

namespace {

// The window learns when the certificates have gone out, and a Cancel stops
// a transfer under way.
void WatchTransfers(THttpsConnection& connection, JobProgress* progress) {
  if (progress == nullptr) return;
  connection.TransferProgress = [progress](std::uint64_t sent, std::uint64_t toSend) {
    if (toSend > 0 && sent >= toSend && progress->Step() == JobStep::Sending) {
      progress->Begin(JobStep::WaitingForReply);
    }
    return !progress->CancelRequested();
  };
}

// ORX_TRACE set (and not "0") shows support staff each request and reply on
// standard error, the office key hidden.
void TraceWhenAsked(THttpsConnection& connection) {
  const char* trace = std::getenv("ORX_TRACE");
  if (!trace || !*trace || std::string_view(trace) == "0") return;
  connection.Trace = [](const std::string& line) {
    const std::string shown = HideOfficeKey(line) + '\n';
    std::fwrite(shown.data(), 1, shown.size(), stderr);
    std::fflush(stderr);
  };
}

// hello, the choice of server, save. Throws for the failures the job reports
// at its top.
JobOutcome Converse(JobContext& context, THttpsConnection& connection,
                    const std::string& identification, const std::string& sourcePath) {
  const KeyParameters& params = context.params;
  connection.SetRequestData(identification);
  std::string helloReply =
      HttpsGet(connection, kAgent, params.kindName, HostFromAddress(params.serverAddress),
               PathFromAddress(params.serverAddress) + "/sync/hello?" + identification,
               params.serverPort);

  if (helloReply.empty()) {
    Record(context, EventType::Error, kCategoryJob, kEventOperationFailed,
           {std::string(kCaller), std::string(kEmptyHello)});
    context.log.Append(std::string(kEmptyHello));
    NoteFailure(context, kEmptyHello);
    return JobOutcome::Failed;
  }

  if (XmlDocument hello = ParseReply(helloReply);
      std::optional<Refusal> refusal = TakeRefusal(hello, helloReply)) {
    Record(context, EventType::AuditFailure, kCategoryExchange, kEventDialogueOutcome,
           {"ошибочный ответ на hello: " + std::move(refusal->recorded)});
    NoteFailure(context, refusal->message);
    context.log.Append(std::move(refusal->message));
    return JobOutcome::Failed;
  }

  BeginStep(context, JobStep::Connecting);
  const std::string path =
      FindSuitableUrl(connection, identification, kCaller, &context.log, context.events,
                      std::move(helloReply));
  connection.ObjectName = path + "/save";
  connection.SetRequestData(identification + "&certBody=" +
                            UrlEncode(GetSourceForPacking(sourcePath), true));

  if (!connection.ConnectToHttpsServer("POST")) {
    return ReportSaveFault(context, "/save (Syn.ConnectToHttpsServer)", connection);
  }
  context.log.ProcessPendingEvents();
  BeginStep(context, JobStep::Sending);
  if (!connection.SendHttpsRequest()) {
    if (CancelRequested(context)) throw JobCancelled();
    return ReportSaveFault(context, "/save (Syn.SendHttpsRequest)", connection);
  }
  return ReportSaveReply(context, connection.ReadResponseUtf8()) ? JobOutcome::Succeeded
                                                                 : JobOutcome::Failed;
}

// The dialogue on its own connection. However it ends, the connection is
// released and the end of the transmission is told before a failure goes on
// to the job's handler.
JobOutcome RunDialogue(JobContext& context, const std::string& identification,
                       const std::string& sourcePath) {
  PinFileSource pinFile;
  auto connection = std::make_unique<THttpsConnection>();
  connection->BlockingCalls = context.blockingCalls;
  connection->TokenPins = context.tokenPins ? context.tokenPins : &pinFile;
  WatchTransfers(*connection, context.progress);
  TraceWhenAsked(*connection);
  JobOutcome outcome = JobOutcome::Failed;
  std::exception_ptr failure;
  try {
    outcome = Converse(context, *connection, identification, sourcePath);
  } catch (...) {
    failure = std::current_exception();
  }
  connection.reset();
  Record(context, EventType::Information, kCategoryExchange, kEventDialogueOutcome,
         {"Конец передачи"});
  context.log.Append("Синхронизация завершена");
  if (failure) std::rethrow_exception(failure);
  return outcome;
}


}  // namespace

JobOutcome XmlToServer(JobContext& context, std::string_view xmlPath, std::string_view xsdPath,
                       std::string_view keyFilePath) {
  const RunningJob running(context);
  if (!running.entered()) return JobOutcome::Failed;
  try {
    context.log.Clear();
    const std::string xml = ExpandEnvVars(xmlPath);
    const std::string keyFile = ExpandEnvVars(keyFilePath);
    const std::string xsd = ExpandEnvVars(xsdPath);

    BeginStep(context, JobStep::Validation);
    LoadParamsFromICod(context, keyFile);
    JobFolder folder;
    SourcePreparation source(xsd, SourcePreparation::Wanted::FirstProblem);
    std::string sourcePath;
    RunOffTheWindow(context, [&] { sourcePath = source.Stamp(context, &folder, xml); });
    if (!ValidateXmlBySchema(context, source)) return JobOutcome::Failed;

    // Stopped here, the job has made no connection and sent nothing.
    BeginStep(context, JobStep::Connecting);
    return RunDialogue(context, Identification(context.params), sourcePath);
  } catch (const std::exception& failure) {
    // Whatever a stopped request threw, the operator stopped it.
    if (CancelRequested(context)) {
      const bool maybeSent = context.report.reached >= JobStep::Sending;
      return ReportJobCancelled(context, maybeSent ? EventType::Error : EventType::Information,
                                kCategoryExchange, kCaller,
                                maybeSent ? kCancelledWhileSending : kCancelledBeforeSending);
    }
    return ReportJobFailure(context, kCategoryExchange, kCaller, FailureText(failure));
  }
}

}  // namespace orx
