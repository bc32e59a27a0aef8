#include <gtest/gtest.h>

#include "platform/automation_error.h"
#include "platform/codepage.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

TEST(CodePage, EveryByteRoundTripsThroughUtf8) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string utf8 = singleByteToUtf8(all);
  EXPECT_EQ(utf8ToSingleByte(utf8), all);
  // The euro sign and an unassigned byte take their Windows mappings.
  EXPECT_EQ(singleByteToUtf8("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(singleByteToUtf8("\x81"), "\xC2\x81");
}

TEST(CodePage, CharacterOutsideThePageFailsOrBecomesReference) {
  const std::string omega = "a\xCE\xA9z";  // U+03A9
  EXPECT_EQ(test::errorNumberOf([&] { utf8ToSingleByte(omega); }), 5);
  EXPECT_EQ(xmlUtf8ToSingleByte(omega), "a&#937;z");
  EXPECT_EQ(utf8ToSingleByteLossy(omega), "a?z");
  EXPECT_THROW(utf8ToSingleByte("\xC3"), AutomationError);  // truncated sequence
}

}  // namespace
}  // namespace qmx
