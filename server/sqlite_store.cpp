#include "server/sqlite_store.h"

#include <filesystem>
#include <mutex>
#include <stdexcept>

namespace qmx::server {

namespace {

// The schema's version, kept in the file's user_version. Files made before it was
// kept there read 0 and carry meta's "schema" row: version 1.
constexpr int kSchemaVersion = 2;
// Older programs open a file whose meta "schema" row says "1"; it stays "1" for as
// long as the schema's changes leave them working.
constexpr const char* kLegacySchema = "1";

constexpr const char* kSchema = R"sql(
CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE companies(company_id TEXT PRIMARY KEY, name TEXT NOT NULL);
CREATE TABLE users(
  company_id TEXT NOT NULL REFERENCES companies(company_id),
  user_name TEXT NOT NULL,
  password_hash TEXT NOT NULL,
  level INTEGER NOT NULL,
  PRIMARY KEY(company_id, user_name));
CREATE TABLE data_sets(
  set_id INTEGER PRIMARY KEY,
  company_id TEXT NOT NULL REFERENCES companies(company_id),
  name TEXT NOT NULL,
  mod_seq INTEGER NOT NULL,
  UNIQUE(company_id, name));
CREATE TABLE data_fields(
  set_id INTEGER NOT NULL REFERENCES data_sets(set_id),
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  PRIMARY KEY(set_id, name));
CREATE TABLE data_rows(
  set_id INTEGER NOT NULL REFERENCES data_sets(set_id),
  ikey INTEGER NOT NULL,
  mod_seq INTEGER NOT NULL,
  PRIMARY KEY(set_id, ikey));
CREATE INDEX data_rows_by_change ON data_rows(set_id, mod_seq);
CREATE TABLE row_values(
  set_id INTEGER NOT NULL,
  ikey INTEGER NOT NULL,
  field TEXT NOT NULL,
  value TEXT NOT NULL,
  PRIMARY KEY(set_id, ikey, field),
  FOREIGN KEY(set_id, ikey) REFERENCES data_rows(set_id, ikey));
CREATE TABLE transactions(
  id INTEGER PRIMARY KEY,
  page_id TEXT NOT NULL,
  company_id TEXT NOT NULL,
  received_at TEXT NOT NULL,
  body TEXT NOT NULL);
)sql";

// Added after the first databases were made: created when missing, so that those
// databases keep working.
constexpr const char* kTransactionKeys = R"sql(
CREATE TABLE IF NOT EXISTS transaction_keys(
  company_id TEXT NOT NULL,
  idempotency_key TEXT NOT NULL,
  transaction_id INTEGER NOT NULL REFERENCES transactions(id),
  PRIMARY KEY(company_id, idempotency_key));
)sql";

// Every value with its row's key, so that a data set is read from this index alone,
// in key order, without a look-up in the table per value. Added after the first
// databases were made: created when missing.
constexpr const char* kValuesByRow = R"sql(
CREATE INDEX IF NOT EXISTS row_values_by_row ON row_values(set_id, ikey, field, value);
)sql";

std::optional<std::string> metaValue(Connection& db, const char* name) {
  auto st = db.cached("SELECT value FROM meta WHERE name = ?1");
  st->bind(1, name);
  if (!st->step()) return std::nullopt;
  return st->text(0);
}

int userVersion(Connection& db) {
  auto st = db.prepare("PRAGMA user_version");
  return st.step() ? static_cast<int>(st.integer(0)) : 0;
}

// Brings the schema from version `from` to kSchemaVersion, inside the caller's
// write transaction.
void migrate(Connection& db, int from) {
  if (from < 1) {
    db.execute(kSchema);
    db.prepare("INSERT INTO meta(name, value) VALUES ('schema', ?1), ('instance', ?2), ('change', '0')")
        .bind(1, kLegacySchema).bind(2, newInstanceId()).run();
  }
  // Version 2: the idempotency keys and the covering index, which files of version 1
  // may hold already.
  if (from < 2) {
    db.execute(kTransactionKeys);
    db.execute(kValuesByRow);
  }
  db.execute(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
}

// Uploads in this process take turns here rather than in SQLite's busy handler,
// which sleeps in steps of up to 100 ms; reads never wait for it.
std::mutex uploadTurn;

}  // namespace

