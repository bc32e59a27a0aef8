// Saved transactions reach the server exactly once, however the uploading
// process ends: killed at random moments (the post stored, the file not yet
// deleted), or racing another process that uploads the same folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"
#include "support/server_process.h"
#include "support/temp_root.h"

#if defined(QMX_SERVER_PATH) && defined(QMXHOST_PATH)

namespace qmx {
namespace {

using test::ServerProcess;

// One installation of the server's demo company, data under C:\QMXData\12, with
// `count` transactions saved by the control itself ("n" numbers them).
void prepareMachine(const test::TempRoot& root, int count) {
  root.writeOneInstallation(ServerProcess::kCompanyId);
  root.makeFolder("drive_c/QMXData/12");
  PosixPlatform platform(root.path(), [](const std::string&) {});
  XMLLoad control(platform);
  for (int i = 0; i < count; ++i) {
    // Equal texts under different names are different transactions.
    control.SaveLocal("<xml><rs:data Screen=\"Order\"><z:row n=\"" + std::to_string(i / 2) + "\"/></rs:data></xml>",
                      "t" + std::to_string(i) + ".xml");
  }
}

std::size_t waitingTransactions(const test::TempRoot& root) {
  std::size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root.at("drive_c/QMXData/12/SavedFiles"))) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name.front() != '.') ++n;
  }
  return n;
}

// How many times the server stored each "n".
std::map<int, int> storedCounts(const ServerProcess& server) {
  const test::CommandResult listing = server.command({"list-transactions"});
  std::map<int, int> counts;
  const std::regex number("n=\"([0-9]+)\"");
  std::istringstream lines(listing.out);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_search(line, m, number)) ++counts[std::stoi(m[1])];
  }
  return counts;
}

// Starts qmxhost on the script; its output goes to the given file.
pid_t startHost(const test::TempRoot& root, const std::string& script, const std::string& output) {
  const pid_t pid = fork();
  if (pid == 0) {
    const std::string rootPath = root.path();
    const std::string scriptPath = root.at(script);
    freopen(output.c_str(), "w", stdout);
    execl(QMXHOST_PATH, QMXHOST_PATH, "--root", rootPath.c_str(), scriptPath.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

TEST(UploadOnce, KilledAtRandomMomentsEachTransactionIsStoredOnce) {
  // QMX_KILL_UPLOADS sets a larger run (1000 for the full check); the default keeps the suite quick.
  const char* wanted = std::getenv("QMX_KILL_UPLOADS");
  const int count = wanted ? std::atoi(wanted) : 100;
  ServerProcess server(QMX_SERVER_PATH);
  test::TempRoot root;
  prepareMachine(root, count);
  root.write("upload.qmx", "ServerBase = \"" + server.baseUrl() + "\"\nBackOnline\n");

  // Kill moments scale with how long this machine takes to start qmxhost (much
  // longer under the sanitizers), so that kills land before, during and after posts.
  root.write("start.qmx", "ServerBase = \"" + server.baseUrl() + "\"\n");
  const auto started = std::chrono::steady_clock::now();
  int status = 0;
  waitpid(startHost(root, "start.qmx", root.at("out.txt")), &status, 0);
  const auto startup = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  std::mt19937 random(12345);
  std::uniform_int_distribution<long> delayMs(startup.count() / 2, startup.count() * 3 / 2 + 120);
  int kills = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(wanted ? 30 : 4);
  while (waitingTransactions(root) > 0 && std::chrono::steady_clock::now() < deadline) {
    const pid_t pid = startHost(root, "upload.qmx", root.at("out.txt"));
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
    if (kill(pid, SIGKILL) == 0) ++kills;
    waitpid(pid, &status, 0);
  }
  ASSERT_EQ(waitingTransactions(root), 0u) << "not all uploaded before the deadline";
  // A last run after the kills posts nothing and says nothing.
  waitpid(startHost(root, "upload.qmx", root.at("out.txt")), &status, 0);
  EXPECT_EQ(root.read("out.txt").find("! "), std::string::npos) << root.read("out.txt");

  const std::map<int, int> counts = storedCounts(server);
  int stored = 0;
  for (const auto& [n, times] : counts) stored += times;
  EXPECT_EQ(stored, count) << "after " << kills << " kills";
  for (int n = 0; n < count / 2; ++n) EXPECT_EQ(counts.count(n) ? counts.at(n) : 0, 2) << "n=" << n;
  RecordProperty("kills", kills);
}

TEST(UploadOnce, TwoProcessesAtOnceUploadEachTransactionOnceWithoutErrors) {
  const int count = 60;
  ServerProcess server(QMX_SERVER_PATH);
  test::TempRoot root;
  prepareMachine(root, count);
  root.write("upload.qmx", "ServerBase = \"" + server.baseUrl() + "\"\nBackOnline\n");

  const pid_t first = startHost(root, "upload.qmx", root.at("first.txt"));
  const pid_t second = startHost(root, "upload.qmx", root.at("second.txt"));
  int status = 0;
  waitpid(first, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  waitpid(second, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // No "Error Updating Offline Files" from the one that found the files gone.
  for (const char* output : {"first.txt", "second.txt"}) {
    const std::string printed = root.read(output);
    EXPECT_EQ(printed.find("! "), std::string::npos) << printed;
    EXPECT_NE(printed.find("= Empty"), std::string::npos) << printed;
  }

  EXPECT_EQ(waitingTransactions(root), 0u);
  int stored = 0;
  for (const auto& [n, times] : storedCounts(server)) stored += times;
  EXPECT_EQ(stored, count);
}

}  // namespace
}  // namespace qmx

#endif
