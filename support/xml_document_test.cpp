#include "support/xml_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/error.h"
#include "support/text.h"
#include "support/xml_parse_guard.h"
#include "testing/test_support.h"

namespace orx {
namespace {

std::string Utf16LeWithBom(std::string_view utf8) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : Utf8ToUtf16(utf8)) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

std::string ParseFailure(std::string_view bytes) {
  try {
    XmlDocument::Parse(bytes);
  } catch (const Error& e) {
    return e.what();
  }
  return "(parsed)";
}

struct ParseErrorCase {
  const char* name;
  std::string input;
  std::string message;
};

TEST(XmlDocumentParse, ReportsReasonLineAndSourceText) {
  std::string line45;
  for (int i = 0; i < 45; ++i) line45 += "Ж";
  const std::vector<ParseErrorCase> cases = {
      {"tag mismatch",
       "<?xml version=\"1.0\"?>\n<dataPacket>\n<arm>\n</dataPacket>\n",
       "Открывающий тег <arm> из строки 3 закрыт тегом </dataPacket>\r\nLine: 4\r\n</dataPacket>"},
      {"CR LF input, CR not part of the line",
       "<a>\r\n<b>\r\n</a>\r\n",
       "Открывающий тег <b> из строки 2 закрыт тегом </a>\r\nLine: 3\r\n</a>"},
      {"empty input", "", "Документ пуст\r\nLine: 1\r\n"},
      {"long UTF-8 line cut at 40 characters, not bytes",
       "<a>\n<b>" + line45 + "</c>\n</a>",
       "Открывающий тег <b> из строки 2 закрыт тегом </c>\r\nLine: 2\r\n<b>" +
           line45.substr(0, 37 * 2)},
      {"windows-1251 line shown as UTF-8",
       "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<a>\xC8\xEC\xFF</b>",
       "Открывающий тег <a> из строки 2 закрыт тегом </b>\r\nLine: 2\r\n<a>Имя</b>"},
      {"UTF-16 document",
       Utf16LeWithBom("<a>\n</b>"),
       "Открывающий тег <a> из строки 1 закрыт тегом </b>\r\nLine: 2\r\n</b>"},
      {"invalid UTF-8 in the shown line",
       "<a>\n<b \xFF",
       "Ошибка в имени атрибута\r\nLine: 2\r\n<b \xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseFailure(c.input), c.message) << c.name;
  }
}

TEST(XmlDocumentParse, PrintsNothingToStandardError) {
  ::testing::internal::CaptureStderr();
  EXPECT_THROW(XmlDocument::Parse("<a><b></a>"), Error);
  EXPECT_THROW(XmlDocument::Parse("<!DOCTYPE r [<!ENTITY x SYSTEM \"http://127.0.0.1:9/x\">]><r>&x;</r>"
                                  "<extra/>"),
               Error);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(XmlDocumentParse, NeverReadsExternalEntitiesOrDtds) {
  testing::ScratchDir scratch;
  const std::string secret = scratch.Write("secret.txt", "TOP-SECRET");
  const std::string dtd = scratch.Write("defaults.dtd", "<!ATTLIST r leak CDATA \"TOP-SECRET\">");
  const std::vector<std::string> inputs = {
      "<!DOCTYPE r [<!ENTITY xxe SYSTEM \"file://" + secret + "\">]><r>&xxe;</r>",
      "<!DOCTYPE r [<!ENTITY xxe SYSTEM \"" + secret + "\">]><r a=\"x\">&xxe;</r>",
      "<!DOCTYPE r [<!ENTITY % p SYSTEM \"file://" + secret + "\"> %p;]><r/>",
      "<!DOCTYPE r SYSTEM \"file://" + dtd + "\"><r/>",
  };
  for (const auto& input : inputs) {
    try {
      const XmlDocument doc = XmlDocument::Parse(input);
      EXPECT_EQ(doc.Text().find("TOP-SECRET"), std::string::npos) << input;
      EXPECT_EQ(doc.Root().Attribute("leak"), std::nullopt) << input;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).find("TOP-SECRET"), std::string::npos) << input;
    }
  }
}

TEST(XmlDocumentParse, LocalLoadScopeOpensLocalFilesOnlyWhileItLasts) {
  testing::ScratchDir scratch;
  const std::string part = scratch.Write("part.xml", "included");
  const std::string input = "<!DOCTYPE r [<!ENTITY p SYSTEM \"file://" + part + "\">]><r>&p;</r>";
  {
    const XmlLocalLoadScope scope;
    EXPECT_EQ(XmlDocument::Parse(input).Root().NodeValue(), "included");
  }
  EXPECT_EQ(XmlDocument::Parse(input).Root().NodeValue(), std::nullopt);
}

TEST(XmlDocumentParse, RefusesEntityExpansionBombs) {
  std::string laughs = "<!DOCTYPE r [<!ENTITY l0 \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><r>&l9;</r>";

  const std::string big(50000, 'x');
  std::string refs;
  for (int i = 0; i < 20000; ++i) refs += "&q;";
  const std::string quadratic = "<!DOCTYPE r [<!ENTITY q \"" + big + "\">]><r>" + refs + "</r>";
  const std::string quadraticAttribute =
      "<!DOCTYPE r [<!ENTITY q \"" + big + "\">]><r a=\"" + refs + "\"/>";

  EXPECT_THROW(XmlDocument::Parse(laughs), Error);
  EXPECT_THROW(XmlDocument::Parse(quadratic), Error);
  EXPECT_THROW(XmlDocument::Parse(quadraticAttribute), Error);
}

// How a parse ends: the root's element count or text size, or the reason it failed.
std::string Outcome(const std::string& input, std::optional<std::size_t> treeBytes) {
  try {
    const XmlDocument doc = XmlDocument::Parse(input, {}, treeBytes);
    const XmlNode root = doc.Root();
    if (root.ChildCount() > 0) return std::to_string(root.ChildCount()) + " elements";
    return std::to_string(root.NodeText().value_or("").size()) + " bytes of text";
  } catch (const Error& e) {
    const std::string message = e.what();
    return message.substr(0, message.find("\r\n"));
  }
}

TEST(XmlDocumentParse, BoundedParseHoldsTheTreeButNotOneText) {
  // 12 MB of text in pieces: more than libxml2 lets one text node hold.
  std::string pieces;
  for (int i = 0; i < 1'200'000; ++i) pieces += "xxxxxxxxx&amp;";
  const std::string longText = "<r>" + pieces + "</r>";
  std::string elements = "<r>";
  for (int i = 0; i < 1000; ++i) elements += "<c/>";
  elements += "</r>";
  std::string crowded = "<r";
  for (int i = 0; i < 1001; ++i) crowded += " a" + std::to_string(i) + "=''";
  crowded += "/>";
  // Defaults a DTD declares are added to every tag of their element.
  const auto defaults = [](int declared, int tags) {
    std::string text = "<!DOCTYPE r [<!ATTLIST z";
    for (int i = 0; i < declared; ++i) text += " a" + std::to_string(i) + " CDATA '1'";
    text += ">]><r>";
    for (int i = 0; i < tags; ++i) text += "<z/>";
    return text + "</r>";
  };
  const std::size_t budget = 64 * 1024 * 1024;
  const struct {
    const char* name;
    std::string input;
    std::optional<std::size_t> treeBytes;
    std::string outcome;
  } cases[] = {
      {"long text, unbounded: failed, never cut", longText, std::nullopt,
       "xmlSAX2Characters: huge text node"},
      {"long text, bounded", longText, budget, "12000000 bytes of text"},
      {"elements past the budget", elements, 100'000, kTooLarge},
      {"elements within it", elements, 1'000'000, "1000 elements"},
      {"a comment past libxml2's limit", "<r><!--" + std::string(10'000'001, 'c') + "--></r>",
       budget, kTooLarge},
      {"declarations", "<!DOCTYPE r [<!ENTITY e \"x\">]><r>&e;</r>", budget, kInternalSubset},
      {"a document type without them", "<!DOCTYPE r><r>t</r>", budget, "1 bytes of text"},
      // Each would hold libxml2 for minutes with a hundred times as many.
      {"a start tag with too many attributes", crowded, budget, kCrowdedTag},
      {"one behind a comment with a quote, unbounded", "<!-- <x ' -->" + crowded, std::nullopt,
       kCrowdedTag},
      {"UTF-16 without a byte-order mark", std::string("<\0r\0/\0>\0", 8), budget,
       kNotUtf8},
      {"too many defaults declared for one element", defaults(1001, 1), std::nullopt,
       kManyDefaults},
      {"many defaults on many tags", defaults(1000, 101), std::nullopt, kManyDefaults},
      {"a few defaults on many tags", defaults(2, 5000), std::nullopt, "5000 elements"},
  };
  for (const auto& c : cases) EXPECT_EQ(Outcome(c.input, c.treeBytes), c.outcome) << c.name;
}

// A document read in pieces, as a stream is, gives the same verdict at the
// same place as read whole, however the pieces split its markup.
TEST(XmlDocumentParse, StartTagScannerReadsPiecesAsTheWhole) {
  std::string crowded = "<r";
  for (int i = 0; i < 1001; ++i) crowded += "\n a=\"x\"";
  const std::string documents[] = {
      "<!-- a=1 ' -->\n<![CDATA[ <x a=1 ]]><?pi a=1 ?>" + crowded + ">",
      "<!DOCTYPE r [<!ATTLIST r a CDATA '>'>]>" + crowded,
      "<!--->" + crowded + "-->" + crowded,
      "<![CDATA[]]]]>" + crowded,
      "<r a='" + crowded + "'/>",
      "<!-- never ends " + crowded,
  };
  for (const std::string& document : documents) {
    const std::size_t whole = CrowdedStartTag(document);
    for (const std::size_t size : {std::size_t{1}, std::size_t{2}, std::size_t{7}}) {
      StartTagScanner scanner;
      bool fine = true;
      for (std::size_t at = 0; fine && at < document.size(); at += size) {
        fine = scanner.Feed(std::string_view(document).substr(at, size));
      }
      EXPECT_EQ(fine, whole == std::string_view::npos) << document.substr(0, 40);
      if (!fine) {
        EXPECT_EQ(scanner.crowdedAt(), whole) << document.substr(0, 40);
        const std::string_view before = std::string_view(document).substr(0, whole);
        EXPECT_EQ(scanner.crowdedLine(), 1 + std::count(before.begin(), before.end(), '\n'));
      }
    }
  }
}

TEST(XmlDocumentParse, SubstitutesInternalEntitiesAndDropsBlankText) {
  const XmlDocument doc = XmlDocument::Parse(
      "<!DOCTYPE r [<!ENTITY who \"Ivan\"><!ATTLIST r d CDATA \"default\">]>\n"
      "<r a=\"&who;&amp;\">\n  <b>&who;</b>\n</r>");
  const XmlNode root = doc.Root();
  EXPECT_EQ(root.Attribute("a"), "Ivan&");
  EXPECT_EQ(root.Attribute("d"), std::nullopt);  // DTD defaults are not applied
  EXPECT_EQ(root.ChildCount(), 1);
  EXPECT_EQ(root.ChildAt(0).NodeValue(), "Ivan");
}

TEST(XmlDocumentParseText, CutsAtZeroAndCountsEveryLineEnd) {
  EXPECT_EQ(XmlDocument::ParseText(std::string("<a>x</a>\0garbage", 16)).Root().NodeValue(), "x");
  try {
    XmlDocument::ParseText("<a>\r<b>\r</a>");
    FAIL() << "parsed";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Открывающий тег <b> из строки 2 закрыт тегом </a>\r\nLine: 3\r\n</a>");
  }
}

TEST(XmlDocumentText, KeepsDeclaredEncodingAndEndsLinesWithCrLf) {
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"windows-1251 stays windows-1251",
       "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<a n=\"\xC8\">\xEC\xFF</a>",
       "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
       "<a n=\"\xC8\">\xEC\xFF<b>\xC8\xEC\xFF</b></a>\r\n"},
      {"no declaration written as UTF-8",
       "<a n=\"И\">мя</a>",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a n=\"И\">мя<b>Имя</b></a>\r\n"},
      {"UTF-16 written as UTF-8",
       Utf16LeWithBom("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a n=\"И\"></a>"),
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a n=\"И\"><b>Имя</b></a>\r\n"},
  };
  for (const auto& c : cases) {
    const XmlDocument doc = XmlDocument::Parse(c.input);
    // Text added through the API is UTF-8 whatever the document's encoding.
    xmlNodeAddContent(doc.Root().AddChild("b").get(), reinterpret_cast<const xmlChar*>("Имя"));
    EXPECT_EQ(doc.Text(), c.expected) << c.name;
  }
}

