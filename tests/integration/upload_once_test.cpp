// Saved transactions reach the server exactly once, however the uploading
// process ends: killed at random moments (the post stored, the file not yet
// deleted), or racing another process that uploads the same folder; and however
// the service's instances on one PostgreSQL database end.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <deque>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"
#include "support/pg_cluster.h"
#include "support/server_process.h"
#include "support/temp_root.h"

#if defined(QMX_SERVER_PATH) && defined(QMXHOST_PATH)

namespace qmx {
namespace {

// The server's demo company on a machine with data under C:\QMXData\12 and
// `count` transactions saved by the control itself ("n" numbers them from
// `first`), and a script that uploads them.
struct Machine {
  test::TempRoot root;
  Machine(int count, const std::string& serverBase, int first = 0) {
    root.writeOneInstallation(test::ServerProcess::kCompanyId);
    root.makeFolder("drive_c/QMXData/12");
    PosixPlatform platform(root.path(), [](const std::string&) {});
    XMLLoad control(platform);
    for (int i = 0; i < count; ++i) {
      // Equal texts under different names are different transactions.
      control.SaveLocal("<xml><rs:data Screen=\"Order\"><z:row n=\"" + std::to_string(first + i / 2) +
                            "\" s=\"Caf\xC3\xA9\"/></rs:data></xml>",
                        "t" + std::to_string(i) + ".xml");
    }
    root.write("upload.qmx", "ServerBase = \"" + serverBase + "\"\nBackOnline\n");
  }

  std::size_t waiting() const {
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root.at("drive_c/QMXData/12/SavedFiles"))) {
      if (entry.is_regular_file() && entry.path().filename().string().front() != '.') ++n;
    }
    return n;
  }

  // Starts qmxhost on a script below the root; its output goes to a file there.
  pid_t start(const std::string& script, const std::string& output) const {
    const std::string rootPath = root.path(), scriptPath = root.at(script), outPath = root.at(output);
    const pid_t pid = fork();
    if (pid == 0) {
      freopen(outPath.c_str(), "w", stdout);
      execl(QMXHOST_PATH, QMXHOST_PATH, "--root", rootPath.c_str(), scriptPath.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }
};

// Each "n" of each machine (numbered from 1000 times its index) was stored twice,
// once for each of its two names, with its accent as UTF-8, and nothing else was.
void expectEachStoredOnce(const test::ServerProcess& server, int count, int machines = 1) {
  std::map<int, int> counts;
  const std::regex number("\tOrder\t.*n=\"([0-9]+)\" s=\"Caf\xC3\xA9\"");
  std::istringstream lines(server.command({"list-transactions"}).out);
  int stored = 0;
  for (std::string line; std::getline(lines, line); ++stored) {
    std::smatch m;
    if (std::regex_search(line, m, number)) ++counts[std::stoi(m[1])];
  }
  EXPECT_EQ(stored, count * machines);
  for (int machine = 0; machine < machines; ++machine) {
    for (int n = 0; n < count / 2; ++n) EXPECT_EQ(counts[machine * 1000 + n], 2) << "n=" << machine * 1000 + n;
  }
}

TEST(UploadOnce, KilledAtRandomMomentsEachTransactionIsStoredOnce) {
  // QMX_KILL_UPLOADS sets a long run (1000 transactions, killed until all are up,
  // for the full check); by default 20 kills, then a last run uploads the rest.
  const char* wanted = std::getenv("QMX_KILL_UPLOADS");
  const int count = wanted ? std::atoi(wanted) : 100;
  const int maxKills = wanted ? count * 10 : 20;
  test::ServerProcess server(QMX_SERVER_PATH);
  Machine machine(count, server.baseUrl());

  // Kill moments scale with how long this machine takes to start qmxhost (much
  // longer under the sanitizers), so that kills land before, during and after posts.
  machine.root.write("start.qmx", "ServerBase = \"" + server.baseUrl() + "\"\n");
  const auto started = std::chrono::steady_clock::now();
  int status = 0;
  waitpid(machine.start("start.qmx", "out.txt"), &status, 0);
  const auto startup = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  std::mt19937 random(12345);
  std::uniform_int_distribution<long> delayMs(startup.count() / 2, startup.count() * 3 / 2 + 120);
  int kills = 0;
  while (machine.waiting() > 0 && kills < maxKills) {
    const pid_t pid = machine.start("upload.qmx", "out.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
    if (kill(pid, SIGKILL) == 0) ++kills;
    waitpid(pid, &status, 0);
  }
  // A last run after the kills posts what is left and says nothing.
  waitpid(machine.start("upload.qmx", "out.txt"), &status, 0);
  EXPECT_EQ(machine.root.read("out.txt").find("! "), std::string::npos) << machine.root.read("out.txt");
  ASSERT_EQ(machine.waiting(), 0u);
  expectEachStoredOnce(server, count);
  RecordProperty("kills", kills);
}

TEST(UploadOnce, TwoProcessesAtOnceUploadEachTransactionOnceWithoutErrors) {
  test::ServerProcess server(QMX_SERVER_PATH);
  Machine machine(60, server.baseUrl());
  const pid_t first = machine.start("upload.qmx", "first.txt");
  const pid_t second = machine.start("upload.qmx", "second.txt");
  for (const pid_t pid : {first, second}) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // No "Error Updating Offline Files" from the one that found the files gone.
  for (const char* output : {"first.txt", "second.txt"}) {
    const std::string printed = machine.root.read(output);
    EXPECT_EQ(printed.find("! "), std::string::npos) << printed;
    EXPECT_NE(printed.find("= Empty"), std::string::npos) << printed;
  }
  EXPECT_EQ(machine.waiting(), 0u);
  expectEachStoredOnce(server, 60);
}

TEST(UploadOnce, PostgreSQLTwoInstancesKilledAndRestartedStoreEachTransactionOnce) {
  const auto db = test::databaseFor("PostgreSQL");
  if (!db) GTEST_SKIP() << test::kNoPostgres;
  test::ServerProcess a(QMX_SERVER_PATH, *db, true), b(QMX_SERVER_PATH, *db, false);
  std::deque<Machine> machines;
  for (int m = 0; m < 4; ++m) {
    machines.emplace_back(40, a.baseUrl(), m * 1000).root.write("b.qmx", "ServerBase = \"" + b.baseUrl() + "\"\nBackOnline\n");
  }
  const auto waiting = [&] { return std::any_of(machines.begin(), machines.end(), [](auto& m) { return m.waiting(); }); };
  std::mt19937 random(4242);
  std::uniform_int_distribution<int> delayMs(20, 400);
  // Four clients at a time, each round on the other instance than the last, so that
  // a post cut off by a kill (of an instance, or of a client after its post was
  // stored) is repeated to the other instance.
  for (int round = 0; round < 40 && waiting(); ++round) {
    std::vector<pid_t> clients;
    for (int m = 0; m < 4; ++m) clients.push_back(machines[m].start((m + round) % 2 ? "b.qmx" : "upload.qmx", "out.txt"));
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
    (random() % 2 ? b : a).killAndRestart();
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random) / 4));
    kill(clients[random() % 4], SIGKILL);
    for (const pid_t pid : clients) waitpid(pid, nullptr, 0);
  }
  for (auto& m : machines) {
    waitpid(m.start("b.qmx", "out.txt"), nullptr, 0);
    EXPECT_EQ(m.root.read("out.txt").find("! "), std::string::npos) << m.root.read("out.txt");
  }
  ASSERT_FALSE(waiting());
  expectEachStoredOnce(a, 40, 4);
}

}  // namespace
}  // namespace qmx

#endif