SqliteStore::SqliteStore(const std::string& path, bool create) : Store(path), db_(path, create) {
  if (create) {
    // Readers (the service) and writers (change-row) work at the same time.
    db_.execute("PRAGMA journal_mode = WAL");
    // Only this process writes a database being created, and a creation cut short by
    // a system crash is simply run again; skipping the syncs makes it ten times faster.
    db_.execute("PRAGMA synchronous = OFF");
    WriteTransaction tx(db_);
    migrate(db_, 0);
    tx.commit();
  } else {
    int version = 0;
    try {
      version = userVersion(db_);
      if (version == 0 && metaValue(db_, "schema") == kLegacySchema) version = 1;
    } catch (const DatabaseError&) {
      throw DatabaseError(path + ": not a qmx-server database");
    }
    if (version == 0) throw DatabaseError(path + ": not a qmx-server database");
    if (version > kSchemaVersion) {
      throw DatabaseError(path + ": schema version " + std::to_string(version) + " is newer than this qmx-server's (" +
                          std::to_string(kSchemaVersion) + "); use a newer qmx-server");
    }
    if (version < kSchemaVersion) {
      WriteTransaction tx(db_);
      migrate(db_, version);
      tx.commit();
    }
    // An upload is answered "Success" only once it would survive a power cut.
    db_.execute("PRAGMA synchronous = FULL");
    // Large data sets are read through the page cache's own memory rather than a copy
    // per page; writes still go through the journal as before.
    db_.execute("PRAGMA mmap_size = 1073741824");
  }
  instanceId_ = metaValue(db_, "instance").value_or("");
}

std::unique_ptr<Store> SqliteStore::open(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) throw DatabaseError(path + ": no such database");
  return std::make_unique<SqliteStore>(path, false);
}

std::unique_ptr<Store> SqliteStore::create(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) throw DatabaseError(path + ": the file exists already");
  return std::make_unique<SqliteStore>(path, true);
}

void SqliteStore::discard() {
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(name_ + suffix, ec);
}

std::int64_t SqliteStore::currentChange() {
  return std::stoll(metaValue(db_, "change").value_or("0"));
}

void SqliteStore::ping() {
  if (!metaValue(db_, "instance")) throw DatabaseError(name_ + ": not a qmx-server database");
}

void SqliteStore::addCompany(std::string_view companyId, std::string_view name) {
  auto st = db_.prepare("INSERT INTO companies(company_id, name) VALUES (?1, ?2)");
  st.bind(1, companyId).bind(2, name).run();
}

bool SqliteStore::companyExists(std::string_view companyId) {
  auto st = db_.cached("SELECT 1 FROM companies WHERE company_id = ?1");
  st->bind(1, companyId);
  return st->step();
}

void SqliteStore::putUser(std::string_view companyId, std::string_view userName, std::string_view passwordHash,
                          int level) {
  auto st = db_.prepare(
      "INSERT INTO users(company_id, user_name, password_hash, level) VALUES (?1, ?2, ?3, ?4) "
      "ON CONFLICT(company_id, user_name) DO UPDATE SET password_hash = excluded.password_hash, level = excluded.level");
  st.bind(1, companyId).bind(2, userName).bind(3, passwordHash).bind(4, std::int64_t{level}).run();
}

std::optional<UserRecord> SqliteStore::findUser(std::string_view companyId, std::string_view userName) {
  auto st = db_.cached("SELECT password_hash, level FROM users WHERE company_id = ?1 AND user_name = ?2");
  st->bind(1, companyId).bind(2, userName);
  if (!st->step()) return std::nullopt;
  return UserRecord{st->text(0), static_cast<int>(st->integer(1))};
}

std::int64_t SqliteStore::changeRow(std::string_view companyId, std::string_view dataSet, std::int32_t key,
                                    const std::vector<std::pair<std::string, std::string>>& fields) {
  checkRow(dataSet, fields);
  // One write transaction: a reader never sees a stamp whose row is not yet there.
  WriteTransaction tx(db_);
  if (!companyExists(companyId)) throw DatabaseError(db_.path() + ": no company \"" + std::string(companyId) + "\"");
  const std::int64_t change = currentChange() + 1;
  db_.prepare("UPDATE meta SET value = ?1 WHERE name = 'change'").bind(1, std::to_string(change)).run();

  std::int64_t setId = 0;
  {
    auto find = db_.prepare("SELECT set_id FROM data_sets WHERE company_id = ?1 AND name = ?2");
    find.bind(1, companyId).bind(2, dataSet);
    if (find.step()) {
      setId = find.integer(0);
      db_.prepare("UPDATE data_sets SET mod_seq = ?1 WHERE set_id = ?2").bind(1, change).bind(2, setId).run();
    } else {
      db_.prepare("INSERT INTO data_sets(company_id, name, mod_seq) VALUES (?1, ?2, ?3)")
          .bind(1, companyId).bind(2, dataSet).bind(3, change).run();
      setId = db_.lastInsertId();
    }
  }
  for (const auto& field : fields) {
    db_.prepare(
           "INSERT OR IGNORE INTO data_fields(set_id, position, name) "
           "VALUES (?1, (SELECT COALESCE(MAX(position), 0) + 1 FROM data_fields WHERE set_id = ?1), ?2)")
        .bind(1, setId).bind(2, field.first).run();
  }
  db_.prepare(
         "INSERT INTO data_rows(set_id, ikey, mod_seq) VALUES (?1, ?2, ?3) "
         "ON CONFLICT(set_id, ikey) DO UPDATE SET mod_seq = excluded.mod_seq")
      .bind(1, setId).bind(2, std::int64_t{key}).bind(3, change).run();
  for (const auto& [name, value] : fields) {
    db_.prepare(
           "INSERT INTO row_values(set_id, ikey, field, value) VALUES (?1, ?2, ?3, ?4) "
           "ON CONFLICT(set_id, ikey, field) DO UPDATE SET value = excluded.value")
        .bind(1, setId).bind(2, std::int64_t{key}).bind(3, name).bind(4, value).run();
  }
  tx.commit();
  return change;
}

