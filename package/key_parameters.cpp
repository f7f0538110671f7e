#include "package/key_parameters.h"

#include <array>
#include <cstdio>

#include "support/kelma_win.h"

namespace orx {
namespace {

constexpr std::array<DocumentKindInfo, 7> kKinds{{
    {DocumentKind::Unknown, "Unknown", "", ""},
    {DocumentKind::FA, "FA", "Форма А", "Form A"},
    {DocumentKind::CT1, "CT1", "Сертификат СТ-1", "CT1"},
    {DocumentKind::OF, "OF", "Общая форма", "Certificate of origin"},
    {DocumentKind::CT2, "CT2", "Сертификат СТ-2", "CT2"},
    {DocumentKind::IT, "IT", "Заключения ИТ", "IT"},
    {DocumentKind::TTC, "TTC", "Заключения ТТС", "TTS"},
}};

}  // namespace

const DocumentKindInfo& DocumentKindInfoOf(DocumentKind kind) {
  const auto index = static_cast<std::size_t>(kind);
  return index < kKinds.size() ? kKinds[index] : kKinds[0];
}

std::string DocumentKindCode(DocumentKind kind) { return std::string(DocumentKindInfoOf(kind).code); }

std::string FormatStartDate(const LocalDateTime& date) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d.%02d.%02d", date.year, date.month, date.day);
  return text;
}

KeyParameters KeyParameters::Initial(const Clock& clock) {
  KeyParameters params;
  params.startDate = FormatStartDate(clock.Now());
  return params;
}

std::string PackageFileName(const KeyParameters& params, std::string_view folder) {
  std::string name(folder);
  name += DocumentKindCode(params.kind);
  name += '_';
  name += PadLeft(std::to_string(params.officeNumber), '0', 3);
  name += '_';
  name += PadLeft(std::to_string(params.localeNumber), '0', 2);
  name += '_';
  name += params.startDate;
  name += "_x.zip.cod";
  return name;
}

}  // namespace orx
