#include "cipher/string_cipher.h"
#include "control/xmlload.h"

namespace qmx {

// Reads and writes no state of the control: the result depends on the two
// arguments alone.
std::string XMLLoad::FileEncodeAndDecode(std::string& sInputString, const std::string& PasswordKey) {
  return fileEncodeAndDecode(sInputString, PasswordKey);
}

}  // namespace qmx
