#include "package/schema_validation.h"

#include <gtest/gtest.h>
#include <libxml/xmlerror.h>

#include <ostream>

#include "package/document_check.h"
#include "support/error.h"
#include "testing/job_fixture.h"

namespace orx {
namespace {

using ::orx::testing::ErrorRecord;

const std::string kSchema = R"(<?xml version="1.0"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:orx-rf:certificates"
           xmlns="urn:orx-rf:certificates" elementFormDefault="qualified">
  <xs:include schemaLocation="types.xsd"/>
  <xs:element name="dataPacket">
    <xs:complexType><xs:sequence>
      <xs:element name="arm"/>
      <xs:element name="num" type="Count" maxOccurs="unbounded"/>
    </xs:sequence><xs:anyAttribute processContents="skip"/></xs:complexType>
  </xs:element>
</xs:schema>)";
const std::string kTypes = R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"
    targetNamespace="urn:orx-rf:certificates">
  <xs:simpleType name="Count"><xs:restriction base="xs:positiveInteger"/></xs:simpleType>
</xs:schema>)";
// The start of an operator's certificate XML; the preparation stamps in the
// namespace and "arm".
const std::string kOpen = "<?xml version=\"1.0\"?>\r\n<dataPacket>\r\n";

class SchemaValidationTest : public ::orx::testing::JobFixture {
 protected:
  SchemaValidationTest() {
    dir_.Write("types.xsd", kTypes);
    schema_ = dir_.Write("s.xsd", kSchema);
  }

  // The document prepared and checked as a job does, written to the job's
  // folder (the relay reads the file behind the writer) or handed to the
  // check alone (as --check does): both must read the same.
  bool Validate(const std::string& xmlPath, const std::string& xsdPath, bool written) {
    JobFolder folder;
    SourcePreparation source(xsdPath, SourcePreparation::Wanted::FirstProblem);
    (void)source.Stamp(job_.context, written ? &folder : nullptr, xmlPath);
    return ValidateXmlBySchema(job_.context, source);
  }

  std::string schema_;
};

TEST_F(SchemaValidationTest, ValidDocumentLeavesNoTrace) {
  ::orx::testing::ScopedEnv env("ORX_TEST_DIR", dir_.path().c_str());
  const std::string document = dir_.Write("ok.xml", kOpen + "<num>3</num>\r\n</dataPacket>\r\n");
  for (const bool written : {true, false}) {
    EXPECT_TRUE(Validate(document, "%ORX_TEST_DIR%/s.xsd", written));
    EXPECT_TRUE(job_.log.Lines().empty());
    EXPECT_TRUE(job_.events.records().empty());
  }
}

struct InvalidCase {
  std::string document;
  std::string reason;  // the whole reason text
};

void PrintTo(const InvalidCase& c, std::ostream* out) { *out << '"' << c.reason.substr(0, 60) << '"'; }

class InvalidDocumentTest : public SchemaValidationTest,
                            public ::testing::WithParamInterface<InvalidCase> {};

