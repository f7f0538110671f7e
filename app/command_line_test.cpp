#include "app/command_line.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace orx {
namespace {

struct SplitCase {
  const char* parameterText;
  CommandLineFields expected;
};

void PrintTo(const SplitCase& c, std::ostream* out) { *out << '"' << c.parameterText << '"'; }

class SplitParameterTextTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitParameterTextTest, GivesFieldsAndMode) {
  const SplitCase& c = GetParam();
  const CommandLineFields fields = SplitParameterText(c.parameterText);
  EXPECT_EQ(fields.xmlPath, c.expected.xmlPath);
  EXPECT_EQ(fields.outputFolder, c.expected.outputFolder);
  EXPECT_EQ(fields.keyFilePath, c.expected.keyFilePath);
  EXPECT_EQ(fields.xsdPath, c.expected.xsdPath);
  EXPECT_EQ(fields.batchMode, c.expected.batchMode);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitParameterTextTest,
    ::testing::Values(
        SplitCase{"", {"", "", "", "", false}},
        SplitCase{" a.xml,/out,k.cod,s.xsd,HIDE", {"a.xml", "/out", "k.cod", "s.xsd", true}},
        SplitCase{" 'a.xml' , '/out' ,k.cod,s.xsd, HIDE", {"a.xml", "/out", "k.cod", "s.xsd", true}},
        SplitCase{" a.xml,\"SERVER_ORX\",k.cod,s.xsd,HIDE",
                  {"a.xml", "SERVER_ORX", "k.cod", "s.xsd", true}},
        SplitCase{" a.xml,server_orx,k.cod,s.xsd,HIDE",
                  {"a.xml", "server_orx", "k.cod", "s.xsd", true}},
        SplitCase{" a.xml,/out,k.cod,s.xsd,hide", {"a.xml", "/out", "k.cod", "s.xsd", false}},
        // Runs of commas separate like one comma.
        SplitCase{" a.xml,,/out,k.cod,s.xsd,HIDE", {"a.xml", "/out", "k.cod", "s.xsd", true}},
        SplitCase{",,a.xml,/out,k.cod,s.xsd,HIDE", {"a.xml", "/out", "k.cod", "s.xsd", true}},
        // A field of blanks only is empty after trimming.
        SplitCase{" a.xml, ,k.cod,s.xsd,HIDE", {"a.xml", "", "k.cod", "s.xsd", true}},
        SplitCase{" a.xml,/out,k.cod,HIDE", {"a.xml", "/out", "k.cod", "HIDE", false}},
        // Quotes and blanks inside a field stay; those at its ends never survive.
        SplitCase{" \" '/my dir/a b.xml' \",/o'ut,k.cod,s.xsd,HIDE",
                  {"/my dir/a b.xml", "/o'ut", "k.cod", "s.xsd", true}},
        // Control characters count as blanks for the ordinary trim.
        SplitCase{"\ta.xml\t,/out\n,k.cod,s.xsd,\tHIDE\r\n", {"a.xml", "/out", "k.cod", "s.xsd", true}},
        SplitCase{" a.xml,/out,k.cod,s.xsd,HIDE,extra,fields",
                  {"a.xml", "/out", "k.cod", "s.xsd", true}},
        SplitCase{" документы/серт.xml,/выход,k.cod,s.xsd,HIDE",
                  {"документы/серт.xml", "/выход", "k.cod", "s.xsd", true}},
        SplitCase{" \"\",\"\",\"\",\"\",HIDE", {"", "", "", "", true}}));

TEST(ParameterTextFromArgumentsTest, JoinsArgumentsWithSingleBlanks) {
  const std::vector<const char*> argv{"convertor-orx", "a.xml,", "out,", "k.cod,", "s.xsd,", "HIDE"};
  const std::string text = ParameterTextFromArguments(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(text, "a.xml, out, k.cod, s.xsd, HIDE");
  const CommandLineFields split = SplitParameterText(text);
  EXPECT_EQ(split.xmlPath, "a.xml");
  EXPECT_EQ(split.outputFolder, "out");
  EXPECT_TRUE(split.batchMode);
}

TEST(ParameterTextFromArgumentsTest, NoArgumentsGiveEmptyText) {
  const char* argv[] = {"convertor-orx"};
  EXPECT_EQ(ParameterTextFromArguments(1, argv), "");
}

}  // namespace
}  // namespace orx
