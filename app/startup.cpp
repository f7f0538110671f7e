#include "app/startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <csignal>

#include "app/server_module.h"
#include "package/package_job.h"
#include "support/log_pane.h"
#include "support/xml_document.h"

namespace orx {

void OccupyClosedStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open() takes the lowest free number, which is fd: the ones below it
    // are open by now.
    const int opened = ::open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) ::close(opened);
  }
}

bool OutputDelivered(std::FILE* out, std::FILE* err, std::string_view prefix) {
  errno = 0;
  if (std::fflush(out) == 0 && !std::ferror(out)) return true;
  const int number = errno;
  std::string line(prefix);
  line += "не удалось записать в стандартный вывод: ";
  line += number != 0 ? std::strerror(number) : "ошибка записи";
  line += '\n';
  std::fputs(line.c_str(), err);
  return false;
}

void InitLibraries() {
  // A write past the file-size limit (ulimit -f) then fails like any other
  // write and is reported, instead of the signal killing the job silently.
  std::signal(SIGXFSZ, SIG_IGN);
  InitXmlLibrary();
}

bool CheckBatchFields(const CommandLineFields& fields, const std::string& parameterText,
                      EventSink& events) {
  struct Check {
    const std::string& field;
    std::string_view message;
  };
  const std::array<Check, 4> checks{{
      {fields.xmlPath, "В параметрах не указан входной файл: "},
      {fields.outputFolder, "В параметрах не указан выходной каталог: "},
      {fields.keyFilePath, "В параметрах не указан i.cod: "},
      {fields.xsdPath, "В параметрах не указан *.xsd: "},
  }};
  for (const Check& check : checks) {
    if (!check.field.empty()) continue;
    const std::string text = std::string(check.message) + parameterText;
    LogEvent(events, kDefaultEventSource, EventType::Error, kCategoryJob, kEventOperationFailed,
             {"TFormMain.TntFormCreate", text});
    // The record alone leaves a person at a terminal guessing.
    std::fprintf(stderr, "%s\n", text.c_str());
    return false;
  }
  return true;
}

int RunBatch(const CommandLineFields& fields, const std::string& parameterText,
             JobContext& context) {
  if (!CheckBatchFields(fields, parameterText, context.events)) return kExitMissingField;
  const JobOutcome outcome =
      fields.toServer()
          ? RunServerJobModule(context, fields.xmlPath, fields.xsdPath, fields.keyFilePath)
          : XmlToCod(context, fields.xmlPath, fields.xsdPath, fields.outputFolder,
                     fields.keyFilePath);
  if (outcome != JobOutcome::Succeeded) return kExitJobFailed;
  if (!context.packagePath.empty()) {
    std::printf("%s\n", context.packagePath.c_str());
    // A script that reads the path and gets nothing must not hear success.
    if (!OutputDelivered(stdout, stderr, "ошибка: файл пакета записан, но ")) return kExitJobFailed;
  }
  return kExitSuccess;
}

std::string UsageText() {
  return "Использование:\n"
         "  convertor-orx ВХОДНОЙ.xml, КАТАЛОГ|SERVER_ORX, КЛЮЧ.cod, СХЕМА.xsd[, HIDE]\n"
         "\n"
         "Поля разделяются запятыми, в таком порядке:\n"
         "  1. XML файл с сертификатами;\n"
         "  2. каталог для файла пакета или SERVER_ORX для отправки на сервер;\n"
         "  3. ключевой файл i.cod;\n"
         "  4. XSD файл схемы проверки;\n"
         "  5. HIDE - выполнить без окна и завершиться.\n"
         "Без HIDE открывается окно с заполненными полями.\n"
         "\n"
         "Коды завершения: 0 - успех, 1 - ошибка задания, 2 - не указан обязательный параметр.\n"
         "  -h, --help эта справка\n"
         "  --version  версия программы\n"
         "\n"
         "Служебные команды (ничего не записывают и не отправляют; коды завершения те же:\n"
         "1 - найдена ошибка, 2 - неверные параметры):\n"
         "  --check ВХОДНОЙ.xml, КЛЮЧ.cod, СХЕМА.xsd\n"
         "      проверить документ по схеме, как перед формированием пакета, и вывести\n"
         "      все ошибки строками \"файл:строка: причина\" со строками исходного файла;\n"
         "  --inspect ПАКЕТ_x.zip.cod, КЛЮЧ.cod[, СХЕМА.xsd] [--extract КАТАЛОГ]\n"
         "      расшифровать файл пакета ключом отделения и показать строками \"имя: значение\"\n"
         "      запись sync.xml, её размер, сжатие, CRC, число сертификатов и данные из имени\n"
         "      файла; со схемой - проверить запись; --extract сохраняет sync.xml в КАТАЛОГ.\n"
         "Переменная окружения ORX_TRACE=1: задание отправки на сервер выводит в поток\n"
         "ошибок каждый запрос (метод, URL с ключом отделения в виде ***, размер тела)\n"
         "и каждый ответ (статус, размер).\n"
         "\n"
         "Примеры:\n"
         "  convertor-orx certs.xml, /srv/out, i.cod, FA.xsd, HIDE\n"
         "  convertor-orx --check certs.xml, i.cod, FA.xsd\n"
         "  convertor-orx --inspect /srv/out/FA_007_01_2024.03.05_x.zip.cod, i.cod, FA.xsd\n"
         "  ORX_TRACE=1 convertor-orx certs.xml, SERVER_ORX, i.cod, FA.xsd, HIDE\n";
}

int ReportNoDisplay(const std::string& why) {
  const std::string line = "convertor-orx: нет дисплея (" + EscapeForTerminal(why) +
                           "), окно не открыть; для работы без окна укажите пятым полем HIDE, "
                           "справка: convertor-orx --help\n";
  std::fputs(line.c_str(), stderr);
  return kExitMissingField;
}

}  // namespace orx
