#include "base/variant.h"

#include <cstdio>

#include "base/automation_error.h"

namespace qmx {

std::string variantToText(const Variant& value) {
  struct Visitor {
    std::string operator()(const EmptyValue&) const { return {}; }
    std::string operator()(const NullValue&) const { return {}; }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(std::int16_t n) const { return std::to_string(n); }
    std::string operator()(std::int32_t n) const { return std::to_string(n); }
    std::string operator()(double d) const {
      // The runtime writes 15 significant digits, an upper-case exponent
      // ("1E+20") and no sign on zero.
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.15g", d == 0 ? 0.0 : d);
      std::string text = buf;
      if (const auto e = text.find('e'); e != std::string::npos) text[e] = 'E';
      return text;
    }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(const XmlDocument&) const { throw AutomationError(kTypeMismatch); }
  };
  return std::visit(Visitor{}, value);
}

}  // namespace qmx