TEST(XmlDocumentText, EscapesCarriageReturnsSoOnlyLineEndsCarryThem) {
  XmlDocument doc = XmlDocument::Create("r");
  doc.Root().SetAttribute("a", "1\r\n2");
  doc.Root().AddChild("n").SetAttribute("v", std::int64_t{-42});
  EXPECT_EQ(doc.Text(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<r a=\"1&#13;&#10;2\"><n v=\"-42\"/></r>\r\n");
  const XmlDocument again = XmlDocument::Parse(doc.Text());
  EXPECT_EQ(again.Root().Attribute("a"), "1\r\n2");
}

TEST(XmlNode, NodeValueOfEachContentShape) {
  struct Case {
    const char* xml;
    std::optional<std::string> value;
    bool throws;
  };
  const std::vector<Case> cases = {
      {"<a>text</a>", "text", false},
      {"<a><![CDATA[<raw>]]></a>", "<raw>", false},
      {"<a/>", std::nullopt, false},
      {"<a><![CDATA[]]></a>", std::nullopt, false},
      {"<a>t<b/></a>", std::nullopt, true},
      {"<a><b/></a>", std::nullopt, true},
      {"<a><!--c--></a>", std::nullopt, true},
      {"<a>x<!--c-->y</a>", std::nullopt, true},
  };
  for (const auto& c : cases) {
    const XmlDocument doc = XmlDocument::Parse(c.xml);
    if (c.throws) {
      try {
        (void)doc.Root().NodeValue();
        ADD_FAILURE() << c.xml;
      } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Element does not contain a single text node");
      }
    } else {
      EXPECT_EQ(doc.Root().NodeValue(), c.value) << c.xml;
    }
  }
}

