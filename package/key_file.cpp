#include "package/key_file.h"

#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
#include <string>

#include "package/address.h"
#include "package/cipher.h"
#include "support/error.h"
#include "support/event_log.h"
#include "support/files.h"
#include "support/kelma_win.h"
#include "support/xml_document.h"

namespace orx {
namespace {

constexpr std::string_view kOperation = "TFormMain.LoadParamsFromICod";
constexpr std::string_view kForeignKeyFile = "i.cod иной программы";

[[noreturn]] void Reject() { throw Error(std::string(kForeignKeyFile)); }

void SetKind(KeyParameters& params, DocumentKind kind) {
  const DocumentKindInfo& info = DocumentKindInfoOf(kind);
  params.kind = kind;
  params.kindTitle = info.title;
  params.kindName = info.englishName;
}

std::optional<std::string> ElementValue(const XmlNode& parent, std::string_view name) {
  const XmlNode node = parent.FindNode(name);
  if (!node) throw Error("В i.cod не найден элемент " + std::string(name));
  return node.NodeValue();
}

std::optional<std::string> AttributeValue(const XmlNode& node, std::string_view name) {
  std::optional<std::string> value = node.Attribute(name);
  if (!value) throw Error("В i.cod не найден атрибут " + std::string(name));
  return value;
}

// Numbers are refused, not cut to their low bits, when they do not fit: a
// cut office number would silently name and address another office.
std::int64_t InRange(std::string_view item, const std::optional<std::string>& value,
                     std::int64_t low, std::int64_t high) {
  const std::int64_t number = ToInteger(value);
  if (number < low || number > high) {
    throw Error("Значение " + std::string(item) + " вне допустимого диапазона: " +
                std::to_string(number));
  }
  return number;
}

std::uint32_t Unsigned32(std::string_view item, const std::optional<std::string>& value) {
  return static_cast<std::uint32_t>(InRange(item, value, 0, std::numeric_limits<std::uint32_t>::max()));
}

std::int32_t Signed32(std::string_view item, const std::optional<std::string>& value) {
  return static_cast<std::int32_t>(InRange(item, value, std::numeric_limits<std::int32_t>::min(),
                                           std::numeric_limits<std::int32_t>::max()));
}

// Kinds CT2, IT and TTC: the kind in the root's "ARM" attribute.
void ReadLayoutA(const XmlNode& root, const std::string& arm, KeyParameters& params) {
  params.kind = DocumentKind::Unknown;
  if (arm == "CT-2") {
    SetKind(params, DocumentKind::CT2);
  } else if (arm == "Resolution IT") {
    SetKind(params, DocumentKind::IT);
  } else if (arm == "Resolution TTC") {
    SetKind(params, DocumentKind::TTC);
  } else {
    Reject();
  }
  params.officeNumber = Unsigned32("orxNumber", ElementValue(root, "orxNumber"));
  params.localeNumber = Unsigned32("NumLocale", ElementValue(root, "NumLocale"));
  params.officeKey = ToText(ElementValue(root, "orxKey"));
  params.serverAddress = ToText(ElementValue(root, "url"));
  params.serverPort = PortFromAddress(params.serverAddress);
}

// The general form: a "for" element naming it.
void ReadLayoutB(const XmlNode& root, const XmlNode& forNode, KeyParameters& params) {
  if (forNode.NodeValue() != "GeneralForm") Reject();
  params.kind = DocumentKind::OF;
  params.kindTitle = DocumentKindInfoOf(DocumentKind::OF).title;
  params.officeNumber = Unsigned32("orxNumber", ElementValue(root, "orxNumber"));
  params.localeNumber = Unsigned32("NumLocale", ElementValue(root, "NumLocale"));
  params.officeKey = ToText(ElementValue(root, "orxKey"));
  params.serverAddress = ToText(ElementValue(root, "adr"));
  params.serverPort = Signed32("port", ElementValue(root, "port"));
  params.kindName = DocumentKindInfoOf(DocumentKind::OF).englishName;
}

// Form A and CT-1: everything in the attributes of ROWDATA/ROW.
void ReadLayoutC(const XmlNode& root, KeyParameters& params) {
  const XmlNode rowData = root.FindNode("ROWDATA");
  if (!rowData) Reject();
  const XmlNode row = rowData.FindNode("ROW");
  if (!row) Reject();
  const std::string code = ToText(AttributeValue(row, "PK_Code"));
  if (code == "FA") {
    SetKind(params, DocumentKind::FA);
  } else if (code == "CT1") {
    SetKind(params, DocumentKind::CT1);
  } else {
    Reject();
  }
  params.officeNumber = Unsigned32("orxn", AttributeValue(row, "orxn"));
  params.localeNumber = Unsigned32("NumLocale", AttributeValue(row, "NumLocale"));
  // An attribute is never Null: an empty orxk is an empty office key (the
  // package is then enciphered with the fixed key text), and an empty sadr
  // concerns only the server job, which refuses it when it splits the
  // address. An empty element of layouts A and B fails as Null does.
  params.officeKey = ToText(AttributeValue(row, "orxk"));
  params.serverAddress = ToText(AttributeValue(row, "sadr"));
  params.serverPort = Signed32("sport", AttributeValue(row, "sport"));
}

void ReadKeyFile(KeyParameters& params, std::string_view path) {
  // Key files are a few hundred bytes; anything far larger (or endless, as a
  // device) is not one and must not be read whole into memory.
  constexpr std::size_t kLimit = 1024 * 1024;
  const std::string expanded = ExpandEnvVars(path);
  std::string bytes =
      FileToString(expanded, kLimit, "Файл i.cod \"" + expanded + "\" больше 1 МиБ");
  DecryptCodStream(bytes, "");
  // What the bytes hold is never quoted: deciphered with the right key they
  // hold the office key, with a wrong one they are noise.
  const std::string notKeyFile =
      "Файл \"" + expanded + "\" не является ключевым файлом i.cod этой программы или повреждён";
  // The office's tool writes no DTD, and one could make every element carry
  // thousands of attributes.
  if (bytes.find("<!DOCTYPE") != std::string::npos) {
    throw Error(notKeyFile + ": в нём есть объявление DTD (<!DOCTYPE>)");
  }
  std::optional<XmlDocument> parsed;
  try {
    parsed.emplace(XmlDocument::Parse(bytes));
  } catch (const Error&) {
    throw Error(notKeyFile);
  }
  const XmlDocument& doc = *parsed;
  const XmlNode root = doc.Root();
  if (const std::optional<std::string> arm = root.Attribute("ARM")) {
    ReadLayoutA(root, *arm, params);
  } else if (const XmlNode forNode = root.FindNode("for")) {
    ReadLayoutB(root, forNode, params);
  } else {
    ReadLayoutC(root, params);
  }
}

}  // namespace

void LoadParamsFromICod(JobContext& context, std::string_view path) {
  context.log.Clear();
  try {
    ReadKeyFile(context.params, path);
  } catch (const std::exception& e) {
    const std::string message = FailureText(e);
    LogEvent(context.events, context.params.kindTitle, EventType::Error, kCategoryJob,
             kEventOperationFailed, {std::string(kOperation), message});
    throw Error(message);
  }
}

}  // namespace orx
