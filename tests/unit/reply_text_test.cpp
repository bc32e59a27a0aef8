// Decoding reply bodies: which character set wins, and that no byte sequence,
// however broken, gets through as malformed UTF-8.
#include <gtest/gtest.h>

#include "base/utf8.h"
#include "net/reply_text.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

TEST(ReplyText, DeclaredCharsetIsFoundAmongOtherParametersAndWinsOverTheByteOrderMark) {
  EXPECT_EQ(declaredCharset("text/xml; charset=UTF-8"), "utf-8");
  EXPECT_EQ(declaredCharset("text/xml;boundary=x; CHARSET = \"Windows-1252\" ;q=1"), "windows-1252");
  EXPECT_EQ(declaredCharset("text/xml"), "");
  test::FakePlatform platform;
  // ISO-8859-1 under any of its names is read as the code page, so 0x80 is the euro sign.
  for (const std::string label : {"iso-8859-1", "latin1"})
    EXPECT_EQ(decodeReplyText(platform, "\x80", "text/xml; charset=" + label), "\xE2\x82\xAC") << label;
  EXPECT_EQ(decodeReplyText(platform, "\xEF\xBB\xBFx", "text/xml; charset=utf-8"), "x");
  EXPECT_EQ(decodeReplyText(platform, "\xEF\xBB\xBFx", ""), "x");
  EXPECT_EQ(decodeReplyText(platform, std::string("\xFE\xFF\0A\0\xE9", 6), ""), "A\xC3\xA9");
  // Cut-off and impossible sequences in a declared character set are replaced, not fatal.
  EXPECT_EQ(decodeReplyText(platform, std::string("A\0B", 3), "text/plain; charset=utf-16le"), "A\xEF\xBF\xBD");
}

TEST(ReplyText, TextFromTheSystemsDecoderIsCheckedToo) {
  // A label the system resolves to UTF-8 itself passes the bytes through unchanged.
  struct PassThrough : test::FakePlatform {
    std::optional<std::string> decodeCharset(std::string_view bytes, std::string_view) override {
      return std::string(bytes);
    }
  } platform;
  EXPECT_EQ(decodeReplyText(platform, "a\xFF\xED\xA0\x80", "text/xml; charset=utf-8//"),
            "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(ReplyText, MalformedUtf8BecomesReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(repairUtf8("ok \xC3\xA9 \xF0\x9F\x98\x80"), "ok \xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(repairUtf8("\xC0\xAF"), r + r);              // overlong
  EXPECT_EQ(repairUtf8("\xED\xA0\x80"), r + r + r);      // surrogate
  EXPECT_EQ(repairUtf8("a\xE2\x82"), "a" + r + r);       // cut off at the end
}

}  // namespace
}  // namespace qmx
