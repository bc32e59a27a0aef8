#include <gtest/gtest.h>

#include "base/automation_error.h"
#include "base/conversions.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

using test::errorNumberOf;

TEST(Conversions, TextToIntegerAndLongRoundHalvesToEvenWithinTheirRanges) {
  EXPECT_EQ(textToInteger(" 7 "), 7);
  EXPECT_EQ(textToInteger("7.5"), 8);
  EXPECT_EQ(textToInteger("6.5"), 6);
  EXPECT_EQ(textToInteger("-2.5"), -2);
  EXPECT_EQ(textToInteger("-3.5"), -4);
  EXPECT_EQ(textToInteger("6.50001"), 7);
  EXPECT_EQ(textToInteger("+1e3"), 1000);
  EXPECT_EQ(textToInteger("-32768"), -32768);
  EXPECT_EQ(textToInteger("32767.4"), 32767);
  EXPECT_EQ(textToInteger("-32768.5"), -32768);
  EXPECT_EQ(errorNumberOf([] { textToInteger("40000"); }), kOverflow);
  EXPECT_EQ(errorNumberOf([] { textToInteger("32767.5"); }), kOverflow);  // rounds to 32768
  EXPECT_EQ(errorNumberOf([] { textToInteger("1e400"); }), kOverflow);
  for (const char* bad : {"", "   ", "abc", "7a", "&H10", "0x10", "$5", "1,000", "inf", "nan", "- 5", "1e"}) {
    EXPECT_EQ(errorNumberOf([&] { textToInteger(bad); }), kTypeMismatch) << bad;
  }
  // Long: the same rules over the 32-bit range.
  EXPECT_EQ(textToLong("2147483647"), 2147483647);
  EXPECT_EQ(textToLong(" -2147483648 "), -2147483647 - 1);
  EXPECT_EQ(textToLong("40000"), 40000);
  EXPECT_EQ(errorNumberOf([] { textToLong("2147483648"); }), kOverflow);
  EXPECT_EQ(errorNumberOf([] { textToLong("2147483647.5"); }), kOverflow);
  EXPECT_EQ(errorNumberOf([] { textToLong(""); }), kTypeMismatch);
}

TEST(Conversions, TextToBooleanTakesWordsInAnyCaseOrNumbers) {
  for (const char* yes : {"True", "true", "TRUE", " tRuE ", "-1", "1", "2.5", "1e2"}) {
    EXPECT_TRUE(textToBoolean(yes)) << yes;
  }
  for (const char* no : {"False", "false", "0", " 0 ", "0.0", "-0"}) EXPECT_FALSE(textToBoolean(no)) << no;
  for (const char* bad : {"", "yes", "no", "T", "Truth", "on"}) {
    EXPECT_EQ(errorNumberOf([&] { textToBoolean(bad); }), kTypeMismatch) << bad;
  }
}

TEST(Conversions, NumericTextIsPlainDecimalNotation) {
  for (const char* ok : {"5", "+.5", "5.", "-0.25", "1E+2", "1e-2", " \t12\r\n"}) EXPECT_TRUE(isNumeric(ok)) << ok;
  for (const char* no : {".", "e5", "1e", "1e+", "+", "1 2", "1..2", "0x10", "&HFF", "1,5", "infinity", "NaN"}) {
    EXPECT_FALSE(isNumeric(no)) << no;
  }
  EXPECT_DOUBLE_EQ(*parseNumber(" -1.5e2 "), -150.0);
  EXPECT_DOUBLE_EQ(*parseNumber("1e-400"), 0.0);
}

}  // namespace
}  // namespace qmx
