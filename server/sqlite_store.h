// The service database in a SQLite file: the default, nothing to install.
#pragma once

#include "server/database.h"
#include "server/sqlite_db.h"

namespace qmx::server {

class SqliteStore : public Store {
 public:
  // As Store::open and Store::create, for a file.
  static std::unique_ptr<Store> open(const std::string& path);
  static std::unique_ptr<Store> create(const std::string& path);
  SqliteStore(const std::string& path, bool create);

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
  Connection db_;
};

}  // namespace qmx::server
