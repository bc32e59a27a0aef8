// Text to number as the host's runtime reads it. Only plain decimal notation is
// numeric here: no hexadecimal "&H", currency signs, group separators, "inf" or
// "nan", whatever the C library would accept.
#include "base/conversions.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "base/ascii_text.h"
#include "base/automation_error.h"

namespace qmx {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// True when s is [sign] digits [. digits] [e [sign] digits] with at least one
// mantissa digit.
bool isDecimalNumber(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == s.size();
}

template <typename Int>
Int textToWhole(std::string_view text) {
  const auto number = parseNumber(text);
  if (!number) throw AutomationError(kTypeMismatch);
  const double rounded = roundHalfEven(*number);
  if (!(rounded >= static_cast<double>(std::numeric_limits<Int>::min()) &&
        rounded <= static_cast<double>(std::numeric_limits<Int>::max()))) {
    throw AutomationError(kOverflow);
  }
  return static_cast<Int>(rounded);
}


}  // namespace

double roundHalfEven(double x) {
  const double lower = std::floor(x);
  const double diff = x - lower;
  if (diff < 0.5) return lower;
  if (diff > 0.5) return lower + 1;
  return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}


std::optional<double> parseNumber(std::string_view text) {
  std::string_view s = trimmed(text);
  if (!isDecimalNumber(s)) return std::nullopt;
  const bool negative = s.front() == '-';
  if (s.front() == '+' || s.front() == '-') s.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Still a number, only too large (or too small) for a Double: a conversion
    // then fails with overflow rather than type mismatch.
    const auto e = s.find_first_of("eE");
    const bool tiny = e != std::string_view::npos && s.substr(e + 1).front() == '-';
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (ec != std::errc() || end != s.data() + s.size()) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

bool isNumeric(std::string_view text) { return parseNumber(text).has_value(); }

std::int16_t textToInteger(std::string_view text) { return textToWhole<std::int16_t>(text); }

std::int32_t textToLong(std::string_view text) { return textToWhole<std::int32_t>(text); }

bool textToBoolean(std::string_view text) {
  const std::string_view s = trimmed(text);
  if (equalsIgnoreCase(s, "True")) return true;
  if (equalsIgnoreCase(s, "False")) return false;
  const auto number = parseNumber(s);
  if (!number) throw AutomationError(kTypeMismatch);
  return *number != 0;
}

}  // namespace qmx
