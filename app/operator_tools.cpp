#include "app/operator_tools.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/startup.h"
#include "package/document_check.h"
#include "package/key_file.h"
#include "package/package_inspection.h"
#include "package/source_document.h"
#include "support/error.h"
#include "support/files.h"
#include "support/kelma_win.h"
#include "support/log_pane.h"
#include "support/xml_document.h"

namespace orx {
namespace {

constexpr std::string_view kCheckUsage =
    "Использование: convertor-orx --check ВХОДНОЙ.xml, КЛЮЧ.cod, СХЕМА.xsd\n";
constexpr std::string_view kInspectUsage =
    "Использование: convertor-orx --inspect ПАКЕТ_x.zip.cod, КЛЮЧ.cod[, СХЕМА.xsd] "
    "[--extract КАТАЛОГ]\n";

struct Output {
  std::FILE* out;
  std::FILE* err;

  // Names and values come from the files examined, which may hold bytes a
  // terminal would obey; they are shown as batch mode shows its lines.
  void Line(std::string_view text) const {
    const std::string shown = EscapeForTerminal(text);
    std::fwrite(shown.data(), 1, shown.size(), out);
    std::fputc('\n', out);
  }
  void Fact(std::string_view name, std::string_view value) const {
    Line(std::string(name) + ": " + std::string(value));
  }
  // One line per line of the message, as the log pane shows it.
  void Failure(std::string_view message) const {
    std::string text;
    std::string_view rest = message;
    for (std::string_view prefix = "ошибка: ";; prefix = {}) {
      std::size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      if (!line.empty() && line.back() == '\r' && end != std::string_view::npos) {
        line.remove_suffix(1);
      }
      text += std::string(prefix) + EscapeForTerminal(line) + '\n';
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
    std::fflush(out);
    std::fputs(text.c_str(), err);
  }
  void Problem(std::string_view path, const SchemaProblem& problem) const {
    std::string text(path);
    if (problem.line) text += ':' + std::to_string(*problem.line);
    Line(text + ": " + problem.reason);
  }
};

// The tool's fields: the arguments after the tool's name, less an option
// and its value, joined and split at commas.
struct ToolArguments {
  std::vector<std::string> fields;
  std::optional<std::string> extractFolder;
  bool wellFormed = true;
};

ToolArguments ParseToolArguments(int argc, const char* const* argv, int maxFields,
                                 bool allowExtract) {
  ToolArguments parsed;
  std::string text;
  for (int i = 2; i < argc; ++i) {
    if (allowExtract && std::strcmp(argv[i], "--extract") == 0 && !parsed.extractFolder) {
      if (i + 1 >= argc) {
        parsed.wellFormed = false;
        break;
      }
      parsed.extractFolder = ExpandEnvVars(argv[++i]);
      continue;
    }
    if (!text.empty()) text += ' ';
    text += argv[i];
  }
  parsed.fields = SplitFields(text, maxFields + 1);
  if (!parsed.fields.back().empty()) parsed.wellFormed = false;
  parsed.fields.pop_back();
  for (std::string& field : parsed.fields) field = ExpandEnvVars(field);
  if (parsed.extractFolder && parsed.extractFolder->empty()) parsed.wellFormed = false;
  return parsed;
}

struct ToolJob {
  explicit ToolJob(const Clock& clock) : clock(clock), params(KeyParameters::Initial(clock)) {}
  const Clock& clock;
  KeyParameters params;
  LogPane log;
  MemoryEventSink events;  // a tool's failures are told on stderr only
  JobContext context{
      .params = params, .log = log, .events = events, .clock = clock, .batchMode = true};
};

// A package's entry as its schema reads it: the source document with its
// namespace declaration back in place.
class DeclaredEntry {
 public:
  explicit DeclaredEntry(PackageFile::Entry entry) : entry_(std::move(entry)) {}

  std::size_t Read(char* buffer, std::size_t length) {
    if (!headRead_) ReadHead();
    if (headAt_ < head_.size()) {
      const std::size_t n = std::min(length, head_.size() - headAt_);
      std::memcpy(buffer, head_.data() + headAt_, n);
      headAt_ += n;
      return n;
    }
    return entry_.Read(buffer, length);
  }

 private:
  // The root's start tag stands near the start, after the declaration and
  // whatever the operator's file put before the root.
  void ReadHead() {
    constexpr std::size_t kMostHead = 1024 * 1024;
    char piece[16 * 1024];
    while (head_.find("dataPacket ") == std::string::npos && head_.size() < kMostHead) {
      const std::size_t got = entry_.Read(piece, sizeof piece);
      if (got == 0) break;
      head_.append(piece, got);
    }
    RestoreNamespaceDeclaration(head_);
    headRead_ = true;
  }

