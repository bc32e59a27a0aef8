// A refresh merges a reply from the network into the cached data file. Input:
// the local document, a NUL byte, the reply. When both parse, a merge that fails
// with an AutomationError must leave the local document exactly as it was.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "base/automation_error.h"
#include "base/xml_text.h"
#include "fuzz_check.h"
#include "store/rowset_merge.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = qmx::fuzz::asText(data, size);
  const std::size_t nul = input.find('\0');
  if (nul == std::string_view::npos) return 0;
  pugi::xml_document local;
  pugi::xml_document reply;
  if (!qmx::parseXml(local, input.substr(0, nul)) || !qmx::parseXml(reply, input.substr(nul + 1))) return 0;

  const std::string before = qmx::xmlText(local);
  try {
    qmx::mergeRowset(local, reply, "C:\\Data\\1\\fuzz.xml");
  } catch (const qmx::AutomationError& e) {
    const std::string after = qmx::xmlText(local);
    if (after != before) {
      qmx::fuzz::fail("failed merge (" + std::string(e.what()) + ") changed the local document",
                      {{"before", before}, {"after", after}});
    }
    return 0;
  }
  // Walk the merged tree once, so that a node left dangling by the merge shows.
  (void)qmx::xmlText(local);
  return 0;
}