TEST_P(InvalidDocumentTest, ReportsTheFirstErrorOnceAndReturnsFalse) {
  const std::string path = dir_.Write("doc.xml", GetParam().document);
  for (const bool written : {true, false}) {
    job_.log.Clear();
    job_.events.clear();
    EXPECT_FALSE(Validate(path, schema_, written));
    ASSERT_EQ(job_.log.Lines().size(), 1u);
    const std::string& reason = job_.log.Lines()[0];
    EXPECT_EQ(reason, GetParam().reason);
    EXPECT_EQ(job_.events.records(),
              std::vector{ErrorRecord("ОРХ РФ", {"xml не прошел проверку", reason})});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Documents, InvalidDocumentTest,
    ::testing::Values(
        InvalidCase{kOpen + "<num>3</num>\r\n<bogus/>\r\n</dataPacket>",
                    "Элемент '{urn:orx-rf:certificates}bogus': здесь этот элемент не "
                    "допускается; ожидается ( {urn:orx-rf:certificates}num ). (строка 4)"},
        InvalidCase{kOpen + "<num>-3</num>\r\n</dataPacket>",
                    "Элемент '{urn:orx-rf:certificates}num': значение '-3' недопустимо для "
                    "типа '{urn:orx-rf:certificates}Count'. (строка 3)"},
        InvalidCase{"<other>\r\n<num>1</num></other>",
                    "Элемент '{urn:orx-rf:certificates}other': в схеме нет объявления для "
                    "корневого элемента документа. (строка 1)"},
        // Lines past 65535 keep their true number.
        InvalidCase{kOpen + std::string(70000, '\n') + "<num>0</num></dataPacket>",
                    "Элемент '{urn:orx-rf:certificates}num': значение '0' недопустимо для "
                    "типа '{urn:orx-rf:certificates}Count'. (строка 70003)"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// Every reason libxml2 gives for these documents, in the program's wording:
// each row is a real failure of the parser or the validator.
TEST_F(SchemaValidationTest, LibraryReasonsReadInTheProgramsWording) {
  const std::string schema = dir_.Write("kinds.xsd", R"(<?xml version="1.0"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:orx-rf:certificates"
    xmlns="urn:orx-rf:certificates" xmlns:c="urn:orx-rf:certificates" elementFormDefault="qualified">
  <xs:simpleType name="Digits"><xs:restriction base="xs:string">
    <xs:pattern value="[0-9]{3}"/></xs:restriction></xs:simpleType>
  <xs:element name="p"><xs:complexType><xs:sequence>
    <xs:element name="a" minOccurs="0"/><xs:element name="b" minOccurs="0"/>
    <xs:element name="pos" type="xs:positiveInteger" minOccurs="0"/>
    <xs:element name="pat" type="Digits" minOccurs="0"/>
    <xs:element name="len" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string">
      <xs:length value="3"/></xs:restriction></xs:simpleType></xs:element>
    <xs:element name="min" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string">
      <xs:minLength value="3"/></xs:restriction></xs:simpleType></xs:element>
    <xs:element name="max" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string">
      <xs:maxLength value="3"/></xs:restriction></xs:simpleType></xs:element>
    <xs:element name="en" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string">
      <xs:enumeration value="P"/><xs:enumeration value="W"/></xs:restriction></xs:simpleType></xs:element>
    <xs:element name="range" minOccurs="0"><xs:simpleType><xs:restriction base="xs:decimal">
      <xs:minInclusive value="1"/><xs:maxInclusive value="99"/>
      <xs:totalDigits value="3"/><xs:fractionDigits value="1"/></xs:restriction></xs:simpleType></xs:element>
    <xs:element name="open" minOccurs="0"><xs:simpleType><xs:restriction base="xs:integer">
      <xs:minExclusive value="1"/><xs:maxExclusive value="9"/></xs:restriction></xs:simpleType></xs:element>
    <xs:element name="list" minOccurs="0"><xs:simpleType><xs:list itemType="xs:date"/></xs:simpleType></xs:element>
    <xs:element name="either" minOccurs="0"><xs:simpleType><xs:union memberTypes="xs:int xs:date"/></xs:simpleType></xs:element>
    <xs:element name="kids" minOccurs="0"><xs:complexType><xs:sequence>
      <xs:element name="k1"/><xs:element name="k2"/></xs:sequence></xs:complexType></xs:element>
    <xs:element name="none" minOccurs="0"><xs:complexType/></xs:element>
    <xs:element name="c" minOccurs="0" maxOccurs="unbounded"><xs:complexType>
      <xs:attribute name="n" type="xs:int" use="required"/></xs:complexType></xs:element>
  </xs:sequence></xs:complexType>
  <xs:unique name="once"><xs:selector xpath="c:c"/><xs:field xpath="@n"/></xs:unique>
  </xs:element>
</xs:schema>)");
  const SchemaChecker checker(schema);
  const std::string root = "<p xmlns=\"urn:orx-rf:certificates\">";
  const std::string p = "Элемент '{urn:orx-rf:certificates}";
  const struct {
    std::string document;
    std::string reason;
  } cases[] = {
      {root + "<b/><a/></p>",
       p + "a': здесь этот элемент не допускается; ожидается один из ( "
           "{urn:orx-rf:certificates}pos, {urn:orx-rf:certificates}pat, {urn:orx-rf:certificates}len, "
           "{urn:orx-rf:certificates}min, {urn:orx-rf:certificates}max, {urn:orx-rf:certificates}en, "
           "{urn:orx-rf:certificates}range, {urn:orx-rf:certificates}open, "
           "{urn:orx-rf:certificates}list, {urn:orx-rf:certificates}either )."},
      {root + "<kids><k2/></kids></p>",
       p + "k2': здесь этот элемент не допускается; ожидается ( {urn:orx-rf:certificates}k1 )."},
      {root + "<kids><k1/></kids></p>",
       p + "kids': не хватает вложенного элемента; ожидается ( {urn:orx-rf:certificates}k2 )."},
      {"<p/>", "Элемент 'p': в схеме нет объявления для корневого элемента документа."},
      {root + "<kids>текст<k1/><k2/></kids></p>",
       p + "kids': текст здесь не допускается, элемент содержит только вложенные элементы."},
      {root + "<pos><a/>1</pos></p>",
       p + "pos': вложенные элементы не допускаются, элемент содержит только значение."},
      {root + "<none>x</none></p>", p + "none': элемент должен быть пустым, текст не допускается."},
      {root + "<none><a/></none></p>",
       p + "none': элемент должен быть пустым, вложенные элементы не допускаются."},
      {root + "<pos>-3</pos></p>", p + "pos': значение '-3' недопустимо для типа 'xs:positiveInteger'."},
      {root + "<pat>12</pat></p>", p + "pat': значение '12' не соответствует шаблону '[0-9]{3}'."},
      {root + "<len>1234</len></p>", p + "len': длина значения 4, а должна быть 3."},
      {root + "<min>1</min></p>", p + "min': длина значения 1, а должна быть не меньше 3."},
      {root + "<max>1234</max></p>", p + "max': длина значения 4, а должна быть не больше 3."},
      {root + "<en>Z</en></p>", p + "en': значение 'Z' не входит в список допустимых {'P', 'W'}."},
      {root + "<range>0</range></p>", p + "range': значение '0' меньше наименьшего допустимого ('1')."},
      {root + "<range>100</range></p>",
       p + "range': значение '100' больше наибольшего допустимого ('99')."},
      {root + "<range>1.25</range></p>",
       p + "range': в значении '1.25' больше цифр после запятой, чем допустимо ('1')."},
      {root + "<range>12.5e0</range></p>",
       p + "range': значение '12.5e0' недопустимо для типа этого элемента."},
      {root + "<open>1</open></p>", p + "open': значение '1' должно быть больше '1'."},
      {root + "<open>9</open></p>", p + "open': значение '9' должно быть меньше '9'."},
      {root + "<list>2024-01-01 2024-13-01</list></p>",
       p + "list': значение '2024-13-01' недопустимо для типа 'xs:date'."},
      {root + "<either>x</either></p>",
       p + "either': значение 'x' не подходит ни к одному из типов этого элемента."},
      {root + "<c/></p>", p + "c': не указан обязательный атрибут 'n'."},
      {root + "<c n=\"1\" m=\"2\"/></p>",
       p + "c', атрибут 'm': атрибут 'm' здесь не допускается."},
      {root + "<c n=\"x\"/></p>", p + "c', атрибут 'n': значение 'x' недопустимо для типа 'xs:int'."},
      {root + "<c n=\"7\"/><c n=\"7\"/></p>",
       p + "c': значение ['7'] повторяется, а должно быть единственным (ограничение "
           "'{urn:orx-rf:certificates}once')."},
      // The parser's reasons.
      {root + "<kids><k1></kids></p>", "Открывающий тег <k1> из строки 1 закрыт тегом </kids>"},
      {root + "<kids>", "Документ оборвался внутри элемента <kids>, открытого в строке 1"},
      {root + "<a", "Не найден конец открывающего тега <a> в строке 1"},
      {root + "</p><p/>", "Лишнее содержимое после конца документа"},
      {"i.cod", "Это не XML: нет открывающего тега '<'"},
      {"", "Документ пуст"},
      {root + "<a>\x01</a></p>", "Недопустимый символ в тексте (код 1)"},
      {root + "<a>\xC0\x41</a></p>",
       "Текст не в кодировке UTF-8; если файл в другой кодировке, укажите её в объявлении XML "
       "(байты 0xC0 0x41 0x3C 0x2F)"},
      {"<?xml version=\"1.0\" encoding=\"windows-1251\"?>" + root + "\x98</p>",
       "Текст не соответствует объявленной кодировке (байты 0x98 0x3C 0x2F 0x70)"},
      {root + "<c n=\"1\" n=\"2\"/></p>", "Атрибут n указан дважды"},
      {root + "<c n=1/></p>", "Значение атрибута должно стоять в кавычках"},
      {root + "<c n=\"<\"/></p>", "Знак '<' в значении атрибута не допускается (пишется &lt;)"},
      {root + "<a>&nbsp;</a></p>", "Сущность 'nbsp' не определена"},
      {root + "<a>A & B</a></p>", "Знак '&' без имени сущности (пишется &amp;)"},
      {root + "<x:a/></p>", "Префикс пространства имён x у элемента a не объявлен"},
      {root + "<a><!-- a -- b --></a></p>", "Двойной дефис внутри комментария"},
      // A reason without a wording stays as libxml2 gave it.
      {"<?xml version=\"1.0\"?>" + root + "<?xml version=\"1.0\"?></p>",
       "XML declaration allowed only at the start of the document"},
  };
  for (const auto& c : cases) {
    std::string first;
    checker.CheckText(c.document, [&first](const SchemaProblem& problem) {
      if (first.empty()) first = problem.reason;
    });
    EXPECT_EQ(first, c.reason) << c.document;
  }
}

TEST_F(SchemaValidationTest, SchemaProblemsThrowInsteadOfReporting) {
  const std::pair<std::string, std::string> schemas[] = {
      {"<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" targetNamespace=\"urn:other\"/>",
       "urn:other"},
      {"<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"/>",
       "нет целевого пространства имён"},
      {"<notschema/>", "is not a schema"},
      {"<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" targetNamespace=\"urn:orx-rf:certificates\">"
       "<xs:include schemaLocation=\"http://127.0.0.1:9/remote.xsd\"/></xs:schema>",
       "remote.xsd"},
  };
  const std::string document = dir_.Write("ok.xml", kOpen + "<num>3</num></dataPacket>");
  for (const auto& [schema, fragment] : schemas) {
    try {
      (void)Validate(document, dir_.Write("bad.xsd", schema), true);
      ADD_FAILURE() << schema;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW((void)Validate(document, dir_ / "none.xsd", true), Error);
  EXPECT_TRUE(job_.log.Lines().empty());
  EXPECT_TRUE(job_.events.records().empty());
}

// Only what libxml2 finds in the document is a verdict on it; running out
// of memory or failing to read is a failure of the job.
TEST(SchemaCheckErrors, OnlyTheDocumentsOwnErrorsAreProblems) {
  const struct {
    int domain;
    int code;
    const char* message;
    CheckFault fault;
  } cases[] = {
      {XML_FROM_SCHEMASV, XML_SCHEMAV_CVC_ELT_1, "Element 'x': No matching global declaration", CheckFault::Problem},
      {XML_FROM_PARSER, XML_ERR_TAG_NAME_MISMATCH, "Opening and ending tag mismatch", CheckFault::Problem},
      {XML_FROM_PARSER, XML_ERR_NO_MEMORY, "Memory allocation failed", CheckFault::OutOfMemory},
      {XML_FROM_MEMORY, XML_ERR_NO_MEMORY, "Memory allocation failed : growing buffer", CheckFault::OutOfMemory},
      // No memory left even for the message ("Unknown error").
      {XML_FROM_SCHEMASV, XML_SCHEMAV_CVC_ELT_1, nullptr, CheckFault::OutOfMemory},
      {XML_FROM_IO, XML_IO_EIO, "Input/output error", CheckFault::ReadFailure},
      {XML_FROM_SCHEMASV, XML_SCHEMAV_INTERNAL, "Internal error: xmlSchemaVStart", CheckFault::Internal},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassifyCheckError(c.domain, c.code, c.message), c.fault) << c.domain << " " << c.code;
  }
}

// A reader's own failure is what --inspect's check tells, not the parser's
// complaint about it.
TEST(SchemaCheckErrors, AReadersFailureIsThrownAsItIs) {
  testing::ScratchDir dir;
  const SchemaChecker schema(dir.Write("s.xsd", R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"
      targetNamespace="urn:orx-rf:certificates"><xs:element name="r"/></xs:schema>)"));
  int reported = 0;
  try {
    schema.CheckStream([](char*, std::size_t) -> std::size_t { throw Error("CRC error"); },
                       [&](const SchemaProblem&) { ++reported; });
    ADD_FAILURE() << "nothing thrown";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "CRC error");
  }
  EXPECT_EQ(reported, 0);
}

}  // namespace
}  // namespace orx
