// Replies come from the network. Input: the Content-Type up to the first line
// break, the body after it (no line break: no Content-Type, all body). The
// decoded text must be valid UTF-8 whatever the charset and bytes, and reading
// the envelope must either give a status or fail with an AutomationError.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "base/automation_error.h"
#include "base/utf8.h"
#include "fuzz_check.h"
#include "net/reply_envelope.h"
#include "net/reply_text.h"
#include "platform/posix/iconv_charset.h"
#include "support/fake_platform.h"

namespace {

// The test machine, but with the production backend's character sets.
class IconvPlatform : public qmx::test::FakePlatform {
 public:
  std::optional<std::string> decodeCharset(std::string_view bytes, std::string_view charset) override {
    return qmx::posix::iconvToUtf8(bytes, charset);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static IconvPlatform platform;
  const std::string_view input = qmx::fuzz::asText(data, size);
  const std::size_t nl = input.find('\n');
  qmx::HttpReply reply;
  reply.status = 200;
  if (nl != std::string_view::npos) {
    reply.contentType = std::string(input.substr(0, nl));
    reply.body = std::string(input.substr(nl + 1));
  } else {
    reply.body = std::string(input);
  }

  const std::string text = qmx::decodeReplyText(platform, reply.body, reply.contentType);
  if (!qmx::isValidUtf8(text)) {
    qmx::fuzz::fail("decoded reply is not UTF-8",
                    {{"charset", qmx::declaredCharset(reply.contentType)}, {"decoded", text}});
  }

  pugi::xml_document document;
  try {
    const std::string status =
        qmx::readReplyStatus(platform, reply, "http://service.example/page.asp?User=u&Password=p", document);
    if (!qmx::isValidUtf8(status)) qmx::fuzz::fail("status text is not UTF-8", {{"status", status}});
    if (status != qmx::kEnvelopeSuccess) {
      // What a failed login or load reads next.
      const pugi::xml_node node = qmx::envelopeStatus(document);
      try {
        qmx::envelopeErrorNumber(node);
      } catch (const qmx::AutomationError&) {
      }
      try {
        qmx::envelopeErrorDescription(node);
      } catch (const qmx::AutomationError&) {
      }
    }
  } catch (const qmx::AutomationError&) {
    // Not well-formed or no status: the documented failure.
  }
  return 0;
}
