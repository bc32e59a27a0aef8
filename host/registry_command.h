// qmxhost registry: shows an administrator how the control reads a machine
// root's registry.reg.
#pragma once

#include <ostream>
#include <string>

namespace qmx::host {

// Prints the registry file of the machine root as parsed to out, and one warning
// per line that could not be read to err. Returns the exit status: 0 when the
// file was read without warnings, 1 when it is missing, unreadable or had warnings.
int printRegistry(const std::string& machineRoot, std::ostream& out, std::ostream& err);

}  // namespace qmx::host
