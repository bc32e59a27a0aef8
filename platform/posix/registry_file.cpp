// The export format is read line by line in UTF-8 whatever the file's encoding;
// names and string data go into the tree in Windows-1252 at the end, the way
// the ANSI registry functions hand them out.
#include "platform/posix/registry_file.h"

#include <cstdint>
#include <cstdio>
#include <optional>

#include "base/ascii_text.h"
#include "base/automation_error.h"
#include "base/codepage.h"
#include "base/utf8.h"

namespace qmx {
namespace {

constexpr std::string_view kVersion5Header = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRegedit4Header = "REGEDIT4";
constexpr std::string_view kHiveName = "HKEY_LOCAL_MACHINE";

std::string_view trim(std::string_view s) { return trimmed(s, " \t\r\n"); }

// The whole UTF-16 code units of the bytes: an odd last byte is dropped, as
// regedit drops it.
std::string_view evenPart(std::string_view bytes) { return bytes.substr(0, bytes.size() & ~std::size_t{1}); }

// Windows-1252 bytes of UTF-16LE data, as the ANSI registry functions convert
// string values; characters outside the code page become '?'.
std::string utf16DataToSingleByte(std::string_view bytes) {
  return utf8ToSingleByteLossy(utf16ToUtf8(evenPart(bytes), false));
}

std::string singleByteToUtf16Data(std::string_view bytes) {
  std::string out;
  for (const char32_t cp : utf8ToCodePoints(singleByteToUtf8(bytes))) {
    out.push_back(static_cast<char>(cp & 0xFF));
    out.push_back(static_cast<char>((cp >> 8) & 0xFF));
  }
  return out;
}

class Parser {
 public:
  explicit Parser(ParsedRegistry& out) : out_(out) {}

  void run(std::string_view bytes) {
    std::string text;
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
      text = utf16ToUtf8(evenPart(bytes.substr(2)), false);
    } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") {
      text = utf16ToUtf8(evenPart(bytes.substr(2)), true);
    } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
      text = std::string(bytes.substr(3));
      if (!isValidUtf8(text)) text = singleByteToUtf8(text);
    } else if (trim(bytes.substr(0, bytes.find('\n'))) == kRegedit4Header || !isValidUtf8(bytes)) {
      text = singleByteToUtf8(bytes);  // REGEDIT4, or a Version 5 file saved in the code page
    } else {
      text = std::string(bytes);
    }
    splitLines(text);
    if (lines_.empty()) return;

