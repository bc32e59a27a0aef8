// Conversions between text and numbers as the host's runtime makes them:
// spaces around a number allowed, fractions rounded half to even, type-mismatch
// (13) and overflow (6) errors rather than defaults.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qmx {

// The number a text stands for (optional sign, digits, decimal point, exponent,
// spaces around); nullopt when it is not numeric (empty text included).
std::optional<double> parseNumber(std::string_view text);

// The nearest whole number, an exact half going to the even neighbour, whatever
// the floating-point rounding mode. Never fails.
double roundHalfEven(double x);

// True when parseNumber accepts the text.
bool isNumeric(std::string_view text);

// Text to Integer (16-bit). Throws 13 when not numeric, 6 outside -32768..32767.
std::int16_t textToInteger(std::string_view text);

// Text to Long (32-bit). Throws 13 when not numeric, 6 outside the 32-bit range.
std::int32_t textToLong(std::string_view text);

// Text to Boolean: "True"/"False" in any case, or a number (0 false, else true).
// Throws 13 otherwise.
bool textToBoolean(std::string_view text);

}  // namespace qmx
