// Uploading saved transactions end to end: BackOnline in this process posts 1,000
// transactions through the control's own HTTP session on one keep-alive
// connection, once to qmx-server (which stores each on disk before answering) and
// once to a minimal server here that answers "Success" at once. Prints the ratio of
// the two times: what qmx-server adds to the control's own work.
#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "best_time.h"
#include "machine.h"
#include "http_load.h"
#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"
#include "support/server_process.h"
#include "support/temp_root.h"

namespace {

constexpr int kTransactions = 1000;
constexpr int kRuns = 3;
constexpr double kTarget = 3;

// Answers every post with the success envelope at once, on connections kept open.
class MinimalServer {
 public:
  MinimalServer() {
    server_.set_tcp_nodelay(true);
    server_.set_keep_alive_max_count(1000000);
    server_.Post(".*", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<xml><status>Success</status></xml>", "text/xml; charset=utf-8");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ < 0) throw std::runtime_error("cannot bind a loopback port");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~MinimalServer() {
    server_.stop();
    thread_.join();
  }
  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  httplib::Server server_;
  int port_ = -1;
  std::thread thread_;
};

// A machine with one installation of the demo company, data under C:\QMXData\12.
void prepareMachine(const qmx::test::TempRoot& root) {
  root.writeOneInstallation(qmx::test::ServerProcess::kCompanyId);
  root.makeFolder("drive_c/QMXData/12");
}

std::size_t waitingTransactions(const qmx::test::TempRoot& root) {
  std::size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root.at("drive_c/QMXData/12/SavedFiles"))) {
    if (entry.is_regular_file() && entry.path().filename().string().front() != '.') ++n;
  }
  return n;
}

// Seconds for BackOnline over kTransactions saved transactions, best of `runs`.
double uploadSeconds(const qmx::test::TempRoot& root, const std::string& serverBase, int runs) {
  std::vector<std::string> messages;
  qmx::PosixPlatform platform(root.path(), [&](const std::string& text) { messages.push_back(text); });
  qmx::XMLLoad control(platform);
  control.put_ServerBase(serverBase);
  const double best = qmx::bench::bestSeconds(
      runs, [&] { control.BackOnline(); },
      [&] {
        for (int i = 0; i < kTransactions; ++i) {
          control.SaveLocal("<xml><rs:data Screen=\"Order\"><z:row n=\"" + std::to_string(i) + "\"/></rs:data></xml>",
                            "t" + std::to_string(i) + ".xml");
        }
      });
  if (!messages.empty()) throw std::runtime_error("BackOnline said: " + messages.front());
  if (waitingTransactions(root) != 0) throw std::runtime_error("transactions left after BackOnline");
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  qmx::bench::printMachine();
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : kRuns;
  qmx::test::ServerProcess server(qmx::bench::serverProgram());
  MinimalServer minimal;
  qmx::test::TempRoot root;
  prepareMachine(root);

  // Interleaved one run at a time, so a busy moment on the machine hits both alike.
  double service = 1e99;
  double reference = 1e99;
  for (int run = 0; run < runs; ++run) {
    service = std::min(service, uploadSeconds(root, server.baseUrl(), 1));
    reference = std::min(reference, uploadSeconds(root, minimal.baseUrl(), 1));
  }
  const double ratio = service / reference;
  std::printf("1,000 uploads on one keep-alive connection, qmx-server over a minimal server: %.1f (target: at most %.0f)\n",
              ratio, kTarget);
  std::printf("  qmx-server %.0f uploads/s, minimal server %.0f uploads/s\n", kTransactions / service,
              kTransactions / reference);
  return ratio <= kTarget ? 0 : 1;
}
