// A transaction received from the form-processing page, as the database keeps it.
#pragma once

#include <cstdint>
#include <string>

namespace qmx::server {

struct StoredTransaction {
  std::int64_t id = 0;
  std::string pageId;
  std::string companyId;
  std::string receivedAt;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  std::string body;
};

}  // namespace qmx::server
