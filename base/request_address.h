// How an address travels on a request line and how it is named in messages.
// Shared by every HTTP backend so that all of them put the same bytes on the wire.
#pragma once

#include <string>
#include <string_view>

namespace qmx {

// The address with only what cannot travel in a request line percent-encoded:
// space, control characters, bytes above 0x7E, and "#" (so the rest is not cut
// off as a fragment). Everything else, "%", "&" and "+" included, stays as written.
// Never fails.
std::string requestLineAddress(std::string_view address);

// A value the control puts into a query, with the characters that would end it or
// change its meaning percent-encoded ("&", "=", "+", "%", "#"); everything else
// stays for requestLineAddress to take care of. A server that decodes its query
// reads the value unchanged. Never fails.
std::string queryValue(std::string_view value);

// The address as messages name it: scheme, host, port and path, without user
// information, query or fragment, since those may hold passwords. Never fails.
std::string addressForMessages(std::string_view address);

}  // namespace qmx
