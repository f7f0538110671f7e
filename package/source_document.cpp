#include "package/source_document.h"

#include <libxml/tree.h>

#include <cstdio>
#include <exception>

#include "support/error.h"
#include "support/files.h"
#include "support/xml_document.h"

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

// Declares the default namespace as the first namespace definition of the
// root, which the serialiser writes right after the element name. Doing it in
// the tree rather than in the text keeps a comment, a processing instruction
// or a DOCTYPE before the root that mentions "dataPacket" intact, and gives
// the same bytes otherwise.
void DeclareCertNamespace(XmlNode root) {
  const std::string uri(CertNamespaceUri);
  xmlNsPtr ns = xmlNewNs(nullptr, reinterpret_cast<const xmlChar*>(uri.c_str()), nullptr);
  if (ns == nullptr) throw Error("Out of memory");
  ns->next = root.get()->nsDef;
  root.get()->nsDef = ns;
}

std::string StampedText(const JobContext& context, std::string_view xmlPath) {
  // The input bytes go out of scope once parsed: only the tree stays.
  XmlDocument document = [&] {
    const std::string bytes = FileToString(xmlPath);
    return XmlDocument::ParseText(bytes);
  }();
  XmlNode root = document.Root();
  if (!root) throw Error("Document has no root element");
  root.AddChild("arm", 0).SetAttribute("lastKnownChange", std::int64_t{0});
  root.SetAttribute("version", "2.0");
  root.SetAttribute("name", "mcod");
  root.SetAttribute("ProgramFullVersion", kProgramFullVersion);
  root.SetAttribute("DateOfCreate", FormatDateOfCreate(context.clock.Now()));
  DeclareCertNamespace(root);
  return document.Text();
}

}  // namespace

std::string GetFullSourceName(JobContext& context, std::string_view xmlPath) {
  try {
    const std::string tempDir = GetTempDir();
    if (tempDir.empty()) throw Error("No private temporary folder is available");
    const std::string target = JoinPath(tempDir, kSourceFileName);
    StringToFile(StampedText(context, xmlPath), target);
    return target;
  } catch (const std::exception& e) {
    LogEvent(context.events, context.params.kindTitle, EventType::Error, kCategoryJob,
             kEventOperationFailed, {"TFormMain.GetFullSourceName", e.what()});
    throw Error(e.what());
  }
}

void RemoveNamespaceDeclaration(std::string& text) {
  const std::string declaration = NamespaceDeclaration();
  const auto at = text.find(declaration);
  if (at != std::string::npos) text.erase(at, declaration.size());
}

std::string GetSourceForPacking(std::string_view sourcePath) {
  std::string text = FileToString(sourcePath);
  RemoveNamespaceDeclaration(text);
  return text;
}

}  // namespace orx
