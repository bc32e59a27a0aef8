#include "server/reply_encoding.h"

#include <zlib.h>

#include <cstdint>

namespace qmx::server {

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of `count` hex digits at `at`, or -1.
long hexAt(std::string_view text, size_t at, size_t count) {
  if (at + count > text.size()) return -1;
  long value = 0;
  for (size_t i = at; i < at + count; ++i) {
    const int digit = hexDigit(text[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

void appendUtf8(std::string& out, long code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0xD800 || code >= 0xE000) {  // a lone surrogate has no UTF-8 form
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

std::string decodePath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '%') {
      out += path[i];
    } else if (i + 1 < path.size() && path[i + 1] == 'u' && hexAt(path, i + 2, 4) >= 0) {
      appendUtf8(out, hexAt(path, i + 2, 4));
      i += 5;
    } else if (const long byte = hexAt(path, i + 1, 2); byte >= 0) {
      out += static_cast<char>(byte);
      i += 2;
    } else {
      out += '%';
    }
  }
  return out;
}

bool acceptsGzip(std::string_view acceptEncoding) { return acceptEncoding.find("gzip") != std::string_view::npos; }

std::optional<std::string> gzipped(std::string_view body) {
  z_stream stream{};
  // 15 window bits plus 16: a gzip header and trailer rather than zlib's.
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return std::nullopt;
  std::string out(deflateBound(&stream, static_cast<uLong>(body.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  stream.avail_in = static_cast<uInt>(body.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (rc != Z_STREAM_END) return std::nullopt;
  return out;
}

}  // namespace qmx::server
