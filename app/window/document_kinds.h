#pragma once
// The document-kind list of the main window: what each item puts into the
// schema field, and where the key file for it is looked for.
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace orx {

struct DocumentKindItem {
  std::string_view caption;        // the list's item text
  std::string_view schemaName;     // bare file name for the schema field
  std::string_view keyFilePattern;  // "?" stands for exactly one character
};

inline constexpr std::array<DocumentKindItem, 6> kDocumentKindItems{{
    {"Форма А", "FA.xsd", "FA_???_??_i.cod"},
    {"СТ1", "CT1.xsd", "CT_???_??_i.cod"},
    {"Общая форма", "OF.xsd", "OF_???_??_i.cod"},
    {"СТ2", "CT2.xsd", "CT2_???_??_i.cod"},
    {"ИТ", "it.xsd", "IT_???_??_i.cod"},
    {"ТТС", "tts.xsd", "TTC_???_??_i.cod"},
}};

// Appended to the log pane when no key file was found for the chosen kind.
inline constexpr std::string_view kKeyFileNotFoundMessage =
    "Не удалось найти нужный i.cod\r\nУкажите файл вручную!";

// The bare name of the first entry of folder, in the folder's own listing
// order, that matches pattern and has the archive attribute (a regular file);
// hidden entries count. nullopt when there is none or the folder cannot be read.
std::optional<std::string> FindKeyFile(std::string_view folder, std::string_view pattern);

// Where the window keeps its geometry: $APPDATA/ConvertorOrx.xml when APPDATA
// is set, else ${XDG_CONFIG_HOME:-$HOME/.config}/ConvertorOrx.xml.
std::string WindowStateFilePath();

}  // namespace orx
