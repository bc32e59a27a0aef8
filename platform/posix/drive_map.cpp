#include "platform/posix/drive_map.h"

#include <cctype>
#include <cstdlib>

namespace qmx {

DriveMap::DriveMap(std::string machineRoot) : root_(std::move(machineRoot)) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string DriveMap::toHostPath(const std::string& controlPath) const {
  std::string rest;
  std::string prefix;
  if (controlPath.size() >= 2 && std::isalpha(static_cast<unsigned char>(controlPath[0])) &&
      controlPath[1] == ':') {
    const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(controlPath[0])));
    prefix = root_ + "/drive_" + drive;
    rest = controlPath.substr(2);
    if (!rest.empty() && rest[0] != '\\' && rest[0] != '/') rest.insert(rest.begin(), '/');
  } else if (!controlPath.empty() && controlPath[0] == '\\') {
    prefix = root_ + "/drive_c";
    rest = controlPath;
  } else {
    rest = controlPath;  // native absolute or relative to the working directory
  }
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  return prefix + rest;
}

std::string defaultMachineRoot() {
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.qmxprod";
}

}  // namespace qmx
