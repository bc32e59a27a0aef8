// The registry routines over the platform seam, keeping the limits of the
// buffers the control hands to the ANSI registry functions.
#include "settings/reg_main.h"

#include "base/automation_error.h"
#include "base/codepage.h"

namespace qmx {
namespace {

// Installation identifiers are 38 characters; the name buffer holds no more.
constexpr std::size_t kInstallIdLength = 38;
// GetRegKey offers 1023 bytes, terminator included.
constexpr std::size_t kRegKeyBufferBytes = 1023;

// A text as the ANSI functions receive it: in the code page, ending at its first NUL.
std::string ansiArgument(std::string_view utf8) {
  std::string bytes = utf8ToSingleByteLossy(utf8);
  const auto nul = bytes.find('\0');
  if (nul != std::string::npos) bytes.resize(nul);
  return bytes;
}

std::string upToNul(std::string_view bytes) { return std::string(bytes.substr(0, bytes.find('\0'))); }

bool isEmptyText(const Variant& v) {
  if (std::holds_alternative<EmptyValue>(v)) return true;
  const auto* s = std::get_if<std::string>(&v);
  return s && s->empty();
}

}  // namespace

std::string GetInstallList(Platform& platform) {
  const auto names = platform.registrySubkeys(kSettingsRoot);
  if (!names) return {};
  std::string list;
  for (const std::string& name : *names) {
    // A longer name does not fit the buffer and ends the enumeration there.
    if (name.size() > kInstallIdLength) break;
    list += ';';
    list += singleByteToUtf8(name);
  }
  if (!list.empty()) list.erase(0, 1);
  return list;
}

std::string GetRegKey(Platform& platform, const std::string& keyPath, const std::string& subkeyName,
                      Variant& basePath) {
  try {
    if (isEmptyText(basePath)) basePath = std::string(kSettingsRoot);
    std::string path = ansiArgument(variantToText(basePath) + keyPath);
    const std::string subkey = ansiArgument(subkeyName);
    if (!subkey.empty()) {
      // The subkey is looked up inside the opened key: a key path that already
      // ends in "\" (the settings root does) takes no second separator.
      if (!path.empty() && path.back() != '\\') path += '\\';
      path += subkey;
    }
    const auto value = platform.registryValue(path, "");
    if (!value || value->type != kRegSz) return {};
    if (value->data.size() > kRegKeyBufferBytes) return {};
    return singleByteToUtf8(upToNul(value->data));
  } catch (const AutomationError&) {
    return {};
  }
}

std::string GetRegKey(Platform& platform, const std::string& keyPath) {
  Variant base = std::string();
  return GetRegKey(platform, keyPath, std::string(), base);
}

std::string GetRegValue(Platform& platform, std::uint32_t root, const std::string& keyPath,
                        const std::string& valueName) {
  const std::string notFound(kKeyNotFoundText);
  try {
    if (root != kHkeyLocalMachine) return notFound;
    const std::string path = ansiArgument(keyPath);
    const auto value = platform.registryValue(path, ansiArgument(valueName));
    if (!value) return notFound;
    const std::string& data = value->data;
    switch (value->type) {
      case kRegSz:
        // Zero bytes leave no room even for a terminator: not a readable string.
        if (data.empty()) return notFound;
        return singleByteToUtf8(upToNul(data));
      case kRegBinary:
        return singleByteToUtf8(data);
      case kRegDword: {
        if (data.size() > 4) return notFound;
        std::uint32_t n = 0;
        for (std::size_t k = 0; k < data.size(); ++k) {
          n |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[k])) << (8 * k);
        }
        return std::to_string(static_cast<std::int32_t>(n));
      }
      default:
        // The size probe succeeds only for a value with no data; there is no
        // second read for these types.
        return data.empty() ? std::string() : notFound;
    }
  } catch (const AutomationError&) {
    return notFound;
  }
}

}  // namespace qmx
