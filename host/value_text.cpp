#include "host/value_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/ascii_text.h"
#include "base/codepage.h"
#include "base/utf8.h"
#include "base/xml_text.h"

namespace qmx::host {
namespace {

// Decodes one character at pos, advancing it. Bytes that do not begin a valid,
// shortest-form sequence come back as themselves (U+0080..U+00FF), so that
// nothing the control returns can make the output unreadable.
char32_t nextChar(std::string_view s, std::size_t& pos) {
  if (const auto cp = decodeUtf8(s, pos)) return *cp;
  return static_cast<unsigned char>(s[pos++]);
}

std::string hex(std::uint32_t v, int width) { return hexNumber(v, width); }

std::string formatDouble(double d) {
  if (!std::isfinite(d)) return std::isnan(d) ? "NaN" : (d > 0 ? "Infinity" : "-Infinity");
  char buf[64];
  const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, d);
  return ec == std::errc() ? std::string(buf, ptr) : std::string("0");
}

}  // namespace

std::string quoteText(std::string_view utf8) {
  std::string out = "\"";
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = nextChar(utf8, pos);
    switch (cp) {
      case U'\\': out += "\\\\"; break;
      case U'"': out += "\\\""; break;
      case U'\n': out += "\\n"; break;
      case U'\r': out += "\\r"; break;
      case U'\t': out += "\\t"; break;
      default:
        if (cp >= 0x20 && cp < 0x7F) {
          out.push_back(static_cast<char>(cp));
        } else if (cp <= 0xFF) {
          out += "\\x" + hex(cp, 2);
        } else {
          out += "\\u{" + hex(cp, 1) + "}";
        }
    }
  }
  out.push_back('"');
  return out;
}

std::string formatValue(const Variant& value) {
  struct Visitor {
    std::string operator()(const EmptyValue&) const { return "Empty"; }
    std::string operator()(const NullValue&) const { return "Null"; }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(std::int16_t n) const { return std::to_string(n); }
    std::string operator()(std::int32_t n) const { return std::to_string(n); }
    std::string operator()(double d) const { return formatDouble(d); }
    std::string operator()(const std::string& s) const { return quoteText(s); }
    std::string operator()(const XmlDocument& doc) const {
      return doc ? "xml " + quoteText(xmlText(*doc)) : std::string("Nothing");
    }
  };
  return std::visit(Visitor{}, value);
}

std::string jsonString(std::string_view utf8) {
  std::string out = "\"";
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = nextChar(utf8, pos);
    switch (cp) {
      case U'\\': out += "\\\\"; break;
      case U'"': out += "\\\""; break;
      case U'\n': out += "\\n"; break;
      case U'\r': out += "\\r"; break;
      case U'\t': out += "\\t"; break;
      case U'\b': out += "\\b"; break;
      case U'\f': out += "\\f"; break;
      default:
        if (cp < 0x20) {
          out += "\\u" + hex(cp, 4);
        } else {
          appendUtf8(out, cp);
        }
    }
  }
  out.push_back('"');
  return out;
}

std::string jsonTypedValue(const Variant& value) {
  struct Visitor {
    std::string operator()(const EmptyValue&) const { return R"("type":"Empty","value":null)"; }
    std::string operator()(const NullValue&) const { return R"("type":"Null","value":null)"; }
    std::string operator()(bool b) const {
      return std::string(R"("type":"Boolean","value":)") + (b ? "true" : "false");
    }
    std::string operator()(std::int16_t n) const { return R"("type":"Integer","value":)" + std::to_string(n); }
    std::string operator()(std::int32_t n) const { return R"("type":"Long","value":)" + std::to_string(n); }
    std::string operator()(double d) const {
      // JSON has no NaN or infinities; they travel as text.
      const std::string text = formatDouble(d);
      return R"("type":"Double","value":)" + (std::isfinite(d) ? text : jsonString(text));
    }
    std::string operator()(const std::string& s) const { return R"("type":"Text","value":)" + jsonString(s); }
    std::string operator()(const XmlDocument& doc) const {
      if (!doc) return R"("type":"Nothing","value":null)";
      return R"("type":"XmlDocument","value":)" + jsonString(xmlText(*doc));
    }
  };
  return std::visit(Visitor{}, value);
}

}  // namespace qmx::host
