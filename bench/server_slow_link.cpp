// The control over a slow link, with and without compressed replies: a
// 100,000-row data set downloaded from qmx-server whole, then refreshed after
// 10,000 of its rows changed, through a loopback relay of about 1 MB/s each way
// (8 Mbit/s). Prints the bytes the link carried and the time of each, plain and
// compressed, and their ratios. Option: the relay's rate in bytes a second.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>

#include "control/xmlload.h"
#include "http_load.h"
#include "platform/posix/posix_platform.h"
#include "support/server_process.h"
#include "support/temp_root.h"
#include "throttled_link.h"

namespace {

using qmx::test::ServerProcess;

constexpr int kRows = 100000;
constexpr int kChangedEvery = 10;  // one row in ten changes before the refresh
constexpr double kBytesTarget = 4;
constexpr double kTimeTarget = 3;

void exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message ? message : "?";
    sqlite3_free(message);
    throw std::runtime_error(sql.substr(0, 80) + ": " + text);
  }
}

// Opens the server's database for the bench's writes; the server reads it meanwhile.
struct Database {
  sqlite3* db = nullptr;
  explicit Database(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open " + path);
    sqlite3_busy_timeout(db, 10000);
  }
  ~Database() { sqlite3_close(db); }
};

const char* const kStamp = "(SELECT CAST(value AS INTEGER) FROM meta WHERE name = 'change')";

// The data set "big.xml" of the demo company, rows like the demo's customers
// (those of the download benchmark), written straight into the database.
void addLargeDataSet(const std::string& path) {
  Database d(path);
  exec(d.db, "BEGIN IMMEDIATE");
  exec(d.db, "UPDATE meta SET value = CAST(CAST(value AS INTEGER) + 1 AS TEXT) WHERE name = 'change'");
  exec(d.db, std::string("INSERT INTO data_sets(set_id, company_id, name, mod_seq) VALUES (1000, '") +
                 ServerProcess::kCompanyId + "', 'big.xml', " + kStamp + ")");
  exec(d.db, "INSERT INTO data_fields(set_id, position, name) VALUES (1000, 1, 'sName'), (1000, 2, 'sCity'), "
             "(1000, 3, 'sPhone')");
  sqlite3_stmt* value = nullptr;
  sqlite3_prepare_v2(d.db, "INSERT INTO row_values(set_id, ikey, field, value) VALUES (1000, ?1, ?2, ?3)", -1, &value,
                     nullptr);
  const char* cities[] = {"Springfield", "Riverton", "Lakeside", "Port Ellis", "Caf\xC3\xA9 Town"};
  for (int key = 1; key <= kRows; ++key) {
    exec(d.db, "INSERT INTO data_rows(set_id, ikey, mod_seq) VALUES (1000, " + std::to_string(key) + ", " + kStamp + ")");
    const std::string fields[3][2] = {
        {"sName", (key % 7 == 0 ? "Dunmore & Sons " : "Customer ") + std::to_string(key)},
        {"sCity", cities[key % 5]},
        {"sPhone", "555-" + std::to_string(100000 + key)}};
    for (const auto& [name, text] : fields) {
      sqlite3_bind_int(value, 1, key);
      sqlite3_bind_text(value, 2, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(value, 3, text.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(value) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(d.db));
      sqlite3_reset(value);
    }
  }
  sqlite3_finalize(value);
  exec(d.db, "COMMIT");
}

// Renames one row in ten (those whose key ends in 1) under a new change.
void changeRows(const std::string& path) {
  Database d(path);
  const std::string which = "set_id = 1000 AND ikey % " + std::to_string(kChangedEvery) + " = 1";
  exec(d.db, "BEGIN IMMEDIATE");
  exec(d.db, "UPDATE meta SET value = CAST(CAST(value AS INTEGER) + 1 AS TEXT) WHERE name = 'change'");
  exec(d.db, std::string("UPDATE data_sets SET mod_seq = ") + kStamp + " WHERE set_id = 1000");
  exec(d.db, std::string("UPDATE data_rows SET mod_seq = ") + kStamp + " WHERE " + which);
  exec(d.db, "UPDATE row_values SET value = 'Renamed ' || ikey WHERE field = 'sName' AND " + which);
  exec(d.db, "COMMIT");
}

struct Transfer {
  std::uint64_t bytes = 0;  // both ways
  double seconds = 0;
};

// One XMLLoad of big.xml through the link; `expect` must be in the merged document.
Transfer load(qmx::XMLLoad& control, qmx::bench::ThrottledLink& link, const std::string& expect) {
  link.resetCounts();
  std::string address = link.baseUrl() + "data.asp";
  const auto start = std::chrono::steady_clock::now();
  const qmx::XmlDocument doc = control.XMLLoad_(address, "big.xml");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!doc || control.get_ErrorNumber() != 0) throw std::runtime_error("the load failed: " + control.get_ErrorDesc());
  const std::string path = "//z:row[@sName='" + expect + "']";
  if (!doc->select_node(path.c_str())) throw std::runtime_error("the document lacks " + path);
  return {link.toServer() + link.toClient(), seconds};
}

