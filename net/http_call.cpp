#include "net/http_call.h"

#include <algorithm>
#include <limits>
#include <new>

#include "base/automation_error.h"
#include "net/reply_envelope.h"
#include "net/reply_text.h"
#include "net/server_pages.h"

namespace qmx {

CallResult httpCall(ServiceConnection& connection, Platform& platform, const std::string& sAction) {
  CallResult result;
  std::int32_t number = 0;
  try {
    const std::string address = sAction + "&cucumber=" + kAccessValue;
    // The status code is not looked at: an error page is judged by its envelope.
    const HttpReply reply = connection.send({"POST", address, std::nullopt});
    XmlDocument document = parseXmlDocument(replyText(platform, reply));
    const pugi::xml_node status = envelopeStatus(*document);
    if (envelopeStatusText(*document) == kEnvelopeSuccess) {
      result.document = std::move(document);
      return result;
    }
    // The number is taken before the description is looked for, so a reply
    // without ErrDesc shows its number once before 91 replaces it.
    result.replacedErrorNumber = envelopeErrorNumber(status);
    result.errorDesc = envelopeErrorDescription(status);
    result.errorNumber = *result.replacedErrorNumber;
    result.replacedErrorNumber.reset();
    return result;
  } catch (const AutomationError& e) {
    number = e.number();
    result.errorDesc = e.description();
  } catch (const std::bad_alloc&) {
    number = 7;
    result.errorDesc = "Out of memory";
  } catch (const std::exception& e) {
    number = kInvalidProcedureCall;
    result.errorDesc = e.what();
  }
  // Transport numbers are small negatives and fit; anything wider is pinned to
  // the nearest Integer so that it still reads as a failure of the same sign.
  result.errorNumber = static_cast<std::int16_t>(std::clamp<std::int32_t>(
      number, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
  return result;
}

}  // namespace qmx
