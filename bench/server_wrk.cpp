// qmx-server under load from wrk, a tool this project did not write: the demo's
// 12-row data page and uploads of one transaction each, with 2 threads and 8
// keep-alive connections, against the server under test and, when
// QMX_REFERENCE_SERVER names one, an earlier build started beside it in the same
// run (each over its own demo database, logging every request to a file as in
// production). Interleaved rounds, the best of each figure. Prints requests per
// second and the 99th percentile latency of each, and new over reference. Fails
// when wrk saw an error or a non-2xx reply, or when the stored uploads do not
// match what wrk answered and sent.
#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "http_load.h"
#include "machine.h"
#include "support/server_process.h"

namespace {

constexpr int kRounds = 3;
constexpr const char* kLoad[] = {"-t2", "-c8", "-d5s", "--latency"};
// Requests per second of the server under test over the reference's.
constexpr double kTarget = 0.9;

const std::string kDataPage = std::string("/data.asp?Time=New&Data=customers.xml&MachineID=7&LocationID=12&CompanyID=") +
                              qmx::test::ServerProcess::kCompanyId + "&cucumber=73518";

std::string wrkProgram() {
  const char* other = std::getenv("QMX_WRK");
  return other && *other ? other : "/usr/bin/wrk";
}

struct WrkRun {
  double perSecond = 0;
  double p99Ms = 0;
  long answered = 0;
  long sent = 0;  // uploads only: requests written, answered or not
  std::string errors;  // wrk's error lines, empty when none
};

double milliseconds(double value, const std::string& unit) {
  if (unit == "us") return value / 1000;
  if (unit == "ms") return value;
  if (unit == "s") return value * 1000;
  if (unit == "m") return value * 60000;
  return value * 3600000;  // "h"
}

// Reads wrk's report; throws when a figure is missing, so a changed format is not
// taken for zero.
WrkRun parse(const std::string& out) {
  WrkRun run;
  std::smatch m;
  if (!std::regex_search(out, m, std::regex(R"(Requests/sec:\s+([0-9.]+))"))) throw std::runtime_error("wrk: " + out);
  run.perSecond = std::stod(m[1]);
  if (!std::regex_search(out, m, std::regex(R"(\n\s+99%\s+([0-9.]+)(us|ms|s|m|h)\b)"))) {
    throw std::runtime_error("wrk printed no 99% latency: " + out);
  }
  run.p99Ms = milliseconds(std::stod(m[1]), m[2]);
  if (!std::regex_search(out, m, std::regex(R"(\n\s+(\d+) requests in )"))) throw std::runtime_error("wrk: " + out);
  run.answered = std::stol(m[1]);
  if (std::regex_search(out, m, std::regex(R"(posts sent: (\d+))"))) run.sent = std::stol(m[1]);
  for (const char* line : {R"(Socket errors:[^\n]*)", R"(Non-2xx or 3xx responses:[^\n]*)"}) {
    if (std::regex_search(out, m, std::regex(line))) run.errors.append(" ").append(m[0].str()).append(";");
  }
  return run;
}

struct Server {
  // Started over a demo database of its own, its log on (--verbose: the reference logs
  // only with it, the server under test takes it as its default), standard error to a
  // file in the server's temporary folder.
  Server(const char* n, const std::string& program)
      : name(n), process(std::make_unique<qmx::test::ServerProcess>(program, true)) {}
  const char* name;
  std::unique_ptr<qmx::test::ServerProcess> process;
  WrkRun dataPage, uploads;  // the best of the rounds
  long answeredPosts = 0, sentPosts = 0;
  std::string errors;
};

WrkRun runWrk(Server& server, bool upload, int round) {
  const std::string base = "http://127.0.0.1:" + std::to_string(server.process->port());
  std::vector<std::string> args(std::begin(kLoad), std::end(kLoad));
  if (upload) {
    // Keys carry the round: the database keeps the earlier rounds' posts.
    args.insert(args.end(), {"-s", QMX_WRK_UPLOAD_SCRIPT, base + "/", "--", std::to_string(round)});
  } else {
    args.push_back(base + kDataPage);
  }
  const qmx::test::CommandResult result = qmx::test::runProgram(wrkProgram(), args);
  if (result.exitCode != 0) throw std::runtime_error("wrk failed: " + result.err + result.out);
  WrkRun run = parse(result.out);
  if (upload && run.sent < run.answered) throw std::runtime_error("wrk's upload script counted no posts: " + result.out);
  return run;
}

void keepBest(WrkRun& best, const WrkRun& run) {
  best.perSecond = std::max(best.perSecond, run.perSecond);
  best.p99Ms = best.p99Ms == 0 ? run.p99Ms : std::min(best.p99Ms, run.p99Ms);
}

// A data page that is not the whole set would make the figures meaningless.
void checkDataPage(const Server& server) {
  httplib::Client client("127.0.0.1", server.process->port());
  const auto reply = client.Get(kDataPage.c_str());
  if (!reply || reply->status != 200 || reply->body.find("iKey=\"12\"") == std::string::npos) {
    throw std::runtime_error(std::string(server.name) + ": the data page is not the whole data set");
  }
}

long storedTransactions(const Server& server) {
  const qmx::test::CommandResult list = server.process->command({"list-transactions"});
  if (list.exitCode != 0) throw std::runtime_error(std::string(server.name) + ": list-transactions failed: " + list.err);
  return std::count(list.out.begin(), list.out.end(), '\n');
}

}  // namespace