// A machine root with the demo company's installation.
struct InstalledRoot : qmx::test::TempRoot {
  InstalledRoot() {
    writeOneInstallation(ServerProcess::kCompanyId);
    makeFolder("drive_c/QMXData/12");
  }
};

// A fresh machine whose control asks for compressed replies or not.
struct Machine {
  InstalledRoot root;
  qmx::PosixPlatform platform;
  qmx::XMLLoad control;
  Machine(const std::string& base, bool compressed)
      : platform(root.path(), [](const std::string&) {}), control(platform) {
    qmx::HttpLimits limits;
    limits.askCompressed = compressed;
    control.setHttpLimits(limits);
    control.put_ServerBase(base);
    if (control.startupError() || !control.Login("demo", "demo123")) throw std::runtime_error("no login");
  }
  std::string cachedFile() const { return root.read("drive_c/QMXData/12/big.xml"); }
};

// Both machines load in turn from the same data; their cached files must be the same bytes.
std::pair<Transfer, Transfer> loadBoth(Machine& plain, Machine& gzip, qmx::bench::ThrottledLink& link,
                                       const std::string& expect) {
  const Transfer p = load(plain.control, link, expect);
  const Transfer g = load(gzip.control, link, expect);
  if (plain.cachedFile() != gzip.cachedFile()) throw std::runtime_error("the cached files differ");
  return {p, g};
}

void print(const char* what, const Transfer& plain, const Transfer& gzip) {
  std::printf("%s: plain %.2f MB in %.2f s, compressed %.2f MB in %.2f s\n", what, plain.bytes / 1e6, plain.seconds,
              gzip.bytes / 1e6, gzip.seconds);
  std::printf("  %.2f times fewer bytes, %.2f times faster\n", double(plain.bytes) / gzip.bytes,
              plain.seconds / gzip.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const double rate = argc > 1 ? std::atof(argv[1]) : 1e6;
    ServerProcess server(qmx::bench::serverProgram());
    addLargeDataSet(server.databasePath());
    qmx::bench::ThrottledLink link(server.port(), rate);
    std::printf("link: %.0f bytes a second each way (%.1f Mbit/s)\n", rate, rate * 8 / 1e6);
    Machine plain(link.baseUrl(), false);
    Machine gzip(link.baseUrl(), true);
    const auto [plainDownload, gzipDownload] = loadBoth(plain, gzip, link, "Customer " + std::to_string(kRows - 1));
    print("100,000-row download", plainDownload, gzipDownload);
    std::printf("  (targets: at least %.0f times fewer bytes, %.0f times faster)\n", kBytesTarget, kTimeTarget);
    changeRows(server.databasePath());
    const auto [plainRefresh, gzipRefresh] = loadBoth(plain, gzip, link, "Renamed 11");
    print("refresh of 10,000 changed rows", plainRefresh, gzipRefresh);
    std::printf("cached files after each: the same bytes plain and compressed\n");
    const bool met = double(plainDownload.bytes) / gzipDownload.bytes >= kBytesTarget &&
                     plainDownload.seconds / gzipDownload.seconds >= kTimeTarget;
    return met ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_server_slow_link: %s\n", e.what());
    return 1;
  }
}
