#include "platform/temporary_names.h"

#include <charconv>

namespace qmx {
namespace {

constexpr std::string_view kMarker = ".tmp";

bool allDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// The "PID_N" part after the last ".tmp"; empty when the name is no temporary.
std::string_view counters(std::string_view fileName) {
  if (fileName.size() < 2 || fileName.front() != '.') return {};
  const auto marker = fileName.rfind(kMarker);
  // At least one character of the replaced file's name between "." and ".tmp".
  if (marker == std::string_view::npos || marker < 2) return {};
  const std::string_view rest = fileName.substr(marker + kMarker.size());
  const auto underscore = rest.find('_');
  if (underscore == std::string_view::npos || !allDigits(rest.substr(0, underscore)) ||
      !allDigits(rest.substr(underscore + 1))) {
    return {};
  }
  return rest;
}

}  // namespace

std::string replaceTemporaryName(std::string_view name, std::uint64_t writer, std::uint64_t sequence) {
  std::string temp = ".";
  temp.append(name);
  temp.append(kMarker);
  temp += std::to_string(writer);
  temp.push_back('_');
  temp += std::to_string(sequence);
  return temp;
}

bool isReplaceTemporaryName(std::string_view fileName) { return !counters(fileName).empty(); }

std::optional<std::uint64_t> replaceTemporaryWriter(std::string_view fileName) {
  const std::string_view rest = counters(fileName);
  if (rest.empty()) return std::nullopt;
  const std::string_view digits = rest.substr(0, rest.find('_'));
  std::uint64_t writer = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), writer);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return writer;
}

}  // namespace qmx
