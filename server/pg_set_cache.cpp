#include "server/pg_set_cache.h"

namespace qmx::server {

void CachedSet::add(std::int32_t key, std::int64_t rowChange, std::string_view field, std::string_view value) {
  cells.push_back({key, rowChange, std::string(field), std::string(value)});
  bytes += sizeof(Cell) + field.size() + value.size();
}

void CachedSet::replay(std::optional<std::int64_t> since, DataSetReader& reader) const {
  const auto wanted = [&](const Cell& c) { return !since || c.rowChange > *since; };
  std::size_t rows = 0;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    rows += wanted(cells[i]) && (i == 0 || cells[i].key != cells[i - 1].key);
  }
  reader.begin(modSeq, fieldNames, rows);
  RowAssembler assembler(reader, fieldNames);
  for (const Cell& c : cells) {
    if (wanted(c)) assembler.add(c.key, c.field, c.value);
  }
  assembler.finish();
}

std::optional<std::int64_t> SharedProbe::current(const Read& read) {
  std::unique_lock lock(mutex_);
  // The read in progress, if any, may have started before this request arrived.
  const std::uint64_t wanted = started_ + 1;
  while (finished_ < wanted) {
    if (reading_) {
      done_.wait(lock);
      continue;
    }
    reading_ = true;
    ++started_;
    lock.unlock();
    std::optional<std::int64_t> value;
    try {
      value = read();
    } catch (...) {
      // Another waiting request reads for itself.
      lock.lock();
      reading_ = false;
      lock.unlock();
      done_.notify_all();
      throw;
    }
    lock.lock();
    reading_ = false;
    finished_ = started_;
    last_ = value;
    // Woken after the unlock, the waiters do not block again on the mutex at once.
    lock.unlock();
    done_.notify_all();
    return value;
  }
  return last_;
}

PgSetCache& PgSetCache::shared() {
  static PgSetCache cache;
  return cache;
}

std::string PgSetCache::key(std::string_view database, std::string_view companyId, std::string_view dataSet) {
  // Lengths first: a company or set name may hold any byte.
  std::string key = std::to_string(database.size()) + ":" + std::to_string(companyId.size()) + ":";
  return key.append(database).append(companyId).append(dataSet);
}

PgSetCache::Found PgSetCache::find(const std::string& key) const {
  std::lock_guard lock(mutex_);
  const auto found = sets_.find(key);
  return found == sets_.end() ? Found{} : found->second;
}

std::shared_ptr<SharedProbe> PgSetCache::changeProbe(const std::string& database) {
  std::lock_guard lock(mutex_);
  auto& probe = changeProbes_[database];
  if (!probe) probe = std::make_shared<SharedProbe>();
  return probe;
}

void PgSetCache::put(const std::string& key, std::shared_ptr<const CachedSet> set) {
  std::lock_guard lock(mutex_);
  eraseLocked(key);
  if (set->bytes > kMaxSetBytes) return;
  // Any set makes room: which goes matters little, as a miss costs one read.
  while (!sets_.empty() && bytes_ + set->bytes > kMaxBytes) eraseLocked(sets_.begin()->first);
  bytes_ += set->bytes;
  sets_.emplace(key, Found{std::move(set), std::make_shared<SharedProbe>()});
}

void PgSetCache::erase(const std::string& key) {
  std::lock_guard lock(mutex_);
  eraseLocked(key);
}

void PgSetCache::eraseLocked(const std::string& key) {
  const auto found = sets_.find(key);
  if (found == sets_.end()) return;
  bytes_ -= found->second.set->bytes;
  sets_.erase(found);
}

}  // namespace qmx::server
