#include "server/sqlite_db.h"

#include <sqlite3.h>

#include <utility>

namespace qmx::server {

namespace {

[[noreturn]] void fail(sqlite3* db, const std::string& path) {
  throw DatabaseError(path + ": " + (db ? sqlite3_errmsg(db) : "cannot open database"));
}

}  // namespace

Statement::Statement(sqlite3* db, const std::string& dbPath, const char* sql) : db_(db), dbPath_(dbPath) {
  if (sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr) != SQLITE_OK) fail(db_, dbPath_);
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_), dbPath_(std::move(other.dbPath_)), stmt_(std::exchange(other.stmt_, nullptr)) {}

void Statement::check(int rc) const {
  if (rc != SQLITE_OK) fail(db_, dbPath_);
}

Statement& Statement::bind(int index, std::string_view text) {
  check(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
  return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
  check(sqlite3_bind_int64(stmt_, index, value));
  return *this;
}

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  fail(db_, dbPath_);
}

void Statement::run() {
  while (step()) {
  }
}

void Statement::reset() {
  // The error of a failed step comes back here again; it was reported by step().
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

std::int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::text(int column) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  if (!p) return {};
  return std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::string_view Statement::textView(int column) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  if (!p) return {};
  return std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

Connection::Connection(std::string path, bool create) : path_(std::move(path)) {
  // A connection is never shared between threads at once, so SQLite need not lock it.
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : "cannot open database";
    sqlite3_close(db_);
    db_ = nullptr;
    throw DatabaseError(path_ + ": " + message);
  }
  // Commands such as change-row write while the service reads; wait rather than fail.
  sqlite3_busy_timeout(db_, 10000);
  execute("PRAGMA foreign_keys = ON");
}

Connection::Connection(Connection&& other) noexcept
    : path_(std::move(other.path_)), db_(std::exchange(other.db_, nullptr)), statements_(std::move(other.statements_)) {}

Connection::~Connection() {
  // Statements left unfinalised would keep the database open.
  statements_.clear();
  sqlite3_close(db_);
}

void Connection::execute(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw DatabaseError(path_ + ": " + text);
  }
}

Statement Connection::prepare(const char* sql) { return Statement(db_, path_, sql); }

CachedStatement Connection::cached(std::string_view sql) {
  auto found = statements_.find(sql);
  if (found == statements_.end()) {
    const std::string text(sql);
    found = statements_.emplace(text, std::make_unique<Statement>(db_, path_, text.c_str())).first;
  }
  return CachedStatement(*found->second);
}

std::int64_t Connection::lastInsertId() const { return sqlite3_last_insert_rowid(db_); }

WriteTransaction::WriteTransaction(Connection& db) : db_(db) { db_.cached("BEGIN IMMEDIATE")->run(); }

WriteTransaction::~WriteTransaction() {
  if (done_) return;
  try {
    db_.cached("ROLLBACK")->run();
  } catch (const DatabaseError&) {
    // A failed statement may already have ended the transaction.
  }
}

void WriteTransaction::commit() {
  db_.cached("COMMIT")->run();
  done_ = true;
}

ReadTransaction::ReadTransaction(Connection& db) : db_(db) { db_.cached("BEGIN")->run(); }

ReadTransaction::~ReadTransaction() {
  try {
    db_.cached("COMMIT")->run();
  } catch (const DatabaseError&) {
  }
}

}  // namespace qmx::server
