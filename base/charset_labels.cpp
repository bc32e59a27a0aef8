#include "base/charset_labels.h"

#include <algorithm>
#include <array>
#include <string>

#include "base/ascii_text.h"

namespace qmx {
namespace {

struct Label {
  std::string_view name;
  Charset charset;
};

constexpr std::array<Label, 32> kLabels = {{
    {"unicode-1-1-utf-8", Charset::Utf8}, {"unicode11utf8", Charset::Utf8}, {"unicode20utf8", Charset::Utf8},
    {"utf-8", Charset::Utf8}, {"utf8", Charset::Utf8}, {"x-unicode20utf8", Charset::Utf8},
    {"unicodefffe", Charset::Utf16BE}, {"utf-16be", Charset::Utf16BE},
    {"csunicode", Charset::Utf16LE}, {"iso-10646-ucs-2", Charset::Utf16LE}, {"ucs-2", Charset::Utf16LE},
    {"unicode", Charset::Utf16LE}, {"unicodefeff", Charset::Utf16LE}, {"utf-16", Charset::Utf16LE},
    {"utf-16le", Charset::Utf16LE},
    {"ansi_x3.4-1968", Charset::Windows1252}, {"ascii", Charset::Windows1252}, {"cp1252", Charset::Windows1252},
    {"cp819", Charset::Windows1252}, {"csisolatin1", Charset::Windows1252}, {"ibm819", Charset::Windows1252},
    {"iso-8859-1", Charset::Windows1252}, {"iso-ir-100", Charset::Windows1252}, {"iso8859-1", Charset::Windows1252},
    {"iso88591", Charset::Windows1252}, {"iso_8859-1", Charset::Windows1252},
    {"iso_8859-1:1987", Charset::Windows1252}, {"l1", Charset::Windows1252}, {"latin1", Charset::Windows1252},
    {"us-ascii", Charset::Windows1252}, {"windows-1252", Charset::Windows1252}, {"x-cp1252", Charset::Windows1252},
}};

}  // namespace

std::optional<Charset> charsetForLabel(std::string_view label) {
  const std::string name = lowerAscii(trimmed(label, " \t\n\f\r"));
  const auto found = std::find_if(kLabels.begin(), kLabels.end(), [&](const Label& l) { return l.name == name; });
  if (found == kLabels.end()) return std::nullopt;
  return found->charset;
}

}  // namespace qmx
