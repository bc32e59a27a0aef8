// A server reply's body as the control's text: decoded by the character set the
// reply declares, as an HTTP client decodes text replies.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qmx {

// The charset parameter of a Content-Type value, lower-cased and unquoted; empty
// text when there is none.
std::string declaredCharset(std::string_view contentType);

// The body as UTF-8: by the declared charset (one the control does not know
// itself through the platform); without one (or with one nobody knows) by a
// byte-order mark; else as UTF-8. Bytes that cannot be decoded become U+FFFD.
// Never fails.
std::string decodeReplyText(Platform& platform, std::string_view body, std::string_view contentType);

// decodeReplyText of a reply's body and Content-Type.
std::string replyText(Platform& platform, const HttpReply& reply);

// The same, or nullopt when that text is the body itself (UTF-8 that needs no
// decoding), which spares a large reply a copy.
std::optional<std::string> replyTextUnlessBody(Platform& platform, const HttpReply& reply);

}  // namespace qmx
