#include "platform/registry_tree.h"

#include <algorithm>

#include "base/codepage.h"

namespace qmx {
namespace {

// Upper case of a Windows-1252 byte as a Unicode code point, so that names sort
// by character as the registry sorts them, not by byte value.
char32_t upperCodePoint(unsigned char byte) {
  if (byte >= 'a' && byte <= 'z') return byte - 0x20;
  if (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7) return byte - 0x20;  // à..þ
  switch (byte) {
    case 0x9A: return singleByteToCodePoint(0x8A);  // š
    case 0x9C: return singleByteToCodePoint(0x8C);  // œ
    case 0x9E: return singleByteToCodePoint(0x8E);  // ž
    case 0xFF: return singleByteToCodePoint(0x9F);  // ÿ
    default: return singleByteToCodePoint(byte);
  }
}

}  // namespace

bool RegistryNameLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return upperCodePoint(static_cast<unsigned char>(x)) < upperCodePoint(static_cast<unsigned char>(y));
  });
}

bool registryNamesEqual(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return upperCodePoint(static_cast<unsigned char>(x)) == upperCodePoint(static_cast<unsigned char>(y));
  });
}

const RegistryKey* RegistryKey::findSubkey(std::string_view name) const {
  const auto it = subkeys_.find(name);
  return it == subkeys_.end() ? nullptr : it->second.get();
}

RegistryKey* RegistryKey::findSubkey(std::string_view name) {
  const auto it = subkeys_.find(name);
  return it == subkeys_.end() ? nullptr : it->second.get();
}

RegistryKey& RegistryKey::subkey(std::string_view name) {
  auto it = subkeys_.find(name);
  if (it == subkeys_.end()) it = subkeys_.emplace(std::string(name), std::make_unique<RegistryKey>()).first;
  return *it->second;
}

const RegistryValue* RegistryKey::findValue(std::string_view name) const {
  for (const auto& [n, v] : values_) {
    if (registryNamesEqual(n, name)) return &v;
  }
  return nullptr;
}

void RegistryKey::setValue(std::string_view name, RegistryValue value) {
  for (auto& [n, v] : values_) {
    if (registryNamesEqual(n, name)) {
      v = std::move(value);
      return;
    }
  }
  values_.emplace_back(std::string(name), std::move(value));
}

std::vector<std::string> RegistryKey::subkeyNames() const {
  std::vector<std::string> names;
  names.reserve(subkeys_.size());
  for (const auto& entry : subkeys_) names.push_back(entry.first);
  return names;
}

std::optional<std::vector<std::string_view>> splitRegistryPath(std::string_view path) {
  std::vector<std::string_view> parts;
  if (path.empty()) return parts;
  if (path.back() == '\\') path.remove_suffix(1);
  for (;;) {
    const auto sep = path.find('\\');
    const std::string_view part = path.substr(0, sep);
    // A key deeper than Windows allows would only come from a damaged file, and
    // destroying or printing such a tree recurses once per level.
    if (part.empty() || parts.size() == kMaxRegistryDepth) return std::nullopt;
    parts.push_back(part);
    if (sep == std::string_view::npos) break;
    path.remove_prefix(sep + 1);
  }
  return parts;
}

const RegistryKey* RegistryTree::find(std::string_view path) const {
  const auto parts = splitRegistryPath(path);
  if (!parts) return nullptr;
  const RegistryKey* key = &root_;
  for (const auto part : *parts) {
    key = key->findSubkey(part);
    if (!key) return nullptr;
  }
  return key;
}

RegistryKey* RegistryTree::create(std::string_view path) {
  const auto parts = splitRegistryPath(path);
  if (!parts) return nullptr;
  RegistryKey* key = &root_;
  for (const auto part : *parts) key = &key->subkey(part);
  return key;
}

}  // namespace qmx
