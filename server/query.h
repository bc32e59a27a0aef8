// The query part of a request as the control sends it: values are not escaped, except
// that the transport percent-encodes what cannot travel in a request line. So only
// "%XX" is decoded; "+" stays a plus sign.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qmx::server {

class QueryString {
 public:
  // Splits the raw query (the text after "?") at "&" and "=".
  explicit QueryString(std::string_view raw);

  // The decoded value of the first item with this key, keys compared without regard to
  // letter case (the control sends both "cucumber" and "Cucumber"); nullopt when absent.
  std::optional<std::string> get(std::string_view key) const;
  // As get, with empty text for an absent key.
  std::string value(std::string_view key) const { return get(key).value_or(""); }

 private:
  std::vector<std::pair<std::string, std::string>> items_;
};

// Decodes "%XX" escapes (a malformed escape stays as written). The bytes are read as
// UTF-8, or as Windows-1252 text when they are not valid UTF-8; the result is UTF-8.
std::string decodeQueryText(std::string_view raw);

// The raw query with the value of every item of this key (compared as get() does)
// replaced by "***", so that a log never shows it.
std::string hideQueryValues(std::string_view raw, std::string_view key);

}  // namespace qmx::server
