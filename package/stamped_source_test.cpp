#include "package/stamped_source.h"

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include "package/source_document.h"
#include "support/error.h"
#include "support/xml_document.h"
#include "support/xml_parse_guard.h"
#include "testing/test_support.h"

namespace orx {
namespace {

using ::orx::testing::ReadFile;
using ::orx::testing::ScratchDir;

// The same document made the plain way: whole tree, stamps, serialisation.
std::string StampedThroughTree(const std::string& input) {
  XmlDocument document = XmlDocument::ParseText(input);
  xmlNodePtr root = document.Root().get();
  xmlNodePtr arm = xmlNewDocNode(root->doc, root->ns, BAD_CAST "arm", nullptr);
  if (root->children != nullptr) {
    xmlAddPrevSibling(root->children, arm);
  } else {
    xmlAddChild(root, arm);
  }
  XmlNode(arm).SetAttribute("lastKnownChange", std::int64_t{0});
  XmlNode stamped(root);
  stamped.SetAttribute("version", "2.0");
  stamped.SetAttribute("name", "mcod");
  stamped.SetAttribute("ProgramFullVersion", "4.1.1.1");
  stamped.SetAttribute("DateOfCreate", "05.03.2008");
  xmlNsPtr ns = xmlNewNs(nullptr, BAD_CAST "urn:orx-rf:certificates", nullptr);
  ns->next = root->nsDef;
  root->nsDef = ns;
  return document.Text();
}

std::string ManyChildren() {
  std::string text = "<dataPacket>";
  for (int i = 0; i < 2000; ++i) {
    text += "\r\n  <c n=\"" + std::to_string(i) + "\"><v>" + std::to_string(i * 7) + "</v></c>";
    if (i % 97 == 0) text += "<!-- " + std::to_string(i) + " -->tail " + std::to_string(i);
  }
  return text + "\r\n</dataPacket>";
}

// Streaming must give exactly the bytes (or the error) of the tree.
TEST(StampedSourceTest, MatchesTheWholeTreeByteForByte) {
  const std::string inputs[] = {
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><dataPacket><a>1</a>"
      "<b x=\"&lt;&amp;&quot;&#9;&#10;'\">&gt;&#13;</b></dataPacket>",
      "<dataPacket>text <b>x</b> <i>y</i> tail</dataPacket>",
      "<dataPacket>\n  <a> </a>\n  <b>\n  </b>\n  <c/>\n</dataPacket>\n",
      "<!--c1--><?pi x?><dataPacket><!--in--><a/><?p?>t</dataPacket><!--after--><?end?>",
      "<!DOCTYPE dataPacket [<!ENTITY org \"ТПП\"><!ENTITY e \"<x>1</x><y/>\">"
      "<!ATTLIST a id ID #IMPLIED>]><dataPacket><a id=\"x1\">&org;</a>&e;<a id=\"x2\"/>&e;</dataPacket>",
      "<dataPacket><a><![CDATA[<x>&]]></a></dataPacket>",
      "<p:dataPacket xmlns:p=\"urn:p\" xmlns=\"urn:d\"><p:a/><b xmlns=\"\"/><c/></p:dataPacket>",
      "<?xml version=\"1.0\" encoding=\"windows-1251\"?><dataPacket a=\"\xc0\"><a b=\"\xc1\">\xcf\xf0\xe8 &#x4E2D;</a></dataPacket>",
      "\xEF\xBB\xBF<dataPacket><a>Привет</a></dataPacket>",
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><dataPacket/>",
      "<dataPacket xml:lang=\"ru\" DateOfCreate=\"x\" a=\"1\"><c/></dataPacket>",
      "<dataPacket>\r<a x=\"1\r\n2\r3\">l1\rl2\r\nl3</a>\n</dataPacket>",
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
      "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\"><dataPacket><br/><p></p></dataPacket>",
      std::string("<dataPacket><a/></dataPacket>\0<garbage", 38),
      "<certificates><a/></certificates>",
      ManyChildren(),
      // Parse errors: the same message, line and source text.
      "<dataPacket><a></dataPacket>",
      "",
      "<dataPacket>\r\r\r<a>\r</b>",
      std::string("\0<dataPacket/>", 14),
      "<dataPacket><a/></dataPacket><second/>",
  };
  ScratchDir dir;
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input.substr(0, 60));
    const std::string path = dir.Write("in.xml", input);
    std::string expected;
    try {
      expected = StampedThroughTree(input);
    } catch (const Error& e) {
      expected = std::string("error: ") + e.what();
    }
    std::string actual;
    try {
      WriteStampedSource(path, dir / "out.xml", "05.03.2008");
      actual = ReadFile(dir / "out.xml");
    } catch (const Error& e) {
      actual = std::string("error: ") + e.what();
    }
    EXPECT_EQ(actual, expected);
    std::filesystem::remove(dir / "out.xml");
  }
}

// Each failure names its reason; a document that would hold the parser for
// minutes (a crowded start tag, a DTD's defaults on every tag) is refused.
TEST(StampedSourceTest, FailureLeavesTheEarlierOutputAndNoScratchFile) {
  ScratchDir dir;
  const std::string out = dir.Write("out.xml", "earlier");
  std::string crowded = "<dataPacket";
  for (int i = 0; i < 1001; ++i) crowded += " a" + std::to_string(i) + "='1'";
  std::string defaults = "<!DOCTYPE dataPacket [<!ATTLIST z";
  for (int i = 0; i < 1001; ++i) defaults += " a" + std::to_string(i) + " CDATA '1'";
  defaults += ">]><dataPacket><z/></dataPacket>";
  const std::pair<std::string, std::string> cases[] = {
      {dir.Write("in.xml", "<a><b></a>"), "\r\nLine: 1\r\n<a><b></a>"},
      {dir / "missing.xml", "Cannot open file"},
      {dir.Write("crowded.xml", crowded + "/>"), kCrowdedTag},
      {dir.Write("defaults.xml", defaults), kManyDefaults},
  };
  for (const auto& [input, message] : cases) {
    try {
      WriteStampedSource(input, out, "05.03.2008");
      ADD_FAILURE() << input;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
  for (const char* name : {"in.xml", "crowded.xml", "defaults.xml"}) std::filesystem::remove(dir / name);
  EXPECT_EQ(ReadFile(out), "earlier");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
}  // namespace orx
