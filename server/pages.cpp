#include "server/pages.h"

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>
#include <iostream>

#include "base/ascii_text.h"
#include "base/utf8.h"
#include "base/xml_wellformed.h"
#include "password/password_hash.h"
#include "server/query.h"
#include "server/rowset.h"

namespace qmx::server {

namespace {

std::string utcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

PageReply failure(int number, std::string_view description, int httpStatus = 200) {
  return PageReply{httpStatus, failureEnvelope(number, description)};
}

}  // namespace

std::string stampText(const std::string& instanceId, std::int64_t change) {
  return instanceId + "." + std::to_string(change);
}

Pages::Pages(StorePool& stores) : stores_(stores) {
  // Checked against when the user name is unknown, so that an unknown name takes as
  // long as a wrong password and the page does not reveal which names exist.
  decoyHash_ = password::hashPassword("decoy");
}

std::string Pages::stamp(std::int64_t change) const { return stampText(stores_.instanceId(), change); }

std::optional<std::int64_t> Pages::parseStamp(Store& store, std::string_view text) const {
  const std::string& prefix = stores_.instanceId();
  if (text.size() <= prefix.size() + 1 || text.substr(0, prefix.size()) != prefix || text[prefix.size()] != '.') {
    return std::nullopt;
  }
  const std::string_view digits = text.substr(prefix.size() + 1);
  std::int64_t change = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), change);
  if (ec != std::errc() || end != digits.data() + digits.size() || change < 0) return std::nullopt;
  // A number beyond the latest change was never issued here.
  if (change > store.currentChange()) return std::nullopt;
  return change;
}

PageReply Pages::handle(const PageRequest& request) {
  // Exactly this path: every page of the control ends in ".asp", so none is shadowed.
  if (request.path == "/health") return health();
  const QueryString query(request.rawQuery);
  const std::string page = lowerAscii(request.path.substr(request.path.rfind('/') + 1));
  try {
    if (page == "bus_chkcomp.asp") return login(query);
    if (page == "processforms.asp") return upload(query, request);
    if (page.size() > 4 && page.ends_with(".asp")) return dataSet(query);
    // The path is bytes from the client; the reply is declared UTF-8.
    return failure(kUnknownPage, "Unknown page " + repairUtf8(request.path), 404);
  } catch (const std::exception& e) {
    std::cerr << "qmx-server: " << request.path << ": " << e.what() << std::endl;
    return failure(kServerError, "Server error", 500);
  }
}

PageReply Pages::health() {
  // A balancer polls often and gives up after a few seconds: wait only briefly for a
  // connection, and hold it for one query.
  constexpr std::chrono::milliseconds kMaxWait{1000};
  try {
    stores_.acquire(kMaxWait)->ping();
    return PageReply{200, successEnvelope()};
  } catch (const PoolBusy&) {
    return failure(kUnavailable, "Database busy", 503);
  } catch (const std::exception& e) {
    // The cause goes to the log only: it names the database, which callers need not know.
    std::cerr << "qmx-server: /health: " << e.what() << std::endl;
    return failure(kUnavailable, "Database unavailable", 503);
  }
}

PageReply Pages::login(const QueryString& query) {
  if (query.value("cucumber") != kAccessValue) return failure(kAccessDenied, "Access denied");
  if (query.value("Action") != "Login") return failure(kUnknownAction, "Unknown action");
  const std::string company = query.value("CompanyID");
  std::optional<UserRecord> user;
  {
    auto store = stores_.acquire();
    if (!store->companyExists(company)) return failure(kUnknownCompany, "Unknown company " + company);
    user = store->findUser(company, query.value("Username"));
  }
  // Hashing is slow on purpose; the connection goes back first so that it serves
  // other requests meanwhile.
  const bool accepted = password::passwordMatchesHash(query.value(kPasswordKey), user ? user->passwordHash : decoyHash_) && user;
  if (!accepted) return failure(kBadCredentials, "Invalid user name or password");
  return PageReply{200, loginSuccessEnvelope(user->level)};
}

PageReply Pages::upload(const QueryString& query, const PageRequest& request) {
  const std::string& body = request.body;
  // A key is a short token of visible ASCII. Anything else is refused rather than
  // taken as no key, which would store every repeat of the post again.
  const std::string& key = request.idempotencyKey;
  const bool visible = std::all_of(key.begin(), key.end(), [](char c) { return c > 0x20 && c < 0x7F; });
  if (key.size() > 200 || !visible) return failure(kMalformedKey, "Malformed Idempotency-Key", 400);
  if (query.value("Action") != "Save") return failure(kUnknownAction, "Unknown action");
  const std::string pageId = query.value("pageID");
  if (pageId.empty()) return failure(kMissingPageId, "Missing pageID");
  if (!isWellFormedXml(body)) {
    return failure(kMalformedBody, "The transaction is not well-formed XML");
  }
  const std::string company = query.value("CompanyID");
  auto store = stores_.acquire();
  if (!store->companyExists(company)) return failure(kUnknownCompany, "Unknown company " + company);
  // Stored (and synced to disk) before "Success" goes out; a repeat of a post whose
  // reply was lost carries the same key and is answered without a second copy.
  store->storeTransaction(pageId, company, body, utcNow(), request.idempotencyKey);
  return PageReply{200, successEnvelope()};
}

namespace {

// Writes the rowset as the store reads it, once the status word is known.
class RowsetReply : public DataSetReader {
 public:
  RowsetReply(const Pages& pages, std::string_view status) : pages_(pages), status_(status) {}

  void begin(std::int64_t modSeq, const std::vector<std::string>& fieldNames, std::size_t rowCount) override {
    modTime_ = pages_.stamp(modSeq);
    fieldNames_ = fieldNames;
    writer_.emplace(status_, modTime_, fieldNames_, rowCount);
  }
  void row(std::int32_t key, const std::vector<const std::string*>& values) override { writer_->addRow(key, values); }

  std::size_t rowCount() const { return writer_->rowCount(); }
  std::string finish(std::string_view status) {
    // A refresh learns that nothing changed only after reading: the (empty) document
    // is written again under its own word.
    if (status != status_) writer_.emplace(status, modTime_, fieldNames_);
    return writer_->finish();
  }

 private:
  const Pages& pages_;
  std::string_view status_;
  std::string modTime_;
  std::vector<std::string> fieldNames_;
  std::optional<RowsetWriter> writer_;
};

}  // namespace

PageReply Pages::dataSet(const QueryString& query) {
  if (query.value("cucumber") != kAccessValue) return failure(kAccessDenied, "Access denied");
  const std::string company = query.value("CompanyID");
  const std::string name = query.value("Data");
  const std::string time = query.value("Time");

  auto store = stores_.acquire();
  const bool initial = time == "New";
  const std::optional<std::int64_t> since = initial ? std::nullopt : parseStamp(*store, time);
  // A stamp this database never issued cannot be answered with changes: send it all.
  const std::string_view status = initial ? "Success" : !since ? "NEWDATA" : "Success";
  RowsetReply reply(*this, status);
  // The company is looked up only when the set is not found: one query for a page
  // that is served, which on PostgreSQL is one round trip.
  if (!store->readDataSet(company, name, since, reply)) {
    if (!store->companyExists(company)) return failure(kUnknownCompany, "Unknown company " + company);
    return failure(kUnknownDataSet, "Unknown data set " + name);
  }
  if (since && reply.rowCount() == 0) return PageReply{200, reply.finish("NODATA")};
  return PageReply{200, reply.finish(status)};
}

}  // namespace qmx::server
