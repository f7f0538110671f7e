#include "app/window/job_status.h"

namespace orx {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

StatusLine PackageLine(JobOutcome outcome, const JobReport& report,
                       const std::string& packagePath) {
  using Tone = StatusLine::Tone;
  switch (outcome) {
    case JobOutcome::Succeeded:
      return {QStringLiteral("Файл сформирован: ") + Q(packagePath), Tone::Good};
    case JobOutcome::Cancelled:
      return {report.cancelled ? QStringLiteral("Файл не сформирован: отменено оператором")
                               : QStringLiteral("Файл не сформирован: каталог не выбран"),
              Tone::Plain};
    case JobOutcome::Failed:
      break;
  }
  return {QStringLiteral("Файл не сформирован: ") + Q(report.failure), Tone::Bad};
}

StatusLine ServerLine(JobOutcome outcome, const JobReport& report) {
  using Tone = StatusLine::Tone;
  if (report.serverStatus) {
    if (*report.serverStatus == 0) return {QStringLiteral("Сервер принял сертификаты"), Tone::Good};
    if (*report.serverStatus == 1) {
      return {QStringLiteral("Сервер принял сертификаты с замечаниями"), Tone::Doubtful};
    }
    return {QStringLiteral("Сервер отклонил сертификаты"), Tone::Bad};
  }
  // Once the "save" request is under way the server may have the
  // certificates, whatever happened to its answer.
  const bool maybeSent = report.reached >= JobStep::Sending;
  if (outcome == JobOutcome::Cancelled) {
    return maybeSent ? StatusLine{QStringLiteral("Отправка прервана: сервер мог уже получить "
                                                 "сертификаты"),
                                  Tone::Doubtful}
                     : StatusLine{QStringLiteral("Сертификаты не отправлены: отменено оператором"),
                                  Tone::Plain};
  }
  if (maybeSent) {
    return {QStringLiteral("Ответ сервера не получен, сервер мог получить сертификаты: ") +
                Q(report.failure),
            Tone::Doubtful};
  }
  return {QStringLiteral("Сертификаты не отправлены: ") + Q(report.failure), Tone::Bad};
}

}  // namespace

QString StepText(JobStep step) {
  switch (step) {
    case JobStep::None:
      break;
    case JobStep::Validation:
      return QStringLiteral("Проверка документа…");
    case JobStep::Packing:
      return QStringLiteral("Упаковка и шифрование…");
    case JobStep::Connecting:
      return QStringLiteral("Соединение с сервером…");
    case JobStep::Sending:
      return QStringLiteral("Отправка сертификатов…");
    case JobStep::WaitingForReply:
      return QStringLiteral("Ожидание ответа сервера…");
  }
  return QStringLiteral("Подготовка…");
}

StatusLine OutcomeLine(JobKind kind, JobOutcome outcome, const JobReport& report,
                       const std::string& packagePath) {
  return kind == JobKind::Package ? PackageLine(outcome, report, packagePath)
                                  : ServerLine(outcome, report);
}

}  // namespace orx
