// How qmxhost shows values: the quoted text of the script language (so that a
// printed text can be pasted back into a script) and JSON.
#pragma once

#include <string>
#include <string_view>

#include "base/variant.h"

namespace qmx::host {

// The text as a script literal: printable ASCII as is; \\ \" \n \r \t; other
// characters up to U+00FF (control characters included) as \xHH; characters above
// as \u{H...}. A byte that is not part of valid UTF-8 shows as \xHH of its value.
// Never fails.
std::string quoteText(std::string_view utf8);

// The value as a result line shows it: Empty, Null, Nothing, True, False, a
// number, a quoted text, or xml "..." for a document. Never fails.
std::string formatValue(const Variant& value);

// A JSON string literal; invalid UTF-8 bytes are taken as U+0080..U+00FF so that
// the output stays valid JSON. Never fails.
std::string jsonString(std::string_view utf8);

// The JSON members "type":...,"value":... describing a value (type one of Empty,
// Null, Boolean, Integer, Long, Double, Text, Nothing, XmlDocument). Never fails.
std::string jsonTypedValue(const Variant& value);

}  // namespace qmx::host
