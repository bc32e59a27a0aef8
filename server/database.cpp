#include "server/database.h"

#include <random>

#include "base/ascii_text.h"
#include "base/utf8.h"
#include "server/pg_store.h"
#include "server/sqlite_store.h"

namespace qmx::server {

bool isPostgresTarget(std::string_view db) {
  return db.starts_with("postgresql://") || db.starts_with("postgres://") || db.find('=') != std::string_view::npos;
}

std::unique_ptr<Store> Store::open(const std::string& db) {
  if (isPostgresTarget(db)) return std::make_unique<PgStore>(db, false);
  return SqliteStore::open(db);
}

std::unique_ptr<Store> Store::create(const std::string& db) {
  if (isPostgresTarget(db)) return std::make_unique<PgStore>(db, true);
  return SqliteStore::create(db);
}

std::string newInstanceId() {
  std::random_device rd;
  std::uniform_int_distribution<unsigned> dist(0, 0xFFFFFFFFu);
  const unsigned value = dist(rd);
  return hexNumber(value, 8);
}

void checkRow(std::string_view dataSet, const std::vector<std::pair<std::string, std::string>>& fields) {
  if (dataSet.empty()) throw std::invalid_argument("the data set name is empty");
  for (const auto& [name, value] : fields) {
    bool good = !name.empty() && name != "iKey";
    for (size_t i = 0; good && i < name.size(); ++i) {
      const char c = name[i];
      const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
      good = letter || (i > 0 && ((c >= '0' && c <= '9') || c == '-' || c == '.'));
    }
    if (!good) throw std::invalid_argument("\"" + name + "\" cannot be a field name");
    bool clean = isValidUtf8(value);
    for (const char c : value) {
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') clean = false;
    }
    if (!clean) throw std::invalid_argument("the value of " + name + " is not valid text");
  }
}

RowAssembler::RowAssembler(DataSetReader& reader, const std::vector<std::string>& fieldNames)
    : reader_(reader), fieldNames_(fieldNames), values_(fieldNames.size()), present_(fieldNames.size(), nullptr) {}

void RowAssembler::add(std::int32_t key, std::string_view field, std::string_view value) {
  if (inRow_ && key != key_) {
    reader_.row(key_, present_);
    std::fill(present_.begin(), present_.end(), nullptr);
  }
  inRow_ = true;
  key_ = key;
  if (field.empty()) return;
  for (size_t i = 0; i < fieldNames_.size(); ++i) {
    if (fieldNames_[i] == field) {
      values_[i].assign(value);
      present_[i] = &values_[i];
      return;
    }
  }
}

void RowAssembler::finish() {
  if (inRow_) reader_.row(key_, present_);
  inRow_ = false;
}

}  // namespace qmx::server
