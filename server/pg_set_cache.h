// Data sets as last read from PostgreSQL, shared by the process's connections to
// its databases. A page is then answered after a point query that confirms the set's
// change number, rather than a join over all its rows on a PostgreSQL backend. An
// entry is used only once a read of that number, begun after the request arrived, has
// found the set unchanged, so a reply is never staler than a read of the rows would be.
#pragma once

#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/database.h"

namespace qmx::server {

// One data set as read in one snapshot: a set's rows never change without its change
// number growing, so the number identifies the content.
struct CachedSet {
  struct Cell {
    std::int32_t key;
    std::int64_t rowChange;  // the change that last touched the row
    std::string field;       // empty: a row without values
    std::string value;
  };
  std::int64_t modSeq = 0;
  std::vector<std::string> fieldNames;
  std::vector<Cell> cells;  // in key order
  std::size_t bytes = 0;    // about what it holds in memory

  void add(std::int32_t key, std::int64_t rowChange, std::string_view field, std::string_view value);
  // Hands the rows changed after `since` (all rows when nullopt) to the reader, as a
  // read of the database would.
  void replay(std::optional<std::int64_t> since, DataSetReader& reader) const;
};

// The set's change number read once for every request that waits for it: each read
// starts after every waiting request arrived, so any change committed before a
// request arrived is in what it is given, while concurrent pages of one set share a
// round trip to the database instead of one each.
class SharedProbe {
 public:
  // nullopt: no such set.
  using Read = std::function<std::optional<std::int64_t>()>;
  // A read that started after this call, by this thread (with `read`) or another's.
  // Throws what `read` throws when this thread's own read fails.
  std::optional<std::int64_t> current(const Read& read);

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool reading_ = false;
  std::uint64_t started_ = 0, finished_ = 0;
  std::optional<std::int64_t> last_;
};

class PgSetCache {
 public:
  // Bounded so that large sets cannot grow the process without limit: such a set is
  // read from the database each time, as it would be without the cache.
  static constexpr std::size_t kMaxSetBytes = std::size_t{4} << 20, kMaxBytes = std::size_t{32} << 20;

  static PgSetCache& shared();
  // The key of a company's set in `database` (its connection string and identifier).
  static std::string key(std::string_view database, std::string_view companyId, std::string_view dataSet);

  struct Found {
    std::shared_ptr<const CachedSet> set;  // null: none kept
    std::shared_ptr<SharedProbe> probe;
  };
  Found find(const std::string& key) const;
  // The probe of the latest change number of `database`.
  std::shared_ptr<SharedProbe> changeProbe(const std::string& database);
  void put(const std::string& key, std::shared_ptr<const CachedSet> set);
  void erase(const std::string& key);

 private:
  void eraseLocked(const std::string& key);

  mutable std::mutex mutex_;
  std::unordered_map<std::string, Found> sets_;
  std::unordered_map<std::string, std::shared_ptr<SharedProbe>> changeProbes_;
  std::size_t bytes_ = 0;
};

}  // namespace qmx::server
