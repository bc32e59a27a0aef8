#include "support/pg_cluster.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "support/server_process.h"

namespace qmx::test {

namespace fs = std::filesystem;

std::optional<std::string> databaseFor(std::string_view engine) {
  if (engine != "PostgreSQL") return "";
  PgCluster* cluster = PgCluster::shared();
  if (!cluster) return std::nullopt;
  return cluster->newDatabase();
}

PgCluster* PgCluster::shared() {
  static const std::unique_ptr<PgCluster> cluster = [] {
    // The newest installed server's programs.
    std::string bin = std::getenv("QMX_PG_BIN") ? std::getenv("QMX_PG_BIN") : "";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
      const std::string found = (entry.path() / "bin").string();
      if (!std::getenv("QMX_PG_BIN") && fs::exists(found + "/initdb") && found > bin) bin = found;
    }
    return bin.empty() ? nullptr : std::make_unique<PgCluster>(bin);
  }();
  return cluster.get();
}

PgCluster::PgCluster(std::string bin) : bin_(std::move(bin)) {
  std::string tmpl = (fs::temp_directory_path() / "qmxpg.XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  folder_ = tmpl;
  if (::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || ::chown(folder_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) throw std::runtime_error("chown failed");
  }
  run(bin_ + "/initdb", {"-D", folder_ + "/data", "-A", "trust", "-U", "qmx", "-E", "UTF8", "--locale=C", "--no-sync"},
      true);
  run(bin_ + "/pg_ctl",
      {"-D", folder_ + "/data", "-l", folder_ + "/log", "-w", "-o",
       "-c listen_addresses='' -c unix_socket_directories=" + folder_ + " -c fsync=on -c synchronous_commit=on",
       "start"},
      true);
}

PgCluster::~PgCluster() {
  try {
    run(bin_ + "/pg_ctl", {"-D", folder_ + "/data", "-m", "immediate", "stop"}, true);
  } catch (const std::exception&) {  // gone already
  }
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

void PgCluster::run(const std::string& program, std::vector<std::string> args, bool asServerUser) const {
  std::string runner = program;
  if (asServerUser && ::geteuid() == 0) {
    args.insert(args.begin(), {"-u", "nobody", "--", program});
    runner = "/usr/sbin/runuser";
  }
  const CommandResult r = runProgram(runner, args);
  if (r.exitCode != 0) throw std::runtime_error(program + " failed: " + r.err + r.out);
}

std::string PgCluster::newDatabase() {
  const std::string name = "qmx" + std::to_string(++databases_);
  run(bin_ + "/createdb", {"-h", folder_, "-U", "qmx", name});
  return "host=" + folder_ + " dbname=" + name + " user=qmx";
}

void PgCluster::sql(const std::string& conninfo, const std::string& statement) const {
  run(bin_ + "/psql", {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", conninfo, "-c", statement});
}

}  // namespace qmx::test
