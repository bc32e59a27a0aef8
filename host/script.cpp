#include "host/script.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_set>

#include "base/ascii_text.h"
#include "base/automation_error.h"
#include "base/codepage.h"
#include "base/utf8.h"

namespace qmx::host {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t'; }
bool isIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

bool isKeyword(std::string_view word) {
  return equalsIgnoreCase(word, "True") || equalsIgnoreCase(word, "False") ||
         equalsIgnoreCase(word, "Empty") || equalsIgnoreCase(word, "Null");
}

// Parses one line; the variables assigned on earlier lines are known so that a
// misspelt variable is caught before anything runs.
class LineParser {
 public:
  LineParser(std::string_view text, int line, const std::unordered_set<std::string>& assigned)
      : s_(text), line_(line), assigned_(assigned) {}

  Statement statement() {
    Statement st;
    st.line = line_;
    skipSpace();
    if (peek() == '$') {
      st.target = variableName();
      skipSpace();
      if (peek() != '=') fail("expected \"=\" after $" + st.target);
      ++pos_;
      skipSpace();
      if (isIdentStart(peek()) && !isKeyword(peekWord())) {
        st.kind = StatementKind::Invoke;
        st.member = identifier();
        st.arguments = argumentsToEnd();
      } else {
        st.kind = StatementKind::SetVariable;
        st.arguments.push_back(singleValue("a value or a member call after \"=\""));
      }
      return st;
    }
    if (!isIdentStart(peek()) || isKeyword(peekWord())) {
      fail("a statement starts with a member name, a $variable or print");
    }
    const std::string word = identifier();
    skipSpace();
    if (equalsIgnoreCase(word, "print")) {
      st.kind = StatementKind::Print;
      st.arguments.push_back(singleValue("a value after print"));
      return st;
    }
    st.member = word;
    if (peek() == '=') {
      ++pos_;
      skipSpace();
      st.kind = StatementKind::PropertyWrite;
      st.arguments.push_back(singleValue("a value after \"=\""));
      return st;
    }
    st.kind = StatementKind::Invoke;
    st.arguments = argumentsToEnd();
    return st;
  }

 private:
  [[noreturn]] void fail(const std::string& message) const { throw ScriptError(line_, message); }

  char peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
  bool atEnd() const { return pos_ >= s_.size(); }
  void skipSpace() {
    while (!atEnd() && isSpace(s_[pos_])) ++pos_;
  }
  std::string_view peekWord() const {
    std::size_t end = pos_;
    while (end < s_.size() && isIdentChar(s_[end])) ++end;
    return s_.substr(pos_, end - pos_);
  }
  std::string identifier() {
    const std::string_view word = peekWord();
    pos_ += word.size();
    return std::string(word);
  }
  std::string variableName() {
    ++pos_;  // "$"
    if (!isIdentStart(peek())) fail("\"$\" must be followed by a variable name");
    return identifier();
  }

  // A value must stand alone: the next character ends the line or is a space.
  void expectSeparator(std::string_view what) {
    if (!atEnd() && !isSpace(peek())) {
      fail("unexpected \"" + std::string(1, peek()) + "\" after " + std::string(what));
    }
  }

  Argument singleValue(const std::string& expected) {
    if (atEnd()) fail("expected " + expected);
    Argument a = argument();
    skipSpace();
    if (!atEnd()) fail("only one value may follow; unexpected \"" + std::string(s_.substr(pos_)) + "\"");
    return a;
  }

  std::vector<Argument> argumentsToEnd() {
    std::vector<Argument> args;
    skipSpace();
    while (!atEnd()) {
      args.push_back(argument());
      skipSpace();
    }
    return args;
  }

  Argument argument() {
    Argument a;
    const char c = peek();
    if (c == '"') {
      a.literal = quoted();
      expectSeparator("a quoted text");
    } else if (c == '$') {
      a.isVariable = true;
      a.variable = variableName();
      if (!assigned_.count(variableKey(a.variable))) {
        fail("$" + a.variable + " is used before any line assigns it");
      }
      expectSeparator("$" + a.variable);
    } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-') {
      a.literal = number();
      expectSeparator("a number");
    } else if (isIdentStart(c)) {
      const std::string word = identifier();
      if (equalsIgnoreCase(word, "True")) {
        a.literal = true;
      } else if (equalsIgnoreCase(word, "False")) {
        a.literal = false;
      } else if (equalsIgnoreCase(word, "Empty")) {
        a.literal = EmptyValue{};
      } else if (equalsIgnoreCase(word, "Null")) {
        a.literal = NullValue{};
      } else {
        fail("unexpected word \"" + word + "\" (text must be quoted)");
      }
      expectSeparator(word);
    } else {
      fail("unexpected \"" + std::string(1, c) + "\"");
    }
    return a;
  }

