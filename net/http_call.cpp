// HTTPCall, the control's general request to a service page, and the control's
// one HTTP session.
#include <algorithm>
#include <limits>
#include <new>

#include "control/xmlload.h"
#include "net/reply_envelope.h"
#include "net/reply_text.h"
#include "net/server_pages.h"

namespace qmx {

HttpSession& XMLLoad::http() {
  if (!http_) {
    http_ = platform_.openHttpSession();
    http_->setLimits(httpLimits_);
    http_->setProgressHandler([this](std::uint64_t received, std::uint64_t total) {
      if (progress_) progress_(received, total);
    });
  }
  return *http_;
}

XmlDocument XMLLoad::HTTPCall(const std::string& /*sXML: never sent*/, const std::string& sAction) {
  std::int32_t number = 0;
  std::string description;
  try {
    const std::string address = sAction + "&cucumber=" + kAccessValue;
    // The status code is not looked at: an error page is judged by its envelope.
    const HttpReply reply = http().send({"POST", address, std::nullopt});
    XmlDocument document = parseXmlDocument(replyText(reply));
    const pugi::xml_node status = envelopeStatus(*document);
    if (envelopeStatusText(*document) == kEnvelopeSuccess) {
      put_ErrorNumber(0);
      put_ErrorDesc(std::string());
      return document;
    }
    // The number is recorded before the description is looked for, so a reply
    // without ErrDesc shows its number once before 91 replaces it.
    put_ErrorNumber(envelopeErrorNumber(status));
    put_ErrorDesc(envelopeErrorDescription(status));
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
  put_ErrorNumber(recorded);
  put_ErrorDesc(description);
  return nullptr;
}

}  // namespace qmx
