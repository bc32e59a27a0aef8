// Runs qmx-server as a child process for end-to-end tests: a fresh demo database in
// a private temporary folder, served on a free loopback port until stop().
//
// The demo database holds company ServerProcess::kCompanyId, users "demo"/"demo123"
// (level 5) and "clerk"/"clerk123" (level 1), and the data sets "customers.xml" and
// "items.xml" (iKey 1..12 each).
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace qmx::test {

// What a finished command printed and how it ended.
struct CommandResult {
  int exitCode = -1;  // -1 when the process was ended by a signal
  std::string out, err;
};

// Runs a program with the arguments and waits for it; throws when it cannot be started.
CommandResult runProgram(const std::string& program, const std::vector<std::string>& args);

class ServerProcess {
 public:
  static constexpr const char* kCompanyId = "VELMORA-DEMO";

  // Creates the demo database and starts "serve --port 0" on 127.0.0.1, its log kept for
  // log(); throws when either step fails or the server announces no address.
  explicit ServerProcess(std::string serverPath, bool verbose = false);
  // The same over `database` (a PostgreSQL connection string; empty: a fresh file),
  // made a demo database first when initDemo; serveArgs go to "serve" as well.
  ServerProcess(std::string serverPath, std::string database, bool initDemo, bool verbose = false,
                std::vector<std::string> serveArgs = {});
  // Stops the server if still running and removes the temporary folder.
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // "http://127.0.0.1:PORT/", with the trailing slash, as a ServerBase value.
  const std::string& baseUrl() const { return baseUrl_; }
  int port() const { return port_; }
  const std::string& databasePath() const { return dbPath_; }

  // Runs another qmx-server command against this server's database ("--db FILE" is appended).
  CommandResult command(std::vector<std::string> args) const;
  // Changes or adds one row of a data set of the demo company and stamps it; throws
  // when the command fails.
  void changeRow(const std::string& dataSet, int key,
                 const std::vector<std::pair<std::string, std::string>>& fields) const;

  // Sends SIGTERM and waits. Returns the exit status (-1 when ended by a signal);
  // later calls return the same status.
  int stop();
  // Ends the server with SIGKILL and waits; then serves again on the same port.
  void killAndRestart();
  std::string log() const;  // what the server has logged so far

 private:
  void start(int port);
  std::string serverPath_, folder_, dbPath_, baseUrl_;
  std::vector<std::string> serveArgs_;
  bool verbose_ = false;
  int port_ = 0;
  int pid_ = -1;
  std::FILE* stdout_ = nullptr;  // kept open so that the server never writes to a closed pipe
  int exitStatus_ = -1;
};

}  // namespace qmx::test
