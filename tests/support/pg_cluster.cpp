#include "support/pg_cluster.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

#include "support/server_process.h"

namespace qmx::test {

namespace {

namespace fs = std::filesystem;

class PgCluster {
 public:
  PgCluster() {
    std::string tmpl = (fs::temp_directory_path() / "qmxpg.XXXXXX").string();
    const passwd* nobody = ::getpwnam("nobody");
    if (!::mkdtemp(tmpl.data()) || (::geteuid() == 0 && (!nobody || ::chown(tmpl.c_str(), nobody->pw_uid, 0) != 0))) {
      throw std::runtime_error("cannot make " + tmpl + " for the cluster");
    }
    folder_ = tmpl;
    run("initdb", {"-D", folder_ + "/data", "-A", "trust", "-U", "qmx", "-E", "UTF8", "--locale=C", "--no-sync"}, true);
    const std::string options = "-c listen_addresses='' -c unix_socket_directories=" + folder_;
    run("pg_ctl", {"-D", folder_ + "/data", "-l", folder_ + "/log", "-w", "-o",
                   options + " -c fsync=on -c synchronous_commit=on", "start"},
        true);
  }
  ~PgCluster() {
    try {
      run("pg_ctl", {"-D", folder_ + "/data", "-m", "immediate", "stop"}, true);
    } catch (const std::exception&) {  // stopped already
    }
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  std::string newDatabase() {
    const std::string name = "qmx" + std::to_string(++databases_);
    run("createdb", {"-h", folder_, "-U", "qmx", name});
    return "host=" + folder_ + " dbname=" + name + " user=qmx";
  }

 private:
  void run(const std::string& program, std::vector<std::string> args, bool asServerUser = false) const {
    args.insert(args.begin(), std::string(QMX_PG_BIN) + "/" + program);
    if (asServerUser && ::geteuid() == 0) args.insert(args.begin(), {"/usr/sbin/runuser", "-u", "nobody", "--"});
    const CommandResult r = runProgram(args.front(), std::vector<std::string>(args.begin() + 1, args.end()));
    if (r.exitCode != 0) throw std::runtime_error(program + " failed: " + r.err + r.out);
  }
  std::string folder_;
  int databases_ = 0;
};

}  // namespace

std::optional<std::string> databaseFor(std::string_view engine) {
  if (engine != "PostgreSQL") return "";
  if (!*QMX_PG_BIN) return std::nullopt;
  static PgCluster cluster;
  return cluster.newDatabase();
}

}  // namespace qmx::test
