// A throw-away PostgreSQL cluster: initdb and pg_ctl in a private temporary folder,
// on a Unix socket there only, fsync and synchronous_commit on as in production;
// stopped and removed at the end of the process. As root the server runs as
// "nobody" (initdb refuses root).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmx::test {

// What a test says when it skips for want of PostgreSQL's programs.
inline constexpr const char* kNoPostgres =
    "PostgreSQL tests skipped: no initdb in /usr/lib/postgresql/*/bin or $QMX_PG_BIN (scripts/deps installs it)";

// A fresh database for a test on `engine`: "" (the server makes a file) for
// "SQLite", a new database in this process's cluster for "PostgreSQL"; nullopt when
// PostgreSQL's programs are absent.
std::optional<std::string> databaseFor(std::string_view engine);

class PgCluster {
 public:
  // This process's cluster, started at first use; nullptr without PostgreSQL's
  // programs. Throws when they are there but the cluster does not start.
  static PgCluster* shared();
  explicit PgCluster(std::string bin);
  ~PgCluster();

  // A new empty database: its libpq connection string.
  std::string newDatabase();
  // Runs SQL on a database with psql; throws when it fails.
  void sql(const std::string& conninfo, const std::string& statement) const;

 private:
  void run(const std::string& program, std::vector<std::string> args, bool asServerUser = false) const;
  std::string bin_, folder_;
  int databases_ = 0;
};

}  // namespace qmx::test