TEST(XmlNode, AttributeTellsAbsentFromEmpty) {
  const XmlDocument doc = XmlDocument::Parse("<a xmlns:p=\"urn:p\" e=\"\" p:q=\"1\"/>");
  EXPECT_EQ(doc.Root().Attribute("e"), "");
  EXPECT_EQ(doc.Root().Attribute("missing"), std::nullopt);
  EXPECT_EQ(doc.Root().Attribute("p:q"), "1");
}

TEST(XmlNode, FindNodeMatchesNamesInTheParentsNamespace) {
  const XmlDocument doc = XmlDocument::Parse(
      "<r xmlns=\"urn:a\" xmlns:p=\"urn:a\" xmlns:o=\"urn:other\">"
      "<o:x>other</o:x><p:x>prefixed</p:x><x>plain</x><y/></r>");
  const XmlNode root = doc.Root();
  EXPECT_EQ(root.FindNode("x").NodeValue(), "prefixed");
  EXPECT_EQ(root.FindNode("p:x").NodeValue(), "prefixed");
  EXPECT_EQ(root.FindNode("p:x").NodeName(), "p:x");
  EXPECT_FALSE(root.FindNode("o:x"));
  EXPECT_FALSE(root.FindNode("z"));
  EXPECT_TRUE(root.FindNode("y"));
}