    const std::string_view header = trim(lines_[0]);
    std::size_t first = 1;
    if (header == kRegedit4Header) {
      version5_ = false;
    } else if (header != kVersion5Header) {
      warn(1, "no \"" + std::string(kVersion5Header) + "\" or \"" + std::string(kRegedit4Header) +
                  "\" header; read as a Version 5 export");
      first = 0;
    }
    for (std::size_t i = first; i < lines_.size(); ++i) i = parseLine(i);
  }

 private:
  void splitLines(const std::string& text) {
    std::size_t start = 0;
    while (start <= text.size()) {
      auto end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines_.push_back(std::move(line));
      start = end + 1;
    }
  }

  void warn(std::size_t lineNumber, const std::string& what) {
    out_.warnings.push_back("line " + std::to_string(lineNumber) + ": " + what);
  }

  // Parses the logical line starting at index i; returns the index of its last physical line.
  std::size_t parseLine(std::size_t i) {
    const std::string_view line = trim(lines_[i]);
    if (line.empty() || line.front() == ';') return i;
    if (line.front() == '[') {
      parseKeyLine(i + 1, line);
      return i;
    }
    if (line.front() == '@' || line.front() == '"') return parseValueLine(i);
    warn(i + 1, "not a key or value line: " + std::string(line.substr(0, 60)));
    return i;
  }

  void parseKeyLine(std::size_t lineNumber, std::string_view line) {
    current_ = nullptr;
    inSection_ = true;
    const auto close = line.rfind(']');
    if (close == std::string_view::npos || !trim(line.substr(close + 1)).empty()) {
      warn(lineNumber, "key line without a closing \"]\"; its values are skipped");
      return;
    }
    const std::string_view path = line.substr(1, close - 1);
    if (!path.empty() && path.front() == '-') {
      warn(lineNumber, "key deletion ignored: " + std::string(path));
      return;
    }
    const auto sep = path.find('\\');
    const std::string_view hive = path.substr(0, sep);
    if (!startsWithIgnoreCase(hive, kHiveName) || hive.size() != kHiveName.size()) {
      warn(lineNumber, "key outside " + std::string(kHiveName) + " ignored: " + std::string(path));
      return;
    }
    const std::string rest = sep == std::string_view::npos ? std::string() : std::string(path.substr(sep + 1));
    RegistryKey* key = out_.tree.create(utf8ToSingleByteLossy(rest));
    if (!key) {
      warn(lineNumber, "key path with an empty name or more than " + std::to_string(kMaxRegistryDepth) +
                           " levels ignored: " + std::string(path.substr(0, 200)));
      return;
    }
    current_ = key;
  }

  // Reads a quoted string starting at s[0] == '"', resolving \\ and \". Returns the
  // text and advances s past the closing quote; nullopt when it is not closed.
  static std::optional<std::string> quoted(std::string_view& s) {
    std::string text;
    for (std::size_t i = 1; i < s.size(); ++i) {
      const char c = s[i];
      if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
        text.push_back(s[++i]);
      } else if (c == '"') {
        s.remove_prefix(i + 1);
        return text;
      } else {
        text.push_back(c);  // any other backslash is kept, as hand-written paths have them
      }
    }
    return std::nullopt;
  }

  std::size_t parseValueLine(std::size_t i) {
    const std::size_t lineNumber = i + 1;
    std::string_view rest = trim(lines_[i]);
    std::string name;
    if (rest.front() == '@') {
      rest.remove_prefix(1);
    } else {
      auto n = quoted(rest);
      if (!n) {
        warn(lineNumber, "value name without a closing quote");
        return i;
      }
      name = std::move(*n);
    }
    rest = trim(rest);
    if (rest.empty() || rest.front() != '=') {
      warn(lineNumber, "value without \"=\"");
      return i;
    }
    rest = trim(rest.substr(1));

    // Hex data may run over continuation lines ending in "\".
    std::string joined;
    if (startsWithIgnoreCase(rest, "hex")) {
      joined = std::string(rest);
      while (!joined.empty() && joined.back() == '\\' && i + 1 < lines_.size()) {
        joined.pop_back();
        joined += trim(lines_[++i]);
      }
      rest = joined;
    }

    if (!current_) {
      if (!inSection_) warn(lineNumber, "value before any key line");
      return i;
    }
    std::optional<RegistryValue> value;
    std::string problem;
    try {
      value = parseData(rest, problem);
    } catch (const AutomationError& e) {
      problem = e.description();
    }
    if (!value) {
      warn(lineNumber, (problem.empty() ? "unreadable value data" : problem) +
                           (name.empty() ? std::string(" (default value)") : " (value \"" + name + "\")"));
      return i;
    }
    current_->setValue(utf8ToSingleByteLossy(name), std::move(*value));
    return i;
  }

  std::optional<RegistryValue> parseData(std::string_view data, std::string& problem) {
    if (!data.empty() && data.front() == '"') {
      auto text = quoted(data);
      if (!text || !trim(data).empty()) {
        problem = "string value without a closing quote";
        return std::nullopt;
      }
      std::string bytes = utf8ToSingleByteLossy(*text);
      bytes.push_back('\0');
      return RegistryValue{kRegSz, std::move(bytes)};
    }
    if (data == "-") {
      problem = "value deletion ignored";
      return std::nullopt;
    }
    if (startsWithIgnoreCase(data, "dword:")) {
      const std::string_view digits = trim(data.substr(6));
      if (digits.empty() || digits.size() > 8) {
        problem = "dword value needs 1 to 8 hex digits";
        return std::nullopt;
      }
      std::uint32_t number = 0;
      for (const char c : digits) {
        const int d = hexDigitValue(c);
        if (d < 0) {
          problem = "dword value needs 1 to 8 hex digits";
          return std::nullopt;
        }
        number = (number << 4) | static_cast<std::uint32_t>(d);
      }
      std::string bytes(4, '\0');
      for (std::size_t k = 0; k < 4; ++k) bytes[k] = static_cast<char>((number >> (8 * k)) & 0xFF);
      return RegistryValue{kRegDword, std::move(bytes)};
    }
    if (startsWithIgnoreCase(data, "hex")) return parseHex(data.substr(3), problem);
    problem = "unknown value type";
    return std::nullopt;
  }

  std::optional<RegistryValue> parseHex(std::string_view data, std::string& problem) {
    std::uint32_t type = kRegBinary;
    if (!data.empty() && data.front() == '(') {
      const auto close = data.find(')');
      const std::string_view digits = data.substr(1, close == std::string_view::npos ? 0 : close - 1);
      if (close == std::string_view::npos || digits.empty() || digits.size() > 8) {
        problem = "unreadable hex(N) type";
        return std::nullopt;
      }
      type = 0;
      for (const char c : digits) {
        const int d = hexDigitValue(c);
        if (d < 0) {
          problem = "unreadable hex(N) type";
          return std::nullopt;
        }
        type = (type << 4) | static_cast<std::uint32_t>(d);
      }
      data.remove_prefix(close + 1);
    }
    if (data.empty() || data.front() != ':') {
      problem = "hex value without \":\"";
      return std::nullopt;
    }
    data.remove_prefix(1);
    std::vector<std::string_view> items;
    for (std::size_t pos = 0;;) {
      const auto comma = data.find(',', pos);
      items.push_back(data.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
      if (comma == std::string_view::npos) break;
      pos = comma + 1;
    }
    std::string bytes;
    for (std::size_t k = 0; k < items.size(); ++k) {
      const std::string_view item = trim(items[k]);
      if (item.empty() && k + 1 == items.size()) break;  // "hex:" alone, or a trailing ","
      const int hi = item.empty() ? -1 : hexDigitValue(item[0]);
      const int lo = item.size() == 2 ? hexDigitValue(item[1]) : 0;
      if (item.empty() || item.size() > 2 || hi < 0 || lo < 0) {
        problem = "unreadable byte \"" + std::string(item) + "\" in hex value";
        return std::nullopt;
      }
      bytes.push_back(static_cast<char>(item.size() == 2 ? hi * 16 + lo : hi));
    }
    // A Version 5 export holds string types in UTF-16LE; the ANSI functions
    // return them in the code page.
    if (version5_ && (type == kRegSz || type == kRegExpandSz || type == kRegMultiSz)) {
      bytes = utf16DataToSingleByte(bytes);
    }
    return RegistryValue{type, std::move(bytes)};
  }

  ParsedRegistry& out_;
  std::vector<std::string> lines_;
  bool version5_ = true;
  bool inSection_ = false;  // a key line was seen, even one that was ignored
  RegistryKey* current_ = nullptr;
};

