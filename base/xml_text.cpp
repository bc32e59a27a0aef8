#include "base/xml_text.h"

#include "base/xml_wellformed.h"

#include <sstream>

namespace qmx {
namespace {
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration;
constexpr unsigned kFormat = pugi::format_raw | pugi::format_no_declaration;

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, std::size_t size) override {
    out.append(static_cast<const char*>(data), size);
  }
};
}  // namespace

bool parseXml(pugi::xml_document& doc, std::string_view utf8) {
  if (!isWellFormedXml(utf8)) {
    doc.reset();
    return false;
  }
  const pugi::xml_parse_result result =
      doc.load_buffer(utf8.data(), utf8.size(), kParseOptions, pugi::encoding_utf8);
  if (!result) {
    doc.reset();
    return false;
  }
  return true;
}

XmlDocument parseXmlDocument(std::string_view utf8) {
  auto doc = std::make_shared<pugi::xml_document>();
  parseXml(*doc, utf8);
  return doc;
}

std::string xmlText(const pugi::xml_node& node) {
  StringWriter writer;
  node.print(writer, "", kFormat, pugi::encoding_utf8);
  return std::move(writer.out);
}

std::string textContent(const pugi::xml_node& node) {
  if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) return node.value();
  std::string text;
  // A value split by a CDATA section or a child element still reads whole.
  for (pugi::xml_node n = node.first_child(); n;) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) text += n.value();
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n && n != node && !n.next_sibling()) n = n.parent();
    if (n == node) break;
    n = n.next_sibling();
  }
  return text;
}

}  // namespace qmx
