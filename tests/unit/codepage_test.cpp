#include <gtest/gtest.h>

#include "base/automation_error.h"
#include "base/codepage.h"
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
  // In XML only text and attribute values can carry a reference; elsewhere it
  // would break the file or come back as other text.
  EXPECT_EQ(xmlUtf8ToSingleByte("<?xml version=\"1.0\"?><r a=\"\xCE\xA9>\" b=\"\xC3\xA9\"><![CDATA[\xC3\xA9]]>\xCE\xA9<x/>"
                                "\xCE\xA9</r>"),
            "<?xml version=\"1.0\"?><r a=\"&#937;>\" b=\"\xE9\"><![CDATA[\xE9]]>&#937;<x/>&#937;</r>");
  for (const char* xml : {"<r\xCE\xA9/>", "<r \xCE\xA9=\"1\"/>", "<r><![CDATA[\xCE\xA9]]></r>", "<r><!--\xCE\xA9--></r>",
                          "<r></r\xCE\xA9>"}) {
    EXPECT_EQ(test::errorNumberOf([&] { xmlUtf8ToSingleByte(xml); }), 5) << xml;
  }
  EXPECT_EQ(utf8ToSingleByteLossy(omega), "a?z");
  EXPECT_THROW(utf8ToSingleByte("\xC3"), AutomationError);  // truncated sequence
  // Overlong forms of "/" and NUL are malformed, not the ASCII they spell.
  for (const char* overlong : {"a\xC0\xAF", "\xE0\x80\xAF", "\xC0\x80", "\xF0\x80\x80\xAF"}) {
    EXPECT_EQ(test::errorNumberOf([&] { utf8ToSingleByteLossy(overlong); }), 5) << overlong;
  }
}

}  // namespace
}  // namespace qmx
