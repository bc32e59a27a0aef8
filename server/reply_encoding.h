// What the wire needs around a page's reply: the request path as pages see it, and
// the compressed body for clients that ask for one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qmx::server {

// The path of a request target with percent escapes (%XX, and %uXXXX as UTF-8)
// decoded; '+' stays a plus sign.
std::string decodePath(std::string_view path);

// True when an Accept-Encoding value names gzip.
bool acceptsGzip(std::string_view acceptEncoding);

// The body as one gzip member (zlib's default level); nullopt when zlib fails.
std::optional<std::string> gzipped(std::string_view body);

}  // namespace qmx::server
