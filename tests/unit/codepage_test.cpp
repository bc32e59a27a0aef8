#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "base/automation_error.h"
#include "base/codepage.h"
#include "base/utf8.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

TEST(CodePage, EveryByteRoundTripsAndACharacterOutsideThePageFailsOrBecomesAReference) {
  const std::string omega = "a\xCE\xA9z";  // U+03A9
  EXPECT_EQ(test::errorNumberOf([&] { utf8ToSingleByte(omega); }), 5);
  EXPECT_EQ(xmlUtf8ToSingleByte(omega), "a&#937;z");
  EXPECT_EQ(utf8ToSingleByteLossy(omega), "a?z");
  // Overlong forms of "/" and NUL are malformed, not the ASCII they spell.
  for (const char* overlong : {"a\xC0\xAF", "\xE0\x80\xAF"}) EXPECT_THROW(utf8ToSingleByteLossy(overlong), AutomationError);

  // Every byte, between runs of ASCII of every length, converts the same in runs
  // as byte by byte, and back.
  std::string bytes;
  for (int k = 0; k < 5000; ++k) bytes += std::string(k % 37, 'x') + static_cast<char>(k % 256);
  std::string expected;
  for (unsigned char b : bytes) appendUtf8(expected, singleByteToCodePoint(b));
  EXPECT_EQ(singleByteToUtf8(bytes), expected);
  EXPECT_EQ(singleByteUtf8Size(bytes), expected.size());
  EXPECT_EQ(utf8ToSingleByte(expected), bytes);
  EXPECT_FALSE(isValidUtf8(expected + std::string(20, 'a') + "\xC3"));
}

// The XML conversion written plainly: the whole text at once, looking ahead for
// the words that open comments, CDATA and declarations.
std::optional<std::string> referenceXmlToSingleByte(std::string_view xml) {
  enum class Where { Text, Tag, Value, Literal } where = Where::Text;
  std::string_view literalEnd;
  std::string out;
  std::size_t i = 0;
  while (i < xml.size()) {
    const char c = xml[i];
    if (static_cast<unsigned char>(c) < 0x80) {
      if (where == Where::Text && c == '<') {
        where = Where::Literal;
        if (xml.substr(i, 9) == "<![CDATA[") literalEnd = "]]>";
        else if (xml.substr(i, 4) == "<!--") literalEnd = "-->";
        else if (xml.substr(i, 2) == "<?") literalEnd = "?>";
        else if (xml.substr(i, 2) == "<!") literalEnd = ">";
        else where = Where::Tag;
      } else if (where == Where::Tag && (c == '"' || c == '>')) {
        where = c == '"' ? Where::Value : Where::Text;
      } else if (where == Where::Value && c == '"') {
        where = Where::Tag;
      } else if (where == Where::Literal && xml.substr(i, literalEnd.size()) == literalEnd) {
        out.append(literalEnd);
        i += literalEnd.size();
        where = Where::Text;
        continue;
      }
      out.push_back(c);
      ++i;
      continue;
    }
    std::size_t next = i;
    const auto cp = decodeUtf8(xml, next);
    if (!cp) return std::nullopt;
    i = next;
    if (auto b = codePointToSingleByte(*cp)) out.push_back(static_cast<char>(*b));
    else if (where == Where::Text || where == Where::Value) out += "&#" + std::to_string(*cp) + ";";
    else return std::nullopt;
  }
  return out;
}

// The conversion's result, or nothing where it refused the text (always as error 5).
template <class Convert>
std::optional<std::string> unlessRefused(Convert convert) {
  try {
    return convert();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 5);
    return std::nullopt;
  }
}

// Random texts made of the words that change the conversion's state, converted
// whole and in pieces cut at random places (inside characters and words too).
TEST(CodePage, XmlConversionInPiecesAgreesWithThePlainReference) {
  const std::vector<std::string> words = {"<",  "!",  "-",  "--", "[", "]", "]]", ">", "?", "\"", "<![CDATA[",
                                          "<!--", "-->", "]]>", "?>", "<?", "a", " ", "\xC3\xA9", "\xCE\xA9",
                                          "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xC3", "\xA9", "<![CDAT"};
  std::mt19937 random(2024);
  int agreedOnFailure = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string xml;
    const int count = static_cast<int>(random() % 12);
    for (int k = 0; k < count; ++k) xml += words[random() % words.size()];
    const std::optional<std::string> expected = referenceXmlToSingleByte(xml);
    ASSERT_EQ(unlessRefused([&] { return xmlUtf8ToSingleByte(xml); }), expected) << xml;
    const auto inPieces = [&] {
      XmlSingleByteEncoder encoder;
      std::string out;
      for (std::size_t at = 0, size = 0; at < xml.size(); at += size) {
        size = std::min<std::size_t>(xml.size() - at, random() % 4);
        encoder.feed(std::string_view(xml).substr(at, size), out);
      }
      encoder.finish();
      return out;
    };
    ASSERT_EQ(unlessRefused(inPieces), expected) << xml;
    if (!expected) ++agreedOnFailure;
  }
  EXPECT_GT(agreedOnFailure, 100);  // the random texts reach the failing cases too
}

}  // namespace
}  // namespace qmx
