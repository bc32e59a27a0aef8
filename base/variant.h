// The automation Variant: the value a host passes where a member takes "any
// value", and what the script host keeps in its variables.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "base/xml_text.h"

namespace qmx {

struct EmptyValue {
  bool operator==(const EmptyValue&) const = default;
};
struct NullValue {
  bool operator==(const NullValue&) const = default;
};

// Empty, Null, Boolean, Integer, Long, Double, text, or an object (a document;
// a null pointer is Nothing).
using Variant = std::variant<EmptyValue, NullValue, bool, std::int16_t, std::int32_t, double,
                             std::string, XmlDocument>;

// The text of a value as the runtime converts it where text is expected: Empty and
// Null give empty text, true "True", numbers their decimal text. Throws 13 for an
// object.
std::string variantToText(const Variant& value);

}  // namespace qmx
