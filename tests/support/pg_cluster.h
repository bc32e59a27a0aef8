// PostgreSQL for tests: one throw-away cluster per test process, started at first use
// (initdb and pg_ctl in a temporary folder, on a Unix socket there only, fsync and
// synchronous_commit on as in production, run as "nobody" under root, which initdb
// refuses) and stopped at exit.
#pragma once

// The folder of initdb, pg_ctl and psql, found when the build was configured; empty: none.
#ifndef QMX_PG_BIN
#define QMX_PG_BIN ""
#endif

#include <optional>
#include <string>
#include <string_view>

namespace qmx::test {

inline constexpr const char* kNoPostgres =
    "PostgreSQL tests skipped: no initdb in /usr/lib/postgresql/*/bin at configure time (scripts/deps installs it)";

// For a test on `engine`: "" (a file) for "SQLite", a new database's connection
// string for "PostgreSQL"; nullopt when PostgreSQL's programs are absent. Throws when
// the cluster does not start.
std::optional<std::string> databaseFor(std::string_view engine);

}  // namespace qmx::test
