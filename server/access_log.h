// One line per answered request on standard error, for operators: what was asked
// and how it went, never a query string (it carries the login's password), a body or
// a header value.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace qmx::server {

struct AccessRecord {
  std::chrono::system_clock::time_point arrived;  // the request's first byte
  std::string_view client;                        // the peer's address
  std::string_view method;                        // "-" when the request line was unreadable
  std::string_view target;                        // as sent; only the part before '?' is logged
  int status = 0;
  std::size_t bytes = 0;  // the reply's bytes on the wire, header and (compressed) body
  double milliseconds = 0;
};

// "2026-12-07T08:15:02.123Z 127.0.0.1 GET /qmx/Customers.asp 200 5123 1.4\n"
std::string accessLogLine(const AccessRecord& record);

// Writes the line with one write(2), so that lines from several threads never interleave.
void writeAccessLog(const std::string& line);

}  // namespace qmx::server
