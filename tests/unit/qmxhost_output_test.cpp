// How qmxhost shows values and events: the quoted form must read back through
// the script parser unchanged, and the JSON form must stay valid JSON.
#include <gtest/gtest.h>

#include <sstream>

#include "base/utf8.h"
#include "host/event_writer.h"
#include "host/script.h"
#include "host/value_text.h"

namespace qmx::host {
namespace {

std::string parsedBack(const std::string& quoted) {
  return std::get<std::string>(parseScript("print " + quoted).at(0).arguments.at(0).literal);
}

TEST(QmxhostOutput, QuotedTextReadsBackThroughTheParser) {
  std::string every;
  for (char32_t cp = 0; cp < 0x300; ++cp) appendUtf8(every, cp);
  for (char32_t cp : {U'\u20AC', U'\uFFFD', U'\U0001F600', U'\U0010FFFF'}) appendUtf8(every, cp);
  const std::string quoted = quoteText(every);
  // Plain ASCII on the line: no raw control character or byte above 0x7E.
  for (char c : quoted) {
    EXPECT_TRUE(c >= 0x20 && c < 0x7F) << static_cast<int>(static_cast<unsigned char>(c));
  }
  EXPECT_EQ(parsedBack(quoted), every);

  EXPECT_EQ(quoteText("a\"b\\c\n\r\t\x01\x7F"), R"("a\"b\\c\n\r\t\x01\x7F")");
  // Bytes that are not UTF-8 still show, as the character of their value.
  EXPECT_EQ(quoteText("x\xFFy\xC3"), R"("x\xFFy\xC3")");
}

// Empty, Boolean, Integer and text show in the script runs of qmxhost_dispatch_test.
TEST(QmxhostOutput, FormatsEachKindOfValue) {
  EXPECT_EQ(formatValue(NullValue{}), "Null");
  EXPECT_EQ(formatValue(XmlDocument{}), "Nothing");
  EXPECT_EQ(formatValue(0.1), "0.1");
  const XmlDocument doc = parseXmlDocument(R"(<xml><status a="1">Success</status></xml>)");
  EXPECT_EQ(formatValue(doc), R"(xml "<xml><status a=\"1\">Success</status></xml>")");
}

TEST(QmxhostOutput, WritesOneLinePerEventAsTextOrJson) {
  std::ostringstream text;
  std::ostringstream json;
  EventWriter t(text, OutputFormat::Text);
  EventWriter j(json, OutputFormat::Json);
  for (EventWriter* w : {&t, &j}) {
    w->messageBox("Line 1\nLine \"2\"");
    w->result(std::string("tab\there \xC3\xA9\x01\xFF"));
    w->result(std::int32_t{40000});
    w->error(13, "Type mismatch", 0);
  }
  EXPECT_EQ(text.str(),
            "! msgbox \"Line 1\\nLine \\\"2\\\"\"\n"
            "= \"tab\\there \\xE9\\x01\\xFF\"\n"
            "= 40000\n"
            "! error 13 \"Type mismatch\"\n");
  EXPECT_EQ(json.str(),
            "{\"event\":\"msgbox\",\"text\":\"Line 1\\nLine \\\"2\\\"\"}\n"
            "{\"event\":\"result\",\"type\":\"Text\",\"value\":\"tab\\there \xC3\xA9\\u0001\xC3\xBF\"}\n"
            "{\"event\":\"result\",\"type\":\"Long\",\"value\":40000}\n"
            "{\"event\":\"error\",\"number\":13,\"description\":\"Type mismatch\"}\n");
}

}  // namespace
}  // namespace qmx::host
