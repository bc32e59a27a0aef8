#include "password/password_record.h"

#include <algorithm>

namespace qmx::password {
namespace {

bool isHashAlphabet(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '/';
}

}  // namespace

bool hasYescryptForm(std::string_view text) {
  if (text.substr(0, 3) != "$y$") return false;
  if (std::count(text.begin(), text.end(), '$') != 4) return false;
  const std::string_view hash = text.substr(text.rfind('$') + 1);
  return !hash.empty() && std::all_of(hash.begin(), hash.end(), isHashAlphabet);
}

bool equalInConstantTime(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

}  // namespace qmx::password
