// registry.reg comes from other machines and from administrators' editors: any
// bytes must parse (an unreadable line is a warning, never a crash), and the
// tree printed back as an export must read back as the same tree.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "platform/posix/registry_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qmx::ParsedRegistry parsed = qmx::parseRegistryFile(qmx::fuzz::asText(data, size));
  const std::string printed = qmx::formatRegistry(parsed);

  const qmx::ParsedRegistry reread = qmx::parseRegistryFile(printed);
  if (!reread.warnings.empty()) {
    qmx::fuzz::fail("the printed tree reads back with a warning: " + reread.warnings.front(), {{"printed", printed}});
  }
  // Compared through their prints: the tree read back must print exactly as the first did.
  const std::string reprinted = qmx::formatRegistry(reread);
  if (reprinted != printed) {
    qmx::fuzz::fail("the printed tree reads back as another tree", {{"printed", printed}, {"reprinted", reprinted}});
  }
  return 0;
}
