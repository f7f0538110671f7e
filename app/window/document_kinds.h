#pragma once
// The document-kind list of the main window: what each item puts into the
// schema field, and where the key file for it is looked for.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The folders searched, in order, for the key file and the schema of a kind.
struct SearchPlaces {
  std::vector<std::string> keyFolders;
  std::vector<std::string> schemaFolders;
};

// The places of an installed program: its own folder first, then
// ${XDG_DATA_HOME:-$HOME/.local/share}/convertor-orx/keys and
// /etc/convertor-orx/keys; schemas in its folder, then convertor-orx/schemas
// under those two data places and /usr/share/convertor-orx/schemas. A
// relative XDG_DATA_HOME and an unknown home are passed over.
SearchPlaces InstallSearchPlaces(std::string_view programFolder, const char* xdgDataHome,
                                 const char* home);
// The same for this process's environment (HOME unset: the user's home from
// the user database).
SearchPlaces InstallSearchPlaces(std::string_view programFolder);

// The absolute path of the first key file that FindKeyFile finds in the key
// folders, in order.
std::optional<std::string> FindKeyFileIn(const SearchPlaces& places, std::string_view pattern);

// The absolute path of the first regular file named schemaName in the schema
// folders; nullopt when there is none.
std::optional<std::string> FindSchema(const SearchPlaces& places, std::string_view schemaName);

// Tells the operator that schemaName is nowhere and where it was looked for,
// one folder a line.
std::string SchemaNotFoundMessage(const SearchPlaces& places, std::string_view schemaName);

// Where the window keeps its geometry: $APPDATA/ConvertorOrx.xml when APPDATA
// is set, else ${XDG_CONFIG_HOME:-$HOME/.config}/ConvertorOrx.xml. Relative
// values are passed over; with HOME unset the user database names the home.
// Empty when no absolute place is known: the geometry is then not kept.
std::string WindowStateFilePath();

}  // namespace orx
