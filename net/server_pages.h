// The service's pages as the control addresses them: the fixed access value and
// the request addresses of login, refresh, first download and upload. Every
// value the control puts into a query is encoded so that it stays one value.
#pragma once

#include <cstdint>
#include <string>

namespace qmx {

// The fixed access value sent as "cucumber" (by HTTPCall) and "Cucumber" (first
// key of a refresh); the upload sends none.
inline constexpr const char* kAccessValue = "73518";

// The login page's address with the login's query. Never fails.
std::string loginAddress(const std::string& serverBase, const std::string& userName,
                         const std::string& password, const std::string& companyId);

// The upload page's address for one saved transaction of a screen. Never fails.
std::string uploadAddress(const std::string& serverBase, const std::string& screen, const std::string& companyId);

// Who asks for a data set: the installation's machine, location and company.
struct DataSetRequester {
  std::int32_t machineId = 0;
  std::int16_t location = 0;
  std::string companyId;
};

// The query a refresh appends to the page's address: changes since modTime. Never fails.
std::string refreshQuery(const std::string& modTime, const std::string& file, const DataSetRequester& who);

// The query a first download appends to the page's address. Never fails.
std::string downloadQuery(const std::string& file, const DataSetRequester& who);

}  // namespace qmx
