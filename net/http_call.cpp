#include "net/http_call.h"

#include <algorithm>
#include <limits>
#include <new>

#include "base/automation_error.h"
#include "net/reply_envelope.h"
#include "net/reply_text.h"
#include "net/server_pages.h"

namespace qmx {

XmlDocument httpCall(ServiceConnection& connection, const std::string& sAction, const CallOutcome& outcome) {
  std::int32_t number = 0;
  std::string description;
  try {
    const std::string address = sAction + "&cucumber=" + kAccessValue;
    // The status code is not looked at: an error page is judged by its envelope.
    const HttpReply reply = connection.send({"POST", address, std::nullopt});
    XmlDocument document = parseXmlDocument(replyText(connection.platform(), reply));
    const pugi::xml_node status = envelopeStatus(*document);
    if (envelopeStatusText(*document) == kEnvelopeSuccess) {
      outcome.setErrorNumber(0);
      outcome.setErrorDesc(std::string());
      return document;
    }
    // The number is recorded before the description is looked for, so a reply
    // without ErrDesc shows its number once before 91 replaces it.
    outcome.setErrorNumber(envelopeErrorNumber(status));
    outcome.setErrorDesc(envelopeErrorDescription(status));
    return nullptr;
  } catch (const AutomationError& e) {
    number = e.number();
    description = e.description();
  } catch (const std::bad_alloc&) {
    number = 7;
    description = "Out of memory";
  } catch (const std::exception& e) {
    number = kInvalidProcedureCall;
    description = e.what();
  }
  // Transport numbers are small negatives and fit; anything wider is pinned to
  // the nearest Integer so that it still reads as a failure of the same sign.
  const auto recorded = static_cast<std::int16_t>(std::clamp<std::int32_t>(
      number, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
  outcome.setErrorNumber(recorded);
  outcome.setErrorDesc(description);
  return nullptr;
}

}  // namespace qmx
