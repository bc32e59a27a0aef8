// The service's view of a data set: named fields and rows keyed by iKey, as they
// travel between the database and the rowset documents.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qmx::server {

struct DataRow {
  std::int32_t key = 0;
  // Field name and value, in the data set's field order; a field without a value is absent.
  std::vector<std::pair<std::string, std::string>> fields;
};

struct DataSetSnapshot {
  std::vector<std::string> fieldNames;  // in schema order, iKey not included
  std::vector<DataRow> rows;            // in key order
  std::int64_t modSeq = 0;              // change number of the data set's latest change
};

struct StoredTransaction {
  std::int64_t id = 0;
  std::string pageId;
  std::string companyId;
  std::string receivedAt;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  std::string body;
};

}  // namespace qmx::server
