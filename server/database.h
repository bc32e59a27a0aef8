// The service's database: companies, users with password hashes and levels, data
// sets whose rows carry the change number that last touched them, and the
// transactions received from the form-processing page. Two engines keep it: a SQLite
// file (one machine) and PostgreSQL (several service instances on one database).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/data_set.h"

namespace qmx::server {

// A database failure; the message names the database (never a password).
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

// "--db" names a PostgreSQL database when it is a postgresql:// or postgres:// URI
// or a key=value connection string (it holds "="); anything else is a SQLite file.
bool isPostgresTarget(std::string_view db);

// One connection to the database, used by one thread at a time.
class Store {
 public:
  virtual ~Store() = default;

  // Opens an existing service database, bringing an older schema up to date. Throws
  // DatabaseError when it cannot be reached, is not a service database, or has a
  // schema newer than this program's.
  static std::unique_ptr<Store> open(const std::string& db);
  // Creates a new, empty service database; throws DatabaseError when the file exists
  // or the PostgreSQL database holds a service schema already.
  static std::unique_ptr<Store> create(const std::string& db);

  // The database as messages name it.
  const std::string& name() const { return name_; }
  // The database's own identifier, part of every stamp it issues, so that stamps from
  // another (or re-created) database are never taken for its own.
  const std::string& instanceId() const { return instanceId_; }
  // The number of the latest change made to any data set.
  virtual std::int64_t currentChange() = 0;
  // Reads the database's identifier: one cheap query that proves the database answers
  // and still holds the service's tables. Throws DatabaseError.
  virtual void ping() = 0;

  // Adds a company; throws DatabaseError when it exists.
  virtual void addCompany(std::string_view companyId, std::string_view name) = 0;
  virtual bool companyExists(std::string_view companyId) = 0;
  // Adds or replaces a user of a company; throws DatabaseError for an unknown company.
  virtual void putUser(std::string_view companyId, std::string_view userName, std::string_view passwordHash,
                       int level) = 0;
  // The user's record; nullopt when the company has no such user.
  virtual std::optional<UserRecord> findUser(std::string_view companyId, std::string_view userName) = 0;

  // Changes (or adds) one row and stamps it with a new change number, creating the data
  // set and any new field. Returns the change number; throws std::invalid_argument for a
  // field name that cannot be an XML attribute name or a value that is not valid text,
  // DatabaseError for an unknown company or a database failure.
  virtual std::int64_t changeRow(std::string_view companyId, std::string_view dataSet, std::int32_t key,
                                 const std::vector<std::pair<std::string, std::string>>& fields) = 0;
  // Hands the data set's rows changed after change number `since` (all rows when
  // nullopt) to the reader, read in one snapshot. Returns false, having called nothing,
  // when the company has no such data set; throws DatabaseError.
  virtual bool readDataSet(std::string_view companyId, std::string_view dataSet, std::optional<std::int64_t> since,
                           DataSetReader& reader) = 0;

  // Stores a received transaction; returns its number. A transaction that arrives
  // again with an idempotency key already stored for the company is not stored a
  // second time: the first one's number is returned. The transaction and its key
  // commit together, durably, before this returns. Throws DatabaseError.
  virtual std::int64_t storeTransaction(std::string_view pageId, std::string_view companyId, std::string_view body,
                                        std::string_view receivedAt, std::string_view idempotencyKey = {}) = 0;
  // Every stored transaction in the order received.
  virtual std::vector<StoredTransaction> transactions() = 0;

  // Removes what create() made, for a creation that could not be completed.
  virtual void discard() = 0;

 protected:
  explicit Store(std::string name) : name_(std::move(name)) {}
  std::string name_;
  std::string instanceId_;
};

// ---- Shared by the engines.

// A new random database identifier.
std::string newInstanceId();
// Field names become attribute names of z:row, and values attribute values: both must
// make well-formed XML, or every reply of the data set would be unreadable. Throws
// std::invalid_argument.
void checkRow(std::string_view dataSet, const std::vector<std::pair<std::string, std::string>>& fields);

// Turns (key, field, value) triples arriving in key order into the reader's rows, the
// values in schema order; a value of a field the schema does not name is left out, and
// an empty field stands for a row without values.
class RowAssembler {
 public:
  RowAssembler(DataSetReader& reader, const std::vector<std::string>& fieldNames);
  void add(std::int32_t key, std::string_view field, std::string_view value);
  void finish();

 private:
  DataSetReader& reader_;
  const std::vector<std::string>& fieldNames_;
  std::vector<std::string> values_;
  std::vector<const std::string*> present_;
  bool inRow_ = false;
  std::int32_t key_ = 0;
};

}  // namespace qmx::server
