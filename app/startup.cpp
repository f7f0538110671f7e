#include "app/startup.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <csignal>

#include "app/server_module.h"
#include "package/package_job.h"
#include "support/xml_document.h"

namespace orx {

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
    std::fflush(stdout);
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

namespace {

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool WindowDisplayAvailable() {
  if (EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY")) return true;
  // A platform chosen by name that draws nowhere needs no display; xcb and
  // wayland would abort the process without one.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform == nullptr) return false;
  const std::string_view name(platform);
  return !name.empty() && !name.starts_with("xcb") && !name.starts_with("wayland");
}

int ReportNoDisplay() {
  std::fputs("convertor-orx: нет дисплея (DISPLAY и WAYLAND_DISPLAY не заданы), окно не открыть; "
             "для работы без окна укажите пятым полем HIDE, справка: convertor-orx --help\n",
             stderr);
  return kExitMissingField;
}

}  // namespace orx
