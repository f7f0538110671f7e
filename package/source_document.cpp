#include "package/source_document.h"

#include <cstdio>
#include <cstring>
#include <exception>

#include "package/stamped_source.h"
#include "support/error.h"
#include "support/files.h"

namespace orx {
namespace {

constexpr std::string_view kSourceFileName = "SourceConvert.xml";

std::string FormatDateOfCreate(const LocalDateTime& date) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d", date.day, date.month, date.year);
  return text;
}

std::string NamespaceDeclaration() {
  std::string declaration = "xmlns=\"";
  declaration += CertNamespaceUri;
  declaration += '"';
  return declaration;
}

}  // namespace

std::string GetFullSourceName(JobContext& context, JobFolder& folder, std::string_view xmlPath,
                              SourceLineMap* lines, TextRelay* copy) {
  try {
    const std::string target = JoinPath(folder.Path(), kSourceFileName);
    WriteStampedSource(xmlPath, target, FormatDateOfCreate(context.clock.Now()), lines, copy);
    folder.Keep(kSourceFileName);
    return target;
  } catch (const std::exception& e) {
    LogEvent(context.events, context.params.kindTitle, EventType::Error, kCategoryJob,
             kEventOperationFailed, {"TFormMain.GetFullSourceName", FailureText(e)});
    throw Error(FailureText(e));
  }
}

void StreamSourceDocument(const Clock& clock, std::string_view xmlPath, SourceLineMap* lines,
                          TextRelay& copy) {
  StreamStampedSource(xmlPath, FormatDateOfCreate(clock.Now()), lines, copy);
}

void RestoreNamespaceDeclaration(std::string& text) {
  constexpr std::string_view kRoot = "dataPacket ";
  const auto at = text.find(kRoot);
  if (at != std::string::npos) text.insert(at + kRoot.size(), NamespaceDeclaration());
}

void RemoveNamespaceDeclaration(std::string& text) {
  const std::string declaration = NamespaceDeclaration();
  const auto at = text.find(declaration);
  if (at != std::string::npos) text.erase(at, declaration.size());
}

void RemoveNamespaceDeclaration(MappedFile& text) {
  const std::string declaration = NamespaceDeclaration();
  const auto at = text.view().find(declaration);
  if (at == std::string_view::npos) return;
  std::memmove(text.data() + declaration.size(), text.data(), at);
  text.RemovePrefix(declaration.size());
}

std::string GetSourceForPacking(std::string_view sourcePath) {
  std::string text = FileToString(sourcePath);
  RemoveNamespaceDeclaration(text);
  return text;
}

}  // namespace orx