// ---- Printing.

std::string quote(std::string_view utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string hexList(std::string_view bytes, std::size_t prefixLength) {
  std::string out;
  std::size_t column = prefixLength;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += lowerAscii(hexByte(b));  // regedit writes lower-case digits
    column += 2;
    if (i + 1 < bytes.size()) {
      out.push_back(',');
      ++column;
      if (column > 76) {  // wrapped the way regedit wraps long values
        out += "\\\n  ";
        column = 2;
      }
    }
  }
  return out;
}

// A string value prints as text only when it reads back the same: one
// terminator at the end and no line breaks inside.
bool printsAsText(const RegistryValue& v) {
  if (v.type != kRegSz || v.data.empty() || v.data.back() != '\0') return false;
  const std::string_view body(v.data.data(), v.data.size() - 1);
  return body.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

void printValue(std::string& out, const std::string& name, const RegistryValue& v) {
  std::string line = name.empty() ? "@=" : quote(singleByteToUtf8(name)) + "=";
  if (printsAsText(v)) {
    line += quote(singleByteToUtf8(std::string_view(v.data.data(), v.data.size() - 1)));
  } else if (v.type == kRegDword && v.data.size() == 4) {
    std::uint32_t n = 0;
    for (std::size_t k = 0; k < 4; ++k) n |= static_cast<std::uint32_t>(static_cast<unsigned char>(v.data[k])) << (8 * k);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", n);
    line += buf;
  } else {
    const bool text = v.type == kRegSz || v.type == kRegExpandSz || v.type == kRegMultiSz;
    if (v.type == kRegBinary) {
      line += "hex:";
    } else {
      char buf[24];
      std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
      line += buf;
    }
    line += hexList(text ? singleByteToUtf16Data(v.data) : v.data, line.size());
  }
  out += line;
  out += '\n';
}

void printKey(std::string& out, const std::string& path, const RegistryKey& key) {
  out += "[" + path + "]\n";
  for (const auto& [name, value] : key.values()) printValue(out, name, value);
  out += '\n';
  for (const auto& [name, sub] : key.subkeys()) printKey(out, path + "\\" + singleByteToUtf8(name), *sub);
}

}  // namespace

ParsedRegistry parseRegistryFile(std::string_view bytes) {
  ParsedRegistry result;
  Parser(result).run(bytes);
  return result;
}

std::string formatRegistry(const ParsedRegistry& registry) {
  std::string out = std::string(kVersion5Header) + "\n\n";
  const RegistryKey& root = registry.tree.root();
  if (!root.values().empty()) {
    out += "[" + std::string(kHiveName) + "]\n";
    for (const auto& [name, value] : root.values()) printValue(out, name, value);
    out += '\n';
  }
  for (const auto& [name, sub] : root.subkeys()) {
    printKey(out, std::string(kHiveName) + "\\" + singleByteToUtf8(name), *sub);
  }
  return out;
}

}  // namespace qmx
