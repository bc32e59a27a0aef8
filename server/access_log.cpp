#include "server/access_log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace qmx::server {

std::string accessLogLine(const AccessRecord& record) {
  using namespace std::chrono;
  const auto sinceEpoch = duration_cast<milliseconds>(record.arrived.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(sinceEpoch / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char time[80];
  std::snprintf(time, sizeof time, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(sinceEpoch % 1000));
  char tail[64];
  std::snprintf(tail, sizeof tail, " %d %zu %.1f\n", record.status, record.bytes, record.milliseconds);
  const std::string_view path = record.target.substr(0, record.target.find('?'));
  std::string line;
  line.reserve(96 + record.client.size() + path.size());
  line.append(time).append(" ").append(record.client).append(" ").append(record.method).append(" ");
  line.append(path.empty() ? std::string_view("-") : path).append(tail);
  return line;
}

void writeAccessLog(const std::string& line) {
  // A log that cannot be written (a closed terminal) must not stop the service.
  ssize_t n;
  do {
    n = ::write(STDERR_FILENO, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
}

}  // namespace qmx::server
