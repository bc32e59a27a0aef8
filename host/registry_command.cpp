#include "host/registry_command.h"

#include <fstream>
#include <sstream>

#include "platform/posix/registry_file.h"

namespace qmx::host {

int printRegistry(const std::string& machineRoot, std::ostream& out, std::ostream& err) {
  const std::string path = machineRoot + "/registry.reg";
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    // The control reads this as an empty registry; the administrator should know why.
    err << "qmxhost: cannot read " << path << "; the control sees an empty registry\n";
    return 1;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) {
    err << "qmxhost: cannot read " << path << "; the control sees an empty registry\n";
    return 1;
  }
  const ParsedRegistry registry = parseRegistryFile(bytes.str());
  out << formatRegistry(registry) << std::flush;
  for (const std::string& warning : registry.warnings) err << "qmxhost: " << path << ": " << warning << '\n';
  return registry.warnings.empty() ? 0 : 1;
}

}  // namespace qmx::host
