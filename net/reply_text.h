// A server reply's body as the control's text: decoded by the character set the
// reply declares, as an HTTP client decodes text replies.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qmx {

// The charset parameter of a Content-Type value, lower-cased and unquoted; empty
// text when there is none.
std::string declaredCharset(std::string_view contentType);

// The body as UTF-8: by the declared charset; without one (or with one nobody
// knows) by a byte-order mark; else as UTF-8. Bytes that cannot be decoded become
// U+FFFD. Never fails.
std::string decodeReplyText(std::string_view body, std::string_view contentType);

// decodeReplyText of a reply's body and Content-Type.
std::string replyText(const HttpReply& reply);

// Valid UTF-8 of possibly malformed UTF-8: every byte that does not belong to a
// well-formed sequence becomes U+FFFD. Never fails.
std::string repairUtf8(std::string_view bytes);

}  // namespace qmx
