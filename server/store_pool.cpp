#include "server/store_pool.h"

#include <sqlite3.h>

#include <utility>

namespace qmx::server {

StorePool::StorePool(std::string db, std::size_t postgresConnections) : db_(std::move(db)) {
  if (isPostgresTarget(db_)) limit_ = postgresConnections > 0 ? postgresConnections : 1;
  // SQLite's allocation statistics take one process-wide lock on every allocation,
  // which makes request threads reading large sets queue behind each other. Possible
  // only before SQLite starts; when it has, the statistics simply stay on.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  auto first = Store::open(db_);
  instanceId_ = first->instanceId();
  idle_.push_back(std::move(first));
  open_ = 1;
}

StorePool::Lease StorePool::acquire(std::optional<std::chrono::milliseconds> maxWait) {
  {
    std::unique_lock lock(mutex_);
    const auto available = [this] { return !idle_.empty() || limit_ == 0 || open_ < limit_; };
    if (!maxWait) {
      returned_.wait(lock, available);
    } else if (!returned_.wait_for(lock, *maxWait, available)) {
      throw PoolBusy("every database connection is in use");
    }
    if (!idle_.empty()) {
      auto store = std::move(idle_.back());
      idle_.pop_back();
      return Lease(*this, std::move(store));
    }
    ++open_;
  }
  // Opened outside the lock: it reads the schema, which may wait for a writer.
  try {
    return Lease(*this, Store::open(db_));
  } catch (...) {
    std::lock_guard lock(mutex_);
    --open_;
    returned_.notify_one();
    throw;
  }
}

void StorePool::giveBack(std::unique_ptr<Store> store) {
  if (!store) return;
  std::lock_guard lock(mutex_);
  idle_.push_back(std::move(store));
  returned_.notify_one();
}

}  // namespace qmx::server
