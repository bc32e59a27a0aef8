// The service's pages, apart from the HTTP transport: login ("Bus_ChkComp.asp"),
// upload of saved transactions ("processForms.asp") and every other ".asp" page
// serving the data set named by the "Data" query key; beside them "/health" for load
// balancers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/store_pool.h"

namespace qmx::server {

class QueryString;

// The fixed access value the control sends as "cucumber"/"Cucumber".
inline constexpr std::string_view kAccessValue = "73518";
// The login's password key, whose value never goes into a log.
inline constexpr std::string_view kPasswordKey = "Pwd";

// Error numbers and texts of failure envelopes.
enum PageError : int {
  kAccessDenied = 1001,     // "Access denied": wrong or missing access value
  kUnknownAction = 1002,    // "Unknown action": Action is not "Login" (login) or "Save" (upload)
  kUnknownCompany = 1003,   // "Unknown company <id>"
  kBadCredentials = 1004,   // "Invalid user name or password"
  kUnknownDataSet = 1005,   // "Unknown data set <name>"
  kMissingPageId = 1006,    // "Missing pageID"
  kMalformedBody = 1007,    // "The transaction is not well-formed XML"
  kUnknownPage = 1008,      // "Unknown page <path>" (HTTP 404)
  kServerError = 1009,      // "Server error" (HTTP 500)
  kMalformedKey = 1010,     // "Malformed Idempotency-Key" (HTTP 400), on an upload
  kUnavailable = 1011,      // "Database unavailable" or "Database busy" (HTTP 503), on "/health"
};

struct PageRequest {
  std::string path;      // decoded path, "/Bus_ChkComp.asp"
  std::string rawQuery;  // the text after "?", as it arrived
  std::string body;
  std::string idempotencyKey;  // the Idempotency-Key header as sent; empty when absent
};

struct PageReply {
  int httpStatus = 200;
  std::string body;  // UTF-8 XML
};

// The stamp text for a change number of the database with this instance identifier.
std::string stampText(const std::string& instanceId, std::int64_t change);

class Pages {
 public:
  explicit Pages(StorePool& stores);

  // Answers one request. Never throws: a database failure becomes a failure envelope.
  PageReply handle(const PageRequest& request);

  // The stamp text for a change number of this database.
  std::string stamp(std::int64_t change) const;
  // The change number of a stamp this database issued, read through the store;
  // nullopt for any other text.
  std::optional<std::int64_t> parseStamp(Store& store, std::string_view text) const;

 private:
  PageReply login(const QueryString& query);
  PageReply upload(const QueryString& query, const PageRequest& request);
  PageReply dataSet(const QueryString& query);
  PageReply health();

  StorePool& stores_;
  std::string decoyHash_;
};

}  // namespace qmx::server
