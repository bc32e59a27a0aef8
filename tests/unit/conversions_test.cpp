#include <gtest/gtest.h>

#include "base/automation_error.h"
#include "base/conversions.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

using test::errorNumberOf;

TEST(Conversions, IntegersRoundHalvesToEvenBooleansTakeWordsOrNumbersNumericTextIsPlainDecimal) {
  EXPECT_EQ(textToInteger(" 7 "), 7);
  EXPECT_EQ(textToInteger("7.5"), 8);
  EXPECT_EQ(textToInteger("6.5"), 6);
  EXPECT_EQ(errorNumberOf([] { textToInteger("40000"); }), kOverflow);
  EXPECT_EQ(errorNumberOf([] { textToInteger("32767.5"); }), kOverflow);  // rounds to 32768
  for (const char* bad : {"", "7a", "&H10", "1,000", "inf"}) {
    EXPECT_EQ(errorNumberOf([&] { textToInteger(bad); }), kTypeMismatch) << bad;
  }
  // Long: the same rules over the 32-bit range.
  EXPECT_EQ(textToLong("2147483647"), 2147483647);
  EXPECT_EQ(textToLong(" -2147483648 "), -2147483647 - 1);
  EXPECT_EQ(errorNumberOf([] { textToLong("2147483647.5"); }), kOverflow);
  // Booleans: the words in any case, or numbers.
  for (const char* yes : {" tRuE ", "-1", "2.5"}) EXPECT_TRUE(textToBoolean(yes)) << yes;
  for (const char* no : {"False", "0.0"}) EXPECT_FALSE(textToBoolean(no)) << no;
  for (const char* bad : {"", "yes", "Truth"}) {
    EXPECT_EQ(errorNumberOf([&] { textToBoolean(bad); }), kTypeMismatch) << bad;
  }
  for (const char* ok : {"5", "+.5", "5.", "-0.25", "1E+2", "1e-2", " \t12\r\n"}) EXPECT_TRUE(isNumeric(ok)) << ok;
  for (const char* no : {".", "e5", "1e+", "1 2", "0x10", "NaN"}) EXPECT_FALSE(isNumeric(no)) << no;
  EXPECT_DOUBLE_EQ(*parseNumber(" -1.5e2 "), -150.0);
}

}  // namespace
}  // namespace qmx
