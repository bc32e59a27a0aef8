// The encodings the control reads text in, and the names a server or a file
// may give them: the labels of the WHATWG Encoding Standard, which is how
// browsers, and the servers written for them, use these names. There,
// ISO-8859-1 and ASCII mean Windows-1252 and "utf-16" means little-endian.
#pragma once

#include <optional>
#include <string_view>

namespace qmx {

enum class Charset { Utf8, Utf16LE, Utf16BE, Windows1252 };

// The encoding a label names (ASCII letter case and surrounding spaces
// ignored), or nothing for a label of another encoding or none at all.
std::optional<Charset> charsetForLabel(std::string_view label);

}  // namespace qmx
