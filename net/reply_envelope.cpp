#include "net/reply_envelope.h"

#include "base/automation_error.h"
#include "base/conversions.h"
#include "base/request_address.h"
#include "base/xml_text.h"
#include "net/reply_text.h"

namespace qmx {

pugi::xml_node envelopeStatus(const pugi::xml_node& document) {
  return document.select_node("xml/status").node();
}

std::string envelopeStatusText(const pugi::xml_node& document) {
  const pugi::xml_node status = envelopeStatus(document);
  if (!status) throw AutomationError(kObjectNotSet);
  return textContent(status);
}

namespace {

std::string statusOrThrow(const pugi::xml_document& document, bool wellFormed, const std::string& address,
                          long httpStatus) {
  const pugi::xml_node status = wellFormed ? envelopeStatus(document) : pugi::xml_node();
  if (!status) {
    throw AutomationError(kObjectNotSet, standardErrorText(kObjectNotSet) + ": the reply of " +
                                             addressForMessages(address) +
                                             (wellFormed ? " has no xml/status" : " is not well-formed XML") +
                                             " (HTTP status " + std::to_string(httpStatus) + ")");
  }
  return textContent(status);
}

}  // namespace

std::string readReplyStatus(Platform& platform, const HttpReply& reply, const std::string& address,
                            pugi::xml_document& document) {
  // Parsed where it lies: a large reply is not held twice beside its document.
  // The check reads the body when that is the text already, else the decoded
  // text, which it keeps until it is done.
  std::optional<std::string> decoded = replyTextUnlessBody(platform, reply);
  XmlTextBuffer buffer = xmlTextBufferOf(decoded ? std::string_view(*decoded) : std::string_view(reply.body));
  XmlTextSource sameText = decoded ? xmlTextSourceOwning(std::move(*decoded)) : xmlTextSourceOver(reply.body);
  decoded.reset();
  const bool wellFormed = parseXmlInPlace(document, std::move(buffer), std::move(sameText));
  return statusOrThrow(document, wellFormed, address, reply.status);
}

std::string readReplyStatus(Platform& platform, HttpReply&& reply, const std::string& address,
                            pugi::xml_document& document) {
  std::optional<std::string> decoded = replyTextUnlessBody(platform, reply);
  const std::string_view text = decoded ? std::string_view(*decoded) : std::string_view(reply.body);
  XmlTextBuffer buffer = xmlTextBufferOf(text);
  // The check's copy goes piece by piece as it reads, and the reply's own
  // bytes go now: the parse then holds the text about once.
  XmlTextSource sameText = xmlTextSourceInPieces(text);
  decoded.reset();
  std::string().swap(reply.body);
  const bool wellFormed = parseXmlInPlace(document, std::move(buffer), std::move(sameText));
  return statusOrThrow(document, wellFormed, address, reply.status);
}

std::int16_t envelopeErrorNumber(const pugi::xml_node& status) {
  const pugi::xml_attribute number = status.attribute("ErrNumber");
  if (!number) throw AutomationError(kObjectNotSet);
  return textToInteger(number.value());
}

std::string envelopeErrorDescription(const pugi::xml_node& status) {
  const pugi::xml_attribute description = status.attribute("ErrDesc");
  if (!description) throw AutomationError(kObjectNotSet);
  return description.value();
}

}  // namespace qmx