int main(int argc, char** argv) try {
  qmx::bench::printMachine();
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : kRounds;
  if (!std::filesystem::exists(wrkProgram())) {
    std::fprintf(stderr, "%s not found: install Debian's wrk (scripts/deps) or name it in QMX_WRK\n",
                 wrkProgram().c_str());
    return 1;
  }
  std::vector<Server> servers;
  servers.emplace_back("new", qmx::bench::serverProgram());
  const char* reference = std::getenv("QMX_REFERENCE_SERVER");
  if (reference && *reference) {
    servers.emplace_back("reference", reference);
  }
  for (const Server& s : servers) checkDataPage(s);

  for (int round = 0; round < rounds; ++round) {
    for (const bool upload : {false, true}) {
      // Each server goes first in every other round, so neither always meets a
      // machine still busy with the other's run.
      for (std::size_t i = 0; i < servers.size(); ++i) {
        Server& s = servers[(i + round) % servers.size()];
        const WrkRun run = runWrk(s, upload, round);
        keepBest(upload ? s.uploads : s.dataPage, run);
        if (upload) {
          s.answeredPosts += run.answered;
          s.sentPosts += run.sent;
        }
        if (!run.errors.empty()) {
          s.errors.append("\n    ").append(upload ? "uploads" : "data page").append(", round ");
          s.errors.append(std::to_string(round + 1)).append(":").append(run.errors);
        }
      }
    }
  }

  std::printf("wrk %s %s %s %s, best of %d interleaved rounds, every request logged to a file\n", kLoad[0], kLoad[1],
              kLoad[2], kLoad[3], rounds);
  bool ok = true;
  for (const bool upload : {false, true}) {
    std::printf("%s:\n", upload ? "uploads (one transaction each, a key of its own)" : "data page (12 rows)");
    for (const Server& s : servers) {
      const WrkRun& r = upload ? s.uploads : s.dataPage;
      std::printf("  %-9s %9.0f req/s, p99 %8.2f ms\n", s.name, r.perSecond, r.p99Ms);
    }
    if (servers.size() == 2) {
      const WrkRun& n = upload ? servers[0].uploads : servers[0].dataPage;
      const WrkRun& o = upload ? servers[1].uploads : servers[1].dataPage;
      const double ratio = n.perSecond / o.perSecond;
      std::printf("  new/reference: req/s %.2f (higher is better; target: at least %.1f), p99 %.2f (lower is better)\n",
                  ratio, kTarget, n.p99Ms / o.p99Ms);
      ok = ok && ratio >= kTarget;
    }
  }
  // Every answered upload is stored, and nothing beyond what was sent: posts still
  // under way when wrk stopped may or may not have been.
  for (const Server& s : servers) {
    const long stored = storedTransactions(s);
    std::printf("%s: %ld uploads stored, %ld answered, %ld sent\n", s.name, stored, s.answeredPosts, s.sentPosts);
    if (stored < s.answeredPosts || stored > s.sentPosts) {
      std::printf("  FAILED: the stored uploads do not match what wrk answered and sent\n");
      ok = false;
    }
    if (!s.errors.empty()) {
      std::printf("  FAILED: wrk reported errors:%s\n", s.errors.c_str());
      ok = false;
    }
  }
  qmx::bench::printLoad();
  return ok ? 0 : 1;
} catch (const std::exception& e) {
  std::fprintf(stderr, "bench_server_wrk: %s\n", e.what());
  return 1;
}
