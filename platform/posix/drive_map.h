// Maps the control's Windows-style paths onto the machine root: "X:\rest" lies
// under <root>/drive_x, a path starting with "\" is on drive C, one starting with
// "/" is a native absolute path, anything else is relative to the working
// directory. Every "\" becomes "/"; letter case is kept.
#pragma once

#include <string>

namespace qmx {

class DriveMap {
 public:
  explicit DriveMap(std::string machineRoot);

  // The host path of a control path. Never fails.
  std::string toHostPath(const std::string& controlPath) const;

  const std::string& machineRoot() const { return root_; }

 private:
  std::string root_;
};

// $HOME/.qmxprod, or ./.qmxprod when HOME is not set.
std::string defaultMachineRoot();

}  // namespace qmx
