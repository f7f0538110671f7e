// XML document access on hostile bytes: parsing, reading values, walking the
// tree and serialising never crash, hang or blow up.
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/error.h"
#include "support/xml_document.h"

namespace {

void Walk(const orx::XmlNode& node, int depth) {
  if (depth > 64) return;
  (void)node.NodeName();
  (void)node.Attribute("version");
  try {
    (void)node.NodeValue();
  } catch (const orx::Error&) {
  }
  const int count = node.ChildCount();
  for (int i = 0; i < count && i < 256; ++i) Walk(node.ChildAt(i), depth + 1);
  (void)node.FindNode("arm");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    orx::XmlDocument doc = orx::XmlDocument::Parse(bytes, "fuzz.xml");
    orx::XmlNode root = doc.Root();
    if (!root) return 0;
    Walk(root, 0);
    root.AddChild("arm", 0).SetAttribute("lastKnownChange", std::int64_t{0});
    root.SetAttribute("version", "2.0");
    const std::string text = doc.Text();
    // What we write must read back.
    (void)orx::XmlDocument::Parse(text, "again.xml");
  } catch (const orx::Error&) {
  }
  return 0;
}
