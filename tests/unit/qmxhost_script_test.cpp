// The script language: statement forms, literals, escapes and the errors that
// stop a script before anything runs.
#include <gtest/gtest.h>

#include "host/script.h"

namespace qmx::host {
namespace {

Variant literalOf(const std::string& valueText) {
  const auto st = parseScript("print " + valueText);
  EXPECT_EQ(st.size(), 1u);
  return st.at(0).arguments.at(0).literal;
}

TEST(QmxhostScript, ParsesEveryStatementFormWithItsLineNumber) {
  const auto st = parseScript(
      "\xEF\xBB\xBF# a comment\r\n"
      "\r\n"
      "  getKey\r\n"
      "Login \"demo\"   \"pw\"\r\n"
      "ServerBase = \"http://h/\"\n"
      "$k = getKey\n"
      "\t# an indented comment\n"
      "$copy = $K\n"
      "PRINT $copy\n"
      "XMLLoad $copy \"f.xml\"");
  std::vector<std::pair<StatementKind, int>> kinds;
  for (const Statement& statement : st) kinds.emplace_back(statement.kind, statement.line);
  using K = StatementKind;
  EXPECT_EQ(kinds, (std::vector<std::pair<StatementKind, int>>{{K::Invoke, 3}, {K::Invoke, 4}, {K::PropertyWrite, 5},
                                                              {K::Invoke, 6}, {K::SetVariable, 8}, {K::Print, 9},
                                                              {K::Invoke, 10}}));
  ASSERT_EQ(st.size(), 7u);
  EXPECT_EQ(st[0].member, "getKey");
  EXPECT_TRUE(st[0].target.empty());
  EXPECT_EQ(st[2].member, "ServerBase");
  EXPECT_EQ(std::get<std::string>(st[2].arguments.at(0).literal), "http://h/");
  EXPECT_EQ(st[3].target, "k");
  // Variables ignore letter case, as member names do.
  EXPECT_EQ(variableKey(st[4].arguments.at(0).variable), "k");
  EXPECT_TRUE(st[4].arguments.at(0).isVariable && st[6].arguments.at(0).isVariable);
}

TEST(QmxhostScript, DecodesEveryEscapeToUtf8) {
  EXPECT_EQ(std::get<std::string>(literalOf(R"("a\\b\"c\nd\re\tf")")), "a\\b\"c\nd\re\tf");
  // \xHH is the character U+00HH, not the byte: \xE9 is e-acute in UTF-8.
  EXPECT_EQ(std::get<std::string>(literalOf(R"("\x41\x01\xe9\xFF")")), "A\x01\xC3\xA9\xC3\xBF");
  EXPECT_EQ(std::get<std::string>(literalOf(R"("\u{20AC}\u{1f600}\u{0}")")),
            std::string("\xE2\x82\xAC\xF0\x9F\x98\x80") + std::string(1, '\0'));
}

TEST(QmxhostScript, TypesLiteralsLikeAScriptEngine) {
  EXPECT_EQ(literalOf("32767"), Variant(std::int16_t{32767}));
  EXPECT_EQ(literalOf("32768"), Variant(std::int32_t{32768}));
  EXPECT_EQ(literalOf("2147483648"), Variant(2147483648.0));
  EXPECT_EQ(literalOf("1.5"), Variant(1.5));
  EXPECT_EQ(literalOf("true"), Variant(true));
  EXPECT_EQ(literalOf("null"), Variant(NullValue{}));
}

TEST(QmxhostScript, RejectsMalformedLinesNamingTheLine) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"print \"unclosed", "not closed"},
      {"print \"\\q\"", "unknown escape"},
      {"print \"\\u{110000}\"", "not a Unicode character"},
      // Raw bytes follow the one UTF-8 rule too: no encoded surrogate.
      {"print \"\xED\xA0\x80\"", "not valid UTF-8"},
      {"Login demo \"pw\"", "must be quoted"},
      {"$x", "expected \"=\""},
      {"$x = 1 2", "only one value"},
      {"12", "a statement starts with"},
      {"print 1e999", "out of range"},
      {"print $never", "$never is used before"},
  };
  for (const auto& [line, expected] : cases) {
    // A good line first, so that the error must name line 3, not the first line.
    const std::string script = "getKey\n\n" + line + "\ngetKey\n";
    try {
      parseScript(script);
      ADD_FAILURE() << "accepted: " << line;
    } catch (const ScriptError& e) {
      EXPECT_EQ(e.line(), 3) << line;
      EXPECT_NE(e.message().find(expected), std::string::npos) << line << " -> " << e.message();
    }
  }
}

}  // namespace
}  // namespace qmx::host
