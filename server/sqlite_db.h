// A thin RAII layer over SQLite for the service: one connection, prepared statements
// (kept compiled for reuse) and transactions. Every failure throws DatabaseError naming
// the database file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "server/database.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qmx::server {

class Statement {
 public:
  Statement(sqlite3* db, const std::string& dbPath, const char* sql);
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& operator=(Statement&&) = delete;

  // Binds a parameter (1-based); throws DatabaseError on a bad index.
  Statement& bind(int index, std::string_view text);
  Statement& bind(int index, std::int64_t value);
  // Advances to the next row. Returns false when there is none; throws DatabaseError.
  bool step();
  // Steps until done; throws DatabaseError.
  void run();
  // Makes the statement ready to run again with new bindings, ending any read it holds.
  void reset();

  // Column values of the current row (0-based); NULL reads as 0 or empty text.
  std::int64_t integer(int column) const;
  std::string text(int column) const;
  // As text, without a copy: valid until the next step or reset.
  std::string_view textView(int column) const;

 private:
  void check(int rc) const;
  sqlite3* db_;
  std::string dbPath_;
  sqlite3_stmt* stmt_ = nullptr;
};

// A statement from the connection's cache, in use until this goes out of scope; then
// it is reset, so that a statement left half-read never keeps a snapshot open.
class CachedStatement {
 public:
  explicit CachedStatement(Statement& statement) : statement_(statement) {}
  ~CachedStatement() { statement_.reset(); }
  CachedStatement(const CachedStatement&) = delete;
  CachedStatement& operator=(const CachedStatement&) = delete;
  Statement* operator->() const { return &statement_; }
  Statement& operator*() const { return statement_; }

 private:
  Statement& statement_;
};

// One connection, used by one thread at a time.
class Connection {
 public:
  // Opens the database file; with create, makes it when missing. Throws DatabaseError.
  Connection(std::string path, bool create);
  ~Connection();
  Connection(Connection&& other) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs one or more statements without results; throws DatabaseError.
  void execute(const char* sql);
  // A prepared statement; throws DatabaseError when the SQL does not compile.
  Statement prepare(const char* sql);
  // The statement for this SQL, compiled on first use and kept for the connection's
  // life; throws DatabaseError when the SQL does not compile.
  CachedStatement cached(std::string_view sql);
  std::int64_t lastInsertId() const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
  std::map<std::string, std::unique_ptr<Statement>, std::less<>> statements_;
};

// A write transaction taken at once (BEGIN IMMEDIATE), so that concurrent writers
// wait for each other instead of failing half-way; rolled back unless committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(Connection& db);
  ~WriteTransaction();
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  // Commits; throws DatabaseError.
  void commit();

 private:
  Connection& db_;
  bool done_ = false;
};

// A read transaction, so that several queries see one snapshot of the database.
class ReadTransaction {
 public:
  explicit ReadTransaction(Connection& db);
  ~ReadTransaction();
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;

 private:
  Connection& db_;
};

}  // namespace qmx::server
