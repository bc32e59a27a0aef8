// What the fuzz targets share: the input as text, and a failed property as a
// crash that libFuzzer keeps the input of.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace qmx::fuzz {

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Printable form of bytes for a failure message (C-style escapes).
inline std::string escaped(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    char buf[8];
    std::snprintf(buf, sizeof buf, b == '\\' || b == '"' ? "\\%c" : b >= 0x20 && b < 0x7F ? "%c" : "\\x%02X", b);
    out += buf;
  }
  return out;
}

// Reports the property and each named value, escaped, then crashes.
[[noreturn]] inline void fail(const std::string& what,
                              std::initializer_list<std::pair<const char*, std::string_view>> values = {}) {
  std::fprintf(stderr, "property violated: %s\n", what.c_str());
  for (const auto& [name, value] : values) std::fprintf(stderr, "%s: %s\n", name, escaped(value).c_str());
  std::abort();
}

}  // namespace qmx::fuzz