  PackageFile::Entry entry_;
  std::string head_;
  std::size_t headAt_ = 0;
  bool headRead_ = false;
};

// The folder --extract writes into, made when missing. One that another
// user owns (or reached through another user's link) is refused: its owner
// could read or replace what is written there.
std::string OwnFolder(const std::string& folder) {
  std::error_code failed;
  std::filesystem::create_directories(folder, failed);
  if (failed) throw Error("Не удалось создать каталог \"" + folder + "\". " + failed.message());
  struct stat link {};
  struct stat info {};
  if (::lstat(folder.c_str(), &link) != 0 || ::stat(folder.c_str(), &info) != 0) {
    throw Error("Не удалось создать каталог \"" + folder + "\". " + std::strerror(errno));
  }
  const uid_t uid = ::geteuid();
  const uid_t owner = link.st_uid != uid ? link.st_uid : info.st_uid;
  if (owner != uid) {
    throw Error("Каталог \"" + folder + "\" принадлежит другому пользователю (uid " +
                std::to_string(owner) + "), sync.xml в него не записан");
  }
  return folder;
}

int RunCheck(int argc, const char* const* argv, const Clock& clock, const Output& io) {
  const ToolArguments arguments = ParseToolArguments(argc, argv, 3, false);
  const std::vector<std::string>& f = arguments.fields;
  if (!arguments.wellFormed || f[0].empty() || f[1].empty() || f[2].empty()) {
    std::fputs(kCheckUsage.data(), io.err);
    return kExitMissingField;
  }
  ToolJob job(clock);
  const std::uint64_t problems = CheckDocument(
      job.context, f[0], f[1], f[2],
      [&io, &f](const SchemaProblem& problem) { io.Problem(f[0], problem); });
  if (problems == 0) {
    io.Line("Документ соответствует схеме");
    return kExitSuccess;
  }
  io.Line("Ошибок: " + std::to_string(problems));
  return kExitJobFailed;
}

int RunInspect(int argc, const char* const* argv, const Clock& clock, const Output& io) {
  const ToolArguments arguments = ParseToolArguments(argc, argv, 3, true);
  const std::vector<std::string>& f = arguments.fields;
  if (!arguments.wellFormed || f[0].empty() || f[1].empty()) {
    std::fputs(kInspectUsage.data(), io.err);
    return kExitMissingField;
  }
  ToolJob job(clock);
  LoadParamsFromICod(job.context, f[1]);
  const std::string& package = f[0];
  if (const auto name = ParsePackageFileName(package.substr(package.rfind('/') + 1))) {
    io.Fact("office", name->office);
    io.Fact("locale", name->locale);
    io.Fact("kind", name->kind);
    io.Fact("date", name->date);
  }
  const auto fact = [&io](std::string_view name, const std::string& value) { io.Fact(name, value); };
  const PackageFile file(package, job.params.officeKey, fact);
  InspectEntry(file, fact);
  if (arguments.extractFolder) {
    const std::string target = JoinPath(OwnFolder(*arguments.extractFolder), "sync.xml");
    // The document may hold what the office keeps to itself.
    AtomicFileWriter extracted(target, FileAccess::OwnerOnly);
    file.ReadEntry([&extracted](std::string_view piece) { extracted.Write(piece); });
    extracted.Commit();
    io.Fact("extracted", target);
  }
  if (f[2].empty()) return kExitSuccess;

  // The entry is the source document less its namespace declaration; the
  // schema is written for the document with it.
  const SchemaChecker schema(f[2]);
  DeclaredEntry entry(file.OpenEntry());
  const std::uint64_t problems = schema.CheckStream(
      [&entry](char* buffer, std::size_t length) { return entry.Read(buffer, length); },
      [&io](const SchemaProblem& problem) { io.Problem("sync.xml", problem); });
  if (problems == 0) {
    io.Fact("schema", "valid");
    return kExitSuccess;
  }
  io.Fact("schema", "invalid, errors: " + std::to_string(problems));
  return kExitJobFailed;
}

}  // namespace

bool IsToolArgument(const char* argument) { return std::strncmp(argument, "--", 2) == 0; }

int RunOperatorTool(int argc, const char* const* argv, const Clock& clock, std::FILE* out,
                    std::FILE* err) {
  const Output io{out, err};
  const std::string_view tool = argc > 1 ? argv[1] : "";
  InitXmlLibrary();
  int status = kExitJobFailed;
  try {
    if (tool == "--check") status = RunCheck(argc, argv, clock, io);
    if (tool == "--inspect") status = RunInspect(argc, argv, clock, io);
  } catch (const std::exception& e) {
    io.Failure(FailureText(e));
    return kExitJobFailed;
  }
  if (tool == "--check" || tool == "--inspect") {
    // Findings that never reached their reader are no findings.
    if (!OutputDelivered(out, err, "ошибка: ")) return kExitJobFailed;
    return status;
  }
  std::fputs(("Неизвестный параметр " + std::string(tool) + "; см. convertor-orx --help\n").c_str(),
             err);
  return kExitMissingField;
}

}  // namespace orx
