#include "support/temp_root.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/utf8.h"

namespace qmx::test {

namespace fs = std::filesystem;

TempRoot::TempRoot() {
  std::string tmpl = (fs::temp_directory_path() / "qmxroot.XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempRoot::~TempRoot() {
  std::error_code ec;
  // Tests may leave read-only files behind; make them removable first.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string TempRoot::at(std::string_view relative) const { return path_ + "/" + std::string(relative); }

void TempRoot::write(std::string_view relative, std::string_view bytes) const {
  const fs::path p = at(relative);
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

std::string TempRoot::read(std::string_view relative) const {
  std::ifstream in(at(relative), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool TempRoot::exists(std::string_view relative) const { return fs::exists(at(relative)); }

void TempRoot::makeFolder(std::string_view relative) const { fs::create_directories(at(relative)); }

void TempRoot::writeRegistryUtf16(std::string_view text) const {
  std::string bytes = "\xFF\xFE";
  const auto put = [&](char32_t unit) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
  };
  for (char32_t cp : utf8ToCodePoints(text)) {
    if (cp == U'\n') put(U'\r');
    put(cp);
  }
  write("registry.reg", bytes);
}

std::string TempRoot::oneInstallation(std::string_view companyId, std::string_view location) {
  const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora Solutions\\Velmora.Net\\Shop";
  return "Windows Registry Editor Version 5.00\n\n" + key + "]\n@=\"" + std::string(companyId) + "\"\n\n" + key +
         "\\DataPath]\n@=\"C:\\\\QMXData\"\n\n" + key + "\\fkLocationID]\n@=\"" + std::string(location) + "\"\n\n" +
         key + "\\iKey]\n@=\"7\"\n\n" + key + "\\InvoicePreprint]\n@=\"False\"\n";
}

}  // namespace qmx::test
