// Connections to the service database for the request threads: each request takes
// one of its own for as long as it runs, so reads never wait for each other, and
// connections (with their compiled statements) are kept for the next request. A
// SQLite file gets one per request thread as needed; PostgreSQL a fixed number, a
// request waiting for one when every one is in use.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/database.h"

namespace qmx::server {

// Every connection stayed in use for as long as the caller would wait.
class PoolBusy : public DatabaseError {
 public:
  using DatabaseError::DatabaseError;
};

class StorePool {
 public:
  // Opens the first connection. Throws DatabaseError as Store::open does.
  // `postgresConnections` bounds the connections to a PostgreSQL database.
  explicit StorePool(std::string db, std::size_t postgresConnections = 16);

  // A connection held until the lease ends.
  class Lease {
   public:
    Lease(StorePool& pool, std::unique_ptr<Store> store) : pool_(pool), store_(std::move(store)) {}
    ~Lease() { pool_.giveBack(std::move(store_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Store& operator*() const { return *store_; }
    Store* operator->() const { return store_.get(); }

   private:
    StorePool& pool_;
    std::unique_ptr<Store> store_;
  };

  // An idle connection, or a new one while the bound allows, else the next one given
  // back. Throws DatabaseError when a new one cannot be opened.
  Lease acquire() { return acquire(std::nullopt); }
  // The same, waiting at most maxWait for a connection to come back; then throws
  // PoolBusy.
  Lease acquire(std::optional<std::chrono::milliseconds> maxWait);

  const std::string& instanceId() const { return instanceId_; }

 private:
  void giveBack(std::unique_ptr<Store> store);

  std::string db_;
  std::string instanceId_;
  std::size_t limit_ = 0;  // 0: none
  std::size_t open_ = 0;
  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<Store>> idle_;
};

}  // namespace qmx::server
