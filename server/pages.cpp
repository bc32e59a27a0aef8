#include "server/pages.h"

#include <pugixml.hpp>

#include <charconv>
#include <chrono>
#include <ctime>
#include <iostream>

#include "base/ascii_text.h"
#include "base/utf8.h"
#include "base/xml_wellformed.h"
#include "platform/posix/xcrypt_password_hash.h"
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

Pages::Pages(Store& store) : store_(store) {
  // Checked against when the user name is unknown, so that an unknown name takes as
  // long as a wrong password and the page does not reveal which names exist.
  decoyHash_ = posix::yescryptHash("decoy");
}

std::string Pages::stamp(std::int64_t change) const { return store_.instanceId() + "." + std::to_string(change); }

std::optional<std::int64_t> Pages::parseStamp(std::string_view text) {
  const std::string& prefix = store_.instanceId();
  if (text.size() <= prefix.size() + 1 || text.substr(0, prefix.size()) != prefix || text[prefix.size()] != '.') {
    return std::nullopt;
  }
  const std::string_view digits = text.substr(prefix.size() + 1);
  std::int64_t change = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), change);
  if (ec != std::errc() || end != digits.data() + digits.size() || change < 0) return std::nullopt;
  // A number beyond the latest change was never issued here.
  if (change > store_.currentChange()) return std::nullopt;
  return change;
}

PageReply Pages::handle(const PageRequest& request) {
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

PageReply Pages::login(const QueryString& query) {
  if (query.value("cucumber") != kAccessValue) return failure(kAccessDenied, "Access denied");
  if (query.value("Action") != "Login") return failure(kUnknownAction, "Unknown action");
  const std::string company = query.value("CompanyID");
  std::optional<UserRecord> user;
  {
    std::lock_guard lock(storeMutex_);
    if (!store_.companyExists(company)) return failure(kUnknownCompany, "Unknown company " + company);
    user = store_.findUser(company, query.value("Username"));
  }
  // Hashing is slow on purpose; it runs outside the lock so logins do not queue.
  const bool accepted = posix::matchesYescryptHash(query.value("Pwd"), user ? user->passwordHash : decoyHash_) && user;
  if (!accepted) return failure(kBadCredentials, "Invalid user name or password");
  return PageReply{200, loginSuccessEnvelope(user->level)};
}

PageReply Pages::upload(const QueryString& query, const PageRequest& request) {
  const std::string& body = request.body;
  if (query.value("Action") != "Save") return failure(kUnknownAction, "Unknown action");
  const std::string pageId = query.value("pageID");
  if (pageId.empty()) return failure(kMissingPageId, "Missing pageID");
  if (!isWellFormedXml(body)) {
    return failure(kMalformedBody, "The transaction is not well-formed XML");
  }
  const std::string company = query.value("CompanyID");
  std::lock_guard lock(storeMutex_);
  if (!store_.companyExists(company)) return failure(kUnknownCompany, "Unknown company " + company);
  // Stored (and synced to disk) before "Success" goes out; a repeat of a post whose
  // reply was lost carries the same key and is answered without a second copy.
  store_.storeTransaction(pageId, company, body, utcNow(), request.idempotencyKey);
  return PageReply{200, successEnvelope()};
}

PageReply Pages::dataSet(const QueryString& query) {
  if (query.value("cucumber") != kAccessValue) return failure(kAccessDenied, "Access denied");
  const std::string company = query.value("CompanyID");
  const std::string name = query.value("Data");
  const std::string time = query.value("Time");

  std::lock_guard lock(storeMutex_);
  if (!store_.companyExists(company)) return failure(kUnknownCompany, "Unknown company " + company);
  const bool initial = time == "New";
  const std::optional<std::int64_t> since = initial ? std::nullopt : parseStamp(time);
  const auto snapshot = store_.readDataSet(company, name, since);
  if (!snapshot) return failure(kUnknownDataSet, "Unknown data set " + name);

  const std::string modTime = stamp(snapshot->modSeq);
  if (initial) return PageReply{200, rowsetDocument("Success", modTime, *snapshot)};
  // A stamp this database never issued cannot be answered with changes: send it all.
  if (!since) return PageReply{200, rowsetDocument("NEWDATA", modTime, *snapshot)};
  if (snapshot->rows.empty()) return PageReply{200, rowsetDocument("NODATA", modTime, *snapshot)};
  return PageReply{200, rowsetDocument("Success", modTime, *snapshot)};
}

}  // namespace qmx::server
