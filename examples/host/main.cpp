// A minimal host of the XMLLoad control: creates it over a machine root, shows
// what its start-up found, and scrambles and unscrambles a text.
#include <cstdio>
#include <iostream>
#include <string>

#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"

namespace {

// Scrambled text may hold control characters; show them as \xHH.
std::string printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " MACHINE-ROOT\n";
    return 2;
  }
  qmx::PosixPlatform platform(argv[1], [](const std::string& text) {
    std::cout << "message box: " << text << '\n';
  });
  qmx::XMLLoad control(platform, [](const std::string& name) {
    std::cout << "property changed: " << name << '\n';
  });
  if (const auto& error = control.startupError())
    std::cout << "start-up failed: " << error->number() << ' ' << error->description() << '\n';

  std::cout << "Configured: " << control.get_Configured() << '\n'
            << "CompanyID: " << control.get_CompanyID() << '\n'
            << "DataPath: " << control.get_DataPath() << '\n';

  try {
    const std::string original = "Order 42: 3 crates, deliver Monday";
    std::string text = original;
    const std::string key = "example key";
    std::string scrambled = control.FileEncodeAndDecode(text, key);
    std::string restored = control.FileEncodeAndDecode(scrambled, key);
    std::cout << "scrambled: " << printable(scrambled) << '\n'
              << "unscrambled: " << restored << '\n';
    if (restored != original) {
      std::cout << "round trip failed\n";
      return 1;
    }
  } catch (const qmx::AutomationError& error) {
    std::cout << "FileEncodeAndDecode failed: " << error.number() << ' ' << error.description() << '\n';
  }
  return 0;
}
