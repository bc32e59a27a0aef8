// The service's SQLite database: companies, users with password hashes and levels,
// data sets whose rows carry the change number that last touched them, and the
// transactions received from the form-processing page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/data_set.h"
#include "server/sqlite_db.h"

namespace qmx::server {

// Receives a data set as it is read: begin once, then row for each row in key order.
class DataSetReader {
 public:
  virtual ~DataSetReader() = default;
  // The set's latest change number, its field names in schema order (iKey not
  // included) and the number of rows that will follow.
  virtual void begin(std::int64_t modSeq, const std::vector<std::string>& fieldNames, std::size_t rowCount) = 0;
  // One row: values[i] is the value of field i, nullptr when the row has none; the
  // pointers are valid during the call only.
  virtual void row(std::int32_t key, const std::vector<const std::string*>& values) = 0;
};

struct UserRecord {
  std::string passwordHash;
  int level = 0;
};

class Store {
 public:
  // Opens an existing service database. Throws DatabaseError when the file is missing
  // or is not a service database.
  static Store open(const std::string& path);
  // Creates a new, empty service database; throws DatabaseError when the file exists.
  static Store create(const std::string& path);

  // The database's own identifier, part of every stamp it issues, so that stamps from
  // another (or re-created) database are never taken for its own.
  const std::string& instanceId() const { return instanceId_; }
  // The number of the latest change made to any data set.
  std::int64_t currentChange();

  // Adds a company; throws DatabaseError when it exists.
  void addCompany(std::string_view companyId, std::string_view name);
  bool companyExists(std::string_view companyId);
  // Adds or replaces a user of a company; throws DatabaseError for an unknown company.
  void putUser(std::string_view companyId, std::string_view userName, std::string_view passwordHash, int level);
  // The user's record; nullopt when the company has no such user.
  std::optional<UserRecord> findUser(std::string_view companyId, std::string_view userName);

  // Changes (or adds) one row and stamps it with a new change number, creating the data
  // set and any new field. Returns the change number; throws std::invalid_argument for a
  // field name that cannot be an XML attribute name or a value that is not valid text,
  // DatabaseError for an unknown company or a database failure.
  std::int64_t changeRow(std::string_view companyId, std::string_view dataSet, std::int32_t key,
                         const std::vector<std::pair<std::string, std::string>>& fields);
  // Hands the data set's rows changed after change number `since` (all rows when
  // nullopt) to the reader, read in one snapshot. Returns false, having called nothing,
  // when the company has no such data set; throws DatabaseError.
  bool readDataSet(std::string_view companyId, std::string_view dataSet, std::optional<std::int64_t> since,
                   DataSetReader& reader);

  // Stores a received transaction; returns its number. A transaction that arrives
  // again with an idempotency key already stored for the company is not stored a
  // second time: the first one's number is returned. Throws DatabaseError.
  std::int64_t storeTransaction(std::string_view pageId, std::string_view companyId, std::string_view body,
                                std::string_view receivedAt, std::string_view idempotencyKey = {});
  // Every stored transaction in the order received.
  std::vector<StoredTransaction> transactions();

 private:
  explicit Store(const std::string& path, bool create);
  Connection db_;
  std::string instanceId_;
};

}  // namespace qmx::server
