#include "support/xml_reason_wording.h"

#include <array>
#include <optional>

namespace orx {
namespace {

// One reason as libxml2 (2.9) words it and as the operator reads it. In
// `library`, %1 to %9 stand for the pieces the reason carries (names,
// values, numbers), in the order they appear; `own` puts them in its place.
struct Wording {
  std::string_view library;
  std::string_view own;
};

// The validator names the element, and the attribute when there is one,
// before its reason, which is then worded by kReasons.
constexpr Wording kPlaces[] = {
    {"Element '%1', attribute '%2': %3", "Элемент '%1', атрибут '%2': %3"},
    {"Element '%1': %3", "Элемент '%1': %3"},
};

constexpr Wording kReasons[] = {
    // Schema validator: the element's place and content.
    {"This element is not expected. Expected is ( %1 ).",
     "здесь этот элемент не допускается; ожидается ( %1 )."},
    {"This element is not expected. Expected is one of ( %1 ).",
     "здесь этот элемент не допускается; ожидается один из ( %1 )."},
    {"This element is not expected.", "здесь этот элемент не допускается."},
    {"Missing child element(s). Expected is ( %1 ).",
     "не хватает вложенного элемента; ожидается ( %1 )."},
    {"Missing child element(s). Expected is one of ( %1 ).",
     "не хватает вложенного элемента; ожидается один из ( %1 )."},
    {"No matching global declaration available for the validation root.",
     "в схеме нет объявления для корневого элемента документа."},
    {"Character content other than whitespace is not allowed because the content type is "
     "'element-only'.",
     "текст здесь не допускается, элемент содержит только вложенные элементы."},
    {"Element content is not allowed, because the type definition is simple.",
     "вложенные элементы не допускаются, элемент содержит только значение."},
    {"Element content is not allowed, because the content type is empty.",
     "элемент должен быть пустым, вложенные элементы не допускаются."},
    {"Character content is not allowed, because the content type is empty.",
     "элемент должен быть пустым, текст не допускается."},
    // Schema validator: values, their types and facets.
    {"'%1' is not a valid value of the atomic type '%2'.",
     "значение '%1' недопустимо для типа '%2'."},
    {"'%1' is not a valid value of the local atomic type.",
     "значение '%1' недопустимо для типа этого элемента."},
    {"'%1' is not a valid value of the list type '%2'.",
     "значение '%1' недопустимо для списка типа '%2'."},
    {"'%1' is not a valid value of the local list type.",
     "значение '%1' недопустимо для списка этого элемента."},
    {"'%1' is not a valid value of the union type '%2'.",
     "значение '%1' не подходит ни к одному из типов объединения '%2'."},
    {"'%1' is not a valid value of the local union type.",
     "значение '%1' не подходит ни к одному из типов этого элемента."},
    {"[facet 'pattern'] The value '%1' is not accepted by the pattern '%2'.",
     "значение '%1' не соответствует шаблону '%2'."},
    {"[facet 'length'] The value has a length of '%1'; this differs from the allowed length of "
     "'%2'.",
     "длина значения %1, а должна быть %2."},
    {"[facet 'minLength'] The value has a length of '%1'; this underruns the allowed minimum "
     "length of '%2'.",
     "длина значения %1, а должна быть не меньше %2."},
    {"[facet 'maxLength'] The value has a length of '%1'; this exceeds the allowed maximum length "
     "of '%2'.",
     "длина значения %1, а должна быть не больше %2."},
    {"[facet 'enumeration'] The value '%1' is not an element of the set {%2}.",
     "значение '%1' не входит в список допустимых {%2}."},
    {"[facet 'minInclusive'] The value '%1' is less than the minimum value allowed ('%2').",
     "значение '%1' меньше наименьшего допустимого ('%2')."},
    {"[facet 'maxInclusive'] The value '%1' is greater than the maximum value allowed ('%2').",
     "значение '%1' больше наибольшего допустимого ('%2')."},
    {"[facet 'minExclusive'] The value '%1' must be greater than '%2'.",
     "значение '%1' должно быть больше '%2'."},
    {"[facet 'maxExclusive'] The value '%1' must be less than '%2'.",
     "значение '%1' должно быть меньше '%2'."},
    {"[facet 'totalDigits'] The value '%1' has more digits than are allowed ('%2').",
     "в значении '%1' больше цифр, чем допустимо ('%2')."},
    {"[facet 'fractionDigits'] The value '%1' has more fractional digits than are allowed ('%2').",
     "в значении '%1' больше цифр после запятой, чем допустимо ('%2')."},
    {"Duplicate key-sequence [%1] in unique identity-constraint '%2'.",
     "значение [%1] повторяется, а должно быть единственным (ограничение '%2')."},
    {"Duplicate key-sequence [%1] in key identity-constraint '%2'.",
     "значение [%1] повторяется, а должно быть единственным (ключ '%2')."},
    // Schema validator: attributes.
    {"The attribute '%1' is required but missing.", "не указан обязательный атрибут '%1'."},
    {"The attribute '%1' is not allowed.", "атрибут '%1' здесь не допускается."},

    // Parser: tags.
    {"Opening and ending tag mismatch: %1 line %2 and %3",
     "Открывающий тег <%1> из строки %2 закрыт тегом </%3>"},
    {"Premature end of data in tag %1 line %2",
     "Документ оборвался внутри элемента <%1>, открытого в строке %2"},
    {"EndTag: '</' not found", "Не найден закрывающий тег"},
    {"Couldn't find end of Start Tag %1 line %2",
     "Не найден конец открывающего тега <%1> в строке %2"},
    {"StartTag: invalid element name", "Недопустимое имя элемента"},
    {"Extra content at the end of the document", "Лишнее содержимое после конца документа"},
    {"Start tag expected, '<' not found", "Это не XML: нет открывающего тега '<'"},
    {"Document is empty", "Документ пуст"},
    {"Comment not terminated", "Комментарий не закрыт"},
    {"Double hyphen within comment", "Двойной дефис внутри комментария"},
    {"CData section not finished %1", "Раздел CDATA не закрыт"},
    {"Sequence ']]>' not allowed in content", "Последовательность ']]>' в тексте не допускается"},
    {"Excessive depth in document: %1 use XML_PARSE_HUGE option",
     "Слишком глубокая вложенность элементов (больше %1)"},
    // Parser: attributes.
    {"Attribute %1 redefined", "Атрибут %1 указан дважды"},
    {"Specification mandates value for attribute %1", "У атрибута %1 нет значения"},
    {"AttValue: \" or ' expected", "Значение атрибута должно стоять в кавычках"},
    {"attributes construct error", "Ошибка в записи атрибутов"},
    {"error parsing attribute name", "Ошибка в имени атрибута"},
    {"Unescaped '<' not allowed in attributes values",
     "Знак '<' в значении атрибута не допускается (пишется &lt;)"},
    {"Namespace prefix %1 on %2 is not defined",
     "Префикс пространства имён %1 у элемента %2 не объявлен"},
    {"Namespace prefix %1 for %2 on %3 is not defined",
     "Префикс пространства имён %1 у атрибута %2 элемента %3 не объявлен"},
    // Parser: characters, encodings and entities.
    {"Input is not proper UTF-8, indicate encoding ! Bytes: %1",
     "Текст не в кодировке UTF-8; если файл в другой кодировке, укажите её в объявлении XML "
     "(байты %1)"},
    {"input conversion failed due to input error, bytes %1",
     "Текст не соответствует объявленной кодировке (байты %1)"},
    {"Unsupported encoding %1", "Кодировка %1 не поддерживается"},
    {"Document labelled UTF-16 but has UTF-8 content",
     "Документ объявлен в кодировке UTF-16, а записан в UTF-8"},
    {"PCDATA invalid Char value %1", "Недопустимый символ в тексте (код %1)"},
    {"Char 0x%1 out of allowed range", "Недопустимый символ (код 0x%1)"},
    {"invalid character in attribute value", "Недопустимый символ в значении атрибута"},
    {"xmlParseCharRef: invalid xmlChar value %1", "Ссылка на недопустимый символ (код %1)"},
    {"Entity '%1' not defined", "Сущность '%1' не определена"},
    {"EntityRef: expecting ';'", "В ссылке на сущность нет завершающей ';'"},
    {"xmlParseEntityRef: no name", "Знак '&' без имени сущности (пишется &amp;)"},
    {"Detected an entity reference loop", "Сущности ссылаются друг на друга по кругу"},
};

constexpr std::size_t kMostPieces = 9;
using Pieces = std::array<std::string_view, kMostPieces + 1>;

bool IsSlot(std::string_view pattern, std::size_t at) {
  return at + 1 < pattern.size() && pattern[at] == '%' && pattern[at + 1] >= '1' &&
         pattern[at + 1] <= '9';
}

// The literal text of pattern from `from` to its next slot (or its end).
std::string_view LiteralAt(std::string_view pattern, std::size_t from) {
  std::size_t end = from;
  while (end < pattern.size() && !IsSlot(pattern, end)) ++end;
  return pattern.substr(from, end - from);
}

// Whether text has the form of pattern; the pieces then hold what its slots
// stand for. A slot takes the text up to the first place where the literal
// after it follows; the last slot takes everything up to the pattern's end.
bool Match(std::string_view pattern, std::string_view text, Pieces& pieces) {
  std::string_view literal = LiteralAt(pattern, 0);
  if (!text.starts_with(literal)) return false;
  std::size_t at = literal.size();   // in pattern
  std::size_t read = literal.size();  // in text
  while (at < pattern.size()) {
    const std::size_t slot = static_cast<std::size_t>(pattern[at + 1] - '0');
    at += 2;
    literal = LiteralAt(pattern, at);
    at += literal.size();
    std::size_t end = 0;
    if (at == pattern.size()) {
      if (text.size() - read < literal.size() || !text.ends_with(literal)) return false;
      end = text.size() - literal.size();
    } else {
      end = text.find(literal, read);
      if (end == std::string_view::npos) return false;
    }
    pieces[slot] = text.substr(read, end - read);
    read = end + literal.size();
  }
  return read == text.size();
}

std::string Fill(std::string_view own, const Pieces& pieces) {
  std::string result;
  result.reserve(own.size());
  for (std::size_t i = 0; i < own.size(); ++i) {
    if (IsSlot(own, i)) {
      result += pieces[static_cast<std::size_t>(own[i + 1] - '0')];
      ++i;
    } else {
      result += own[i];
    }
  }
  return result;
}

std::optional<std::string> Reword(std::string_view text) {
  Pieces pieces;
  for (const Wording& wording : kReasons) {
    if (Match(wording.library, text, pieces)) return Fill(wording.own, pieces);
  }
  return std::nullopt;
}

// The reason on one line: line ends inside it become blanks, those at its
// end go.
std::string OneLine(std::string_view reason) {
  std::string line(reason);
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

}  // namespace

std::string XmlReasonWording(std::string_view reason) {
  const std::string line = OneLine(reason);
  if (std::optional<std::string> own = Reword(line)) return *own;
  Pieces pieces;
  for (const Wording& place : kPlaces) {
    if (!Match(place.library, line, pieces)) continue;
    std::optional<std::string> own = Reword(pieces[3]);
    if (!own) break;
    pieces[3] = *own;
    return Fill(place.own, pieces);
  }
  return std::string(reason);
}

}  // namespace orx
