#include "package/schema_validation.h"

#include <gtest/gtest.h>

#include <ostream>

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
    </xs:sequence></xs:complexType>
  </xs:element>
</xs:schema>)";
const std::string kTypes = R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"
    targetNamespace="urn:orx-rf:certificates">
  <xs:simpleType name="Count"><xs:restriction base="xs:positiveInteger"/></xs:simpleType>
</xs:schema>)";
const std::string kOpen = "<?xml version=\"1.0\"?>\r\n<dataPacket xmlns=\"urn:orx-rf:certificates\">\r\n<arm/>\r\n";

class SchemaValidationTest : public ::orx::testing::JobFixture {
 protected:
  SchemaValidationTest() {
    dir_.Write("types.xsd", kTypes);
    schema_ = dir_.Write("s.xsd", kSchema);
  }
  std::string schema_;
};

TEST_F(SchemaValidationTest, ValidDocumentLeavesNoTrace) {
  ::orx::testing::ScopedEnv env("ORX_TEST_DIR", dir_.path().c_str());
  dir_.Write("ok.xml", kOpen + "<num>3</num>\r\n</dataPacket>\r\n");
  EXPECT_TRUE(ValidateXmlBySchema(job_.context, "%ORX_TEST_DIR%/ok.xml", "%ORX_TEST_DIR%/s.xsd"));
  EXPECT_TRUE(job_.log.Lines().empty());
  EXPECT_TRUE(job_.events.records().empty());
}

struct InvalidCase {
  std::string document;
  std::string reason;  // the whole reason text; "*" when only its start is fixed
};

void PrintTo(const InvalidCase& c, std::ostream* out) { *out << '"' << c.reason.substr(0, 60) << '"'; }

class InvalidDocumentTest : public SchemaValidationTest,
                            public ::testing::WithParamInterface<InvalidCase> {};

TEST_P(InvalidDocumentTest, ReportsTheFirstErrorOnceAndReturnsFalse) {
  const std::string path = GetParam().document.empty() ? dir_ / "missing.xml"
                                                       : dir_.Write("doc.xml", GetParam().document);
  EXPECT_FALSE(ValidateXmlBySchema(job_.context, path, schema_));
  ASSERT_EQ(job_.log.Lines().size(), 1u);
  const std::string& reason = job_.log.Lines()[0];
  const std::string& expected = GetParam().reason;
  if (expected.back() == '*') {
    EXPECT_EQ(reason.rfind(expected.substr(0, expected.size() - 1), 0), 0u) << reason;
  } else {
    EXPECT_EQ(reason, expected);
  }
  EXPECT_EQ(job_.events.records(), std::vector{ErrorRecord("ОРХ РФ", {"xml не прошел проверку", reason})});
}

INSTANTIATE_TEST_SUITE_P(
    Documents, InvalidDocumentTest,
    ::testing::Values(
        InvalidCase{kOpen + "<num>3</num>\r\n<bogus/>\r\n</dataPacket>",
                    "Element '{urn:orx-rf:certificates}bogus': This element is not expected. "
                    "Expected is ( {urn:orx-rf:certificates}num ). (строка 5)"},
        InvalidCase{kOpen + "<num>-3</num>\r\n</dataPacket>",
                    "Element '{urn:orx-rf:certificates}num': '-3' is not a valid value of the "
                    "atomic type '{urn:orx-rf:certificates}Count'. (строка 4)"},
        InvalidCase{"<dataPacket><arm/><num>1</num></dataPacket>",
                    "Element 'dataPacket': No matching global declaration available for the "
                    "validation root. (строка 1)"},
        InvalidCase{kOpen + "<num>1</num>\r\n</dataPacket", "*"},
        InvalidCase{"<dataPacket xmlns=\"urn:orx-rf:certificates\" xmlns=\"urn:orx-rf:certificates\"/>",
                    "Attribute xmlns redefined (строка 1)"},
        InvalidCase{"", "Cannot open file \"*"},
        // Lines past 65535 keep their true number.
        InvalidCase{kOpen + std::string(70000, '\n') + "<num>0</num></dataPacket>",
                    "Element '{urn:orx-rf:certificates}num': '0' is not a valid value of the "
                    "atomic type '{urn:orx-rf:certificates}Count'. (строка 70004)"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(SchemaValidationTest, SchemaProblemsThrowInsteadOfReporting) {
  const std::pair<std::string, std::string> schemas[] = {
      {"<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" targetNamespace=\"urn:other\"/>",
       "urn:other"},
      {"<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"/>", "no target namespace"},
      {"<notschema/>", "is not a schema"},
      {"<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" targetNamespace=\"urn:orx-rf:certificates\">"
       "<xs:include schemaLocation=\"http://127.0.0.1:9/remote.xsd\"/></xs:schema>",
       "remote.xsd"},
  };
  const std::string document = dir_.Write("ok.xml", kOpen + "<num>3</num></dataPacket>");
  for (const auto& [schema, fragment] : schemas) {
    try {
      (void)ValidateXmlBySchema(job_.context, document, dir_.Write("bad.xsd", schema));
      ADD_FAILURE() << schema;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW((void)ValidateXmlBySchema(job_.context, document, dir_ / "none.xsd"), Error);
  EXPECT_TRUE(job_.log.Lines().empty());
  EXPECT_TRUE(job_.events.records().empty());
}

}  // namespace
}  // namespace orx
