#include "server/store_pool.h"

#include <sqlite3.h>

#include <utility>

namespace qmx::server {

StorePool::StorePool(std::string path) : path_(std::move(path)) {
  // SQLite's allocation statistics take one process-wide lock on every allocation,
  // which makes request threads reading large sets queue behind each other. Possible
  // only before SQLite starts; when it has, the statistics simply stay on.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  auto first = std::make_unique<Store>(Store::open(path_));
  instanceId_ = first->instanceId();
  idle_.push_back(std::move(first));
}

StorePool::Lease StorePool::acquire() {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      auto store = std::move(idle_.back());
      idle_.pop_back();
      return Lease(*this, std::move(store));
    }
  }
  // Opened outside the lock: it reads the schema, which may wait for a writer.
  return Lease(*this, std::make_unique<Store>(Store::open(path_)));
}

void StorePool::giveBack(std::unique_ptr<Store> store) {
  if (!store) return;
  std::lock_guard lock(mutex_);
  idle_.push_back(std::move(store));
}

}  // namespace qmx::server
