// The reply envelope every service page answers in: a root "xml" whose first
// "status" child holds the outcome ("Success", or a failure with the attributes
// ErrNumber and ErrDesc) and whose other children carry the payload.
#pragma once

#include <cstdint>
#include <string>

#include <pugixml.hpp>

#include "platform/platform.h"

namespace qmx {

// The outcome text that means success, compared exactly.
inline constexpr const char* kEnvelopeSuccess = "Success";

// The status element (the first "xml/status"); an empty node when the reply has none.
pugi::xml_node envelopeStatus(const pugi::xml_node& document);

// The status element's text. Throws 91 when the reply has no "xml/status".
std::string envelopeStatusText(const pugi::xml_node& document);

// Decodes and parses a reply into document and returns its status text. Throws 91,
// naming the address without its query and the HTTP status, when the reply is not
// well-formed XML or has no "xml/status".
std::string readReplyStatus(Platform& platform, const HttpReply& reply, const std::string& address,
                            pugi::xml_document& document);
// The same for a reply that is no longer needed: its bytes go before the parse,
// so that a large reply is not held twice beside its document.
std::string readReplyStatus(Platform& platform, HttpReply&& reply, const std::string& address,
                            pugi::xml_document& document);

// The failure's number from ErrNumber. Throws 91 when the status element or the
// attribute is missing, 13 when its text is not a number, 6 when it does not fit
// -32768..32767.
std::int16_t envelopeErrorNumber(const pugi::xml_node& status);

// The failure's text from ErrDesc. Throws 91 when the status element or the
// attribute is missing.
std::string envelopeErrorDescription(const pugi::xml_node& status);

}  // namespace qmx