TEST(XmlNode, AddAndDeleteChildrenByElementIndex) {
  XmlDocument doc = XmlDocument::Parse("<r xmlns=\"urn:a\"><!--c--><b/><d/></r>");
  XmlNode root = doc.Root();
  root.AddChild("a", 0);
  root.AddChild("c", 2);
  root.AddChild("e");
  root.AddChild("f", root.ChildCount());
  std::string names;
  for (int i = 0; i < root.ChildCount(); ++i) names += root.ChildAt(i).NodeName();
  EXPECT_EQ(names, "abcdef");
  EXPECT_TRUE(root.FindNode("c"));  // same namespace as the parent
  root.DeleteChild(1);
  EXPECT_FALSE(root.FindNode("b"));
  EXPECT_EQ(doc.Text(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<r xmlns=\"urn:a\"><!--c--><a/><c/><d/><e/><f/></r>\r\n");
  for (const int bad : {-2, 6, 100}) {
    EXPECT_THROW(root.AddChild("x", bad), Error) << bad;
  }
  for (const int bad : {-1, 5}) {
    EXPECT_THROW(root.ChildAt(bad), Error) << bad;
    EXPECT_THROW(root.DeleteChild(bad), Error) << bad;
  }
}

TEST(XmlConversions, IntegersAndTextFromValues) {
  struct Case {
    std::optional<std::string> value;
    std::optional<std::int64_t> integer;  // nullopt: must throw
    std::string message;
  };
  const std::vector<Case> cases = {
      {"-17", -17, ""},
      {"+8443", 8443, ""},
      {" 42\r\n", 42, ""},
      {"4294967297", 4294967297LL, ""},
      {"9223372036854775807", INT64_MAX, ""},
      {"-9223372036854775808", INT64_MIN, ""},
      {"9223372036854775808", std::nullopt, "'9223372036854775808' is not a valid integer value"},
      {"abc", std::nullopt, "'abc' is not a valid integer value"},
      {"", std::nullopt, "'' is not a valid integer value"},
      {"12a", std::nullopt, "'12a' is not a valid integer value"},
      {"0x10", std::nullopt, "'0x10' is not a valid integer value"},
      {std::nullopt, std::nullopt, "Could not convert Null into an integer"},
  };
  for (const auto& c : cases) {
    if (c.integer) {
      EXPECT_EQ(ToInteger(c.value), *c.integer) << c.value.value_or("Null");
      continue;
    }
    try {
      (void)ToInteger(c.value);
      ADD_FAILURE() << c.value.value_or("Null");
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
  EXPECT_EQ(ToText(std::string()), "");
  EXPECT_THROW(ToText(std::nullopt), Error);
}

}  // namespace
}  // namespace orx
