// qmx-server: the reference implementation of the service pages, over a SQLite file
// or a PostgreSQL database. Commands: init-demo, serve, change-row, list-transactions.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "server/database.h"
#include "server/demo_data.h"
#include "server/http_service.h"
#include "server/pages.h"
#include "server/store_pool.h"

namespace {

using namespace qmx::server;

// "F=V" into its two halves; throws CLI::ValidationError without "=".
std::pair<std::string, std::string> splitField(const std::string& item) {
  const auto eq = item.find('=');
  if (eq == std::string::npos) throw CLI::ValidationError("--field", "expected NAME=VALUE, got \"" + item + "\"");
  return {item.substr(0, eq), item.substr(eq + 1)};
}

int initDemo(const std::string& db, const std::string& company) {
  if (company.empty()) throw std::invalid_argument("the company identifier is empty");
  std::string name;
  {
    const auto store = Store::create(db);
    name = store->name();
    try {
      fillDemo(*store, company);
    } catch (...) {
      // A half-filled database would be refused by the next init-demo; leave none,
      // and report what went wrong first.
      try {
        store->discard();
      } catch (const std::exception&) {
      }
      throw;
    }
  }
  std::cout << "created " << name << " with company " << company << std::endl;
  return 0;
}

int serve(const std::string& db, const ServiceOptions& options, std::size_t connections) {
  StorePool stores(db, connections);
  Pages pages(stores);
  return runService(pages, options);
}

int changeRow(const std::string& db, const std::string& company, const std::string& data, std::int32_t key,
              const std::vector<std::string>& fieldArgs) {
  std::vector<std::pair<std::string, std::string>> fields;
  for (const auto& item : fieldArgs) fields.push_back(splitField(item));
  const auto store = Store::open(db);
  const std::int64_t change = store->changeRow(company, data, key, fields);
  std::cout << data << " iKey " << key << " stamped " << stampText(store->instanceId(), change) << std::endl;
  return 0;
}

// Bodies may span lines; escaping keeps one transaction a line.
std::string oneLine(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

int listTransactions(const std::string& db) {
  for (const auto& t : Store::open(db)->transactions()) {
    std::cout << t.id << "\t" << t.receivedAt << "\t" << t.companyId << "\t" << oneLine(t.pageId) << "\t" << oneLine(t.body) << "\n";
  }
  std::cout.flush();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"qmx-server: the reference service pages over a SQLite file or a PostgreSQL database"};
  app.require_subcommand(1);

  const std::string dbHelp = "Database: a SQLite file, or PostgreSQL as postgresql://... or host=... dbname=...";
  std::string db;
  std::string company = kDemoCompanyId;

  auto* init = app.add_subcommand("init-demo", "Create a new database holding the demo company, users and data sets");
  init->add_option("--db", db, dbHelp + " (a file to create, or a database without the schema)")->required();
  init->add_option("--company", company, "Company identifier of the demo company")->capture_default_str();

  ServiceOptions options;
  auto* serveCmd = app.add_subcommand("serve", "Serve the pages until SIGINT or SIGTERM");
  serveCmd->add_option("--db", db, dbHelp)->required();
  std::size_t connections = 16;
  serveCmd->add_option("--connections", connections, "Connections to a PostgreSQL database (one a request thread)")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000));
  serveCmd->add_option("--port", options.port, "TCP port; 0 picks a free one")->capture_default_str()->check(
      CLI::Range(0, 65535));
  serveCmd->add_option("--bind", options.bind, "Address to listen on")->capture_default_str();
  serveCmd->add_flag("--quiet", [&options](std::int64_t) { options.accessLog = false; },
                     "No access log (by default one line per request on standard error)");
  bool verbose = false;
  serveCmd->add_flag("--verbose", verbose, "Accepted for older scripts: the access log is on unless --quiet");
  // For tests of slow clients; the default suits real ones.
  serveCmd->add_option("--header-timeout", options.headerTimeoutSeconds, "Seconds for a request's header to arrive")
      ->check(CLI::Range(1, 3600))
      ->group("");

  std::string data;
  std::int32_t key = 0;
  std::vector<std::string> fields;
  auto* change = app.add_subcommand("change-row", "Change or add one row of a data set and stamp it");
  change->add_option("--db", db, dbHelp)->required();
  change->add_option("--company", company, "Company identifier")->capture_default_str();
  change->add_option("--data", data, "Data set name, e.g. customers.xml")->required();
  change->add_option("--key", key, "The row's iKey")->required();
  change->add_option("--field", fields, "NAME=VALUE, one or more");

  auto* list = app.add_subcommand(
      "list-transactions", "Print the received transactions, one a line: number, received (UTC), company, pageID, body");
  list->add_option("--db", db, dbHelp)->required();

  CLI11_PARSE(app, argc, argv);

  try {
    if (init->parsed()) return initDemo(db, company);
    if (serveCmd->parsed()) return serve(db, options, connections);
    if (change->parsed()) return changeRow(db, company, data, key, fields);
    if (list->parsed()) return listTransactions(db);
  } catch (const CLI::Error& e) {
    return app.exit(e);
  } catch (const std::exception& e) {
    std::cerr << "qmx-server: " << e.what() << std::endl;
    return 1;
  }
  return 1;
}
