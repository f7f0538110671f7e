#pragma once
// The working parameters of a job: what the key file says about the office and
// its server, the document kind, and the start-up date.
#include <cstdint>
#include <string>
#include <string_view>

#include "support/clock.h"

namespace orx {

enum class DocumentKind : std::uint8_t { Unknown = 0, FA = 1, CT1 = 2, OF = 3, CT2 = 4, IT = 5, TTC = 6 };

struct DocumentKindInfo {
  DocumentKind kind;
  std::string_view code;
  std::string_view title;        // Russian title, also the key-file records' event source
  std::string_view englishName;  // what the client certificate's subject must contain
};

const DocumentKindInfo& DocumentKindInfoOf(DocumentKind kind);
std::string DocumentKindCode(DocumentKind kind);

// "YYYY.MM.DD"
std::string FormatStartDate(const LocalDateTime& date);

struct KeyParameters {
  std::uint32_t officeNumber = 0;
  std::uint32_t localeNumber = 0;
  std::string officeKey;      // single-byte text
  std::string serverAddress;  // single-byte text
  std::int32_t serverPort = 0;
  DocumentKind kind = DocumentKind::Unknown;
  std::string kindTitle = "ОРХ РФ";
  std::string kindName;
  std::string startDate;  // fixed for the program's run

  // The initial values, with the start-up date taken from clock.
  static KeyParameters Initial(const Clock& clock);
};

// folder must end with "/". folder + CODE_NNN_LL_YYYY.MM.DD_x.zip.cod, the
// numbers brought to exactly 3 and 2 digits (left-padded with 0, or cut to
// their last digits).
std::string PackageFileName(const KeyParameters& params, std::string_view folder);

}  // namespace orx