bool SqliteStore::readDataSet(std::string_view companyId, std::string_view dataSet,
                              std::optional<std::int64_t> since, DataSetReader& reader) {
  ReadTransaction tx(db_);
  std::int64_t setId = 0;
  std::int64_t modSeq = 0;
  {
    auto find = db_.cached("SELECT set_id, mod_seq FROM data_sets WHERE company_id = ?1 AND name = ?2");
    find->bind(1, companyId).bind(2, dataSet);
    if (!find->step()) return false;
    setId = find->integer(0);
    modSeq = find->integer(1);
  }
  std::vector<std::string> fieldNames;
  {
    auto names = db_.cached("SELECT name FROM data_fields WHERE set_id = ?1 ORDER BY position");
    names->bind(1, setId);
    while (names->step()) fieldNames.push_back(names->text(0));
  }
  std::size_t rowCount = 0;
  {
    auto count = since ? db_.cached("SELECT count(*) FROM data_rows WHERE set_id = ?1 AND mod_seq > ?2")
                       : db_.cached("SELECT count(*) FROM data_rows WHERE set_id = ?1");
    count->bind(1, setId);
    if (since) count->bind(2, *since);
    if (count->step()) rowCount = static_cast<std::size_t>(count->integer(0));
  }
  reader.begin(modSeq, fieldNames, rowCount);

  // Values come with their rows in key order and, within a row, in the order of the
  // value table's key (field name); they are put in schema order here rather than by
  // an ORDER BY, which would make SQLite sort the whole set before the first row.
  // The whole set reads the rows by their key; changes go through the change index.
  auto rows = since ? db_.cached(
                          "SELECT r.ikey, v.field, v.value FROM data_rows r "
                          "LEFT JOIN row_values v ON v.set_id = r.set_id AND v.ikey = r.ikey "
                          "WHERE r.set_id = ?1 AND r.mod_seq > ?2 ORDER BY r.ikey")
                    : db_.cached(
                          "SELECT r.ikey, v.field, v.value FROM data_rows r "
                          "LEFT JOIN row_values v ON v.set_id = r.set_id AND v.ikey = r.ikey "
                          "WHERE r.set_id = ?1 ORDER BY r.ikey");
  rows->bind(1, setId);
  if (since) rows->bind(2, *since);

  RowAssembler assembler(reader, fieldNames);
  while (rows->step()) assembler.add(static_cast<std::int32_t>(rows->integer(0)), rows->textView(1), rows->textView(2));
  assembler.finish();
  return true;
}

std::int64_t SqliteStore::storeTransaction(std::string_view pageId, std::string_view companyId,
                                          std::string_view body, std::string_view receivedAt,
                                          std::string_view idempotencyKey) {
  // The look-up and the two inserts commit together, so a transaction is stored
  // with its key or not at all, and a repeat finds the first one.
  std::lock_guard turn(uploadTurn);
  WriteTransaction tx(db_);
  if (!idempotencyKey.empty()) {
    auto known = db_.cached(
        "SELECT transaction_id FROM transaction_keys WHERE company_id = ?1 AND idempotency_key = ?2");
    known->bind(1, companyId).bind(2, idempotencyKey);
    if (known->step()) return known->integer(0);
  }
  db_.cached("INSERT INTO transactions(page_id, company_id, received_at, body) VALUES (?1, ?2, ?3, ?4)")
      ->bind(1, pageId).bind(2, companyId).bind(3, receivedAt).bind(4, body).run();
  const std::int64_t id = db_.lastInsertId();
  if (!idempotencyKey.empty()) {
    db_.cached("INSERT INTO transaction_keys(company_id, idempotency_key, transaction_id) VALUES (?1, ?2, ?3)")
        ->bind(1, companyId).bind(2, idempotencyKey).bind(3, id).run();
  }
  tx.commit();
  return id;
}

std::vector<StoredTransaction> SqliteStore::transactions() {
  std::vector<StoredTransaction> list;
  auto st = db_.prepare("SELECT id, page_id, company_id, received_at, body FROM transactions ORDER BY id");
  while (st.step()) list.push_back({st.integer(0), st.text(1), st.text(2), st.text(3), st.text(4)});
  return list;
}

}  // namespace qmx::server
