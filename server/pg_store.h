// The service database in PostgreSQL, through libpq: for several service instances
// on one database. Every value travels as a parameter of a prepared statement.
#pragma once

#include <map>

#include "server/database.h"

struct pg_conn;

namespace qmx::server {

class PgResult;
struct PgParam;

class PgStore : public Store {
 public:
  // Connects with a libpq connection string (key=value or URI); with create, makes
  // the schema in a database that has none, else brings an older one up to date.
  PgStore(const std::string& conninfo, bool create);
  ~PgStore() override;
  PgStore(const PgStore&) = delete;
  PgStore& operator=(const PgStore&) = delete;

  std::int64_t currentChange() override;
  void ping() override;
  void addCompany(std::string_view companyId, std::string_view name) override;
  bool companyExists(std::string_view companyId) override;
  void putUser(std::string_view companyId, std::string_view userName, std::string_view passwordHash,
               int level) override;
  std::optional<UserRecord> findUser(std::string_view companyId, std::string_view userName) override;
  std::int64_t changeRow(std::string_view companyId, std::string_view dataSet, std::int32_t key,
                         const std::vector<std::pair<std::string, std::string>>& fields) override;
  bool readDataSet(std::string_view companyId, std::string_view dataSet, std::optional<std::int64_t> since,
                   DataSetReader& reader) override;
  std::int64_t storeTransaction(std::string_view pageId, std::string_view companyId, std::string_view body,
                                std::string_view receivedAt, std::string_view idempotencyKey) override;
  std::vector<StoredTransaction> transactions() override;
  void discard() override;

 private:
  friend class PgTransaction;
  // Runs one statement without parameters (schema changes, BEGIN, COMMIT).
  void execute(const char* sql);
  // Runs a statement with parameters, prepared on this connection at first use.
  PgResult run(std::string_view sql, std::initializer_list<PgParam> params);
  [[noreturn]] void fail(const char* what);
  void connect();
  bool hasSchema();
  int schemaVersion();

  std::string conninfo_;
  std::string cacheName_;  // the database among those the process's cache holds
  pg_conn* conn_ = nullptr;
  std::map<std::string, std::string, std::less<>> prepared_;  // SQL -> statement name
};

}  // namespace qmx::server