  std::string quoted() {
    ++pos_;  // opening quote
    std::string out;
    for (;;) {
      if (atEnd()) fail("the quoted text is not closed");
      const char c = s_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (atEnd()) fail("the quoted text is not closed");
      const char e = s_[pos_++];
      switch (e) {
        case '\\': out.push_back('\\'); break;
        case '"': out.push_back('"'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'x': {
          const int hi = hexDigitValue(peek());
          const int lo = pos_ + 1 < s_.size() ? hexDigitValue(s_[pos_ + 1]) : -1;
          if (hi < 0 || lo < 0) fail("\\x must be followed by two hex digits");
          pos_ += 2;
          appendUtf8(out, static_cast<char32_t>(hi * 16 + lo));
          break;
        }
        case 'u': {
          if (peek() != '{') fail("\\u must be followed by {hex digits}");
          ++pos_;
          std::uint32_t cp = 0;
          int digits = 0;
          while (hexDigitValue(peek()) >= 0) {
            cp = cp * 16 + static_cast<std::uint32_t>(hexDigitValue(peek()));
            ++pos_;
            if (++digits > 6) fail("\\u{...} has too many digits");
          }
          if (peek() != '}' || digits == 0) fail("\\u must be followed by {hex digits}");
          ++pos_;
          if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) fail("\\u{...} is not a Unicode character");
          appendUtf8(out, static_cast<char32_t>(cp));
          break;
        }
        default:
          fail("unknown escape \\" + std::string(1, e));
      }
    }
  }

  // Decimal numbers: whole numbers become Integer or Long by size, as a script
  // engine types its literals; anything else (or larger) is a Double.
  Variant number() {
    const std::size_t start = pos_;
    if (peek() == '-') ++pos_;
    auto digits = [&] {
      const std::size_t from = pos_;
      while (std::isdigit(static_cast<unsigned char>(peek()))) ++pos_;
      return pos_ > from;
    };
    if (!digits()) fail("a number must have digits");
    bool whole = true;
    if (peek() == '.') {
      ++pos_;
      whole = false;
      if (!digits()) fail("a number must have digits after \".\"");
    }
    if (peek() == 'e' || peek() == 'E') {
      ++pos_;
      whole = false;
      if (peek() == '+' || peek() == '-') ++pos_;
      if (!digits()) fail("a number's exponent must have digits");
    }
    const std::string_view text = s_.substr(start, pos_ - start);
    if (whole) {
      long long n = 0;
      const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
      if (ec == std::errc() && ptr == text.data() + text.size()) {
        if (n >= std::numeric_limits<std::int16_t>::min() && n <= std::numeric_limits<std::int16_t>::max())
          return static_cast<std::int16_t>(n);
        if (n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max())
          return static_cast<std::int32_t>(n);
      }
    }
    double d = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
    if (ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(d)) {
      fail("the number " + std::string(text) + " is out of range");
    }
    return d;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  int line_;
  const std::unordered_set<std::string>& assigned_;
};

}  // namespace

ScriptError::ScriptError(int line, const std::string& message)
    : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line), message_(message) {}

std::string variableKey(std::string_view name) {
  return lowerAscii(name);
}

std::vector<Statement> parseScript(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<Statement> statements;
  std::unordered_set<std::string> assigned;
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    std::size_t first = 0;
    while (first < line.size() && isSpace(line[first])) ++first;
    if (first == line.size() || line[first] == '#') continue;
    if (!isValidUtf8(line)) throw ScriptError(lineNumber, "the line is not valid UTF-8");

    Statement st = LineParser(line, lineNumber, assigned).statement();
    if (!st.target.empty()) assigned.insert(variableKey(st.target));
    statements.push_back(std::move(st));
  }
  return statements;
}

}  // namespace qmx::host
