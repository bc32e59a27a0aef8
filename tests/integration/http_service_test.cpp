// qmx-server's HTTP side under clients that misbehave or a stop that comes mid-work,
// spoken to over raw sockets so that the bytes and their timing are the test's own.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/server_process.h"

#ifdef QMX_SERVER_PATH

namespace qmx::test {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kDataPage = "GET /data.asp?Time=New&Data=customers.xml&MachineID=7&LocationID=12&CompanyID=" +
                              std::string(ServerProcess::kCompanyId) + "&cucumber=73518 HTTP/1.1\r\nHost: t\r\n";

int connectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Sends a request and reads its reply whole; empty when the connection ends first.
std::string roundTrip(int fd, const std::string& request) {
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return "";
  std::string in;
  char buffer[8192];
  for (;;) {
    const size_t end = in.find("\r\n\r\n");
    if (end != std::string::npos) {
      const size_t length = in.find("Content-Length: ");
      const size_t size = end + 4 + (length < end ? std::stoul(in.substr(length + 16)) : 0);
      if (in.size() >= size) return in.substr(0, size);
    }
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return "";
    in.append(buffer, static_cast<size_t>(n));
  }
}

TEST(HttpService, TricklingHeadersStarveNoOneAndAreClosedAtTheirDeadline) {
  ServerProcess server(QMX_SERVER_PATH, "", true, false, {"--header-timeout", "1", "--quiet"});
  std::vector<int> slow;
  for (int i = 0; i < 200; ++i) slow.push_back(connectTo(server.port()));
  // Each sends its header a byte every 100 ms: it would take some 20 s.
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    for (size_t at = 0; !done && at < kDataPage.size(); ++at) {
      for (const int fd : slow) ::send(fd, &kDataPage[at], 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto asked = Clock::now();
  const int fd = connectTo(server.port());
  const std::string reply = roundTrip(fd, kDataPage + "\r\n");
  EXPECT_LT(Clock::now() - asked, std::chrono::seconds(1));
  EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply;
  EXPECT_NE(reply.find("<z:row"), std::string::npos) << reply;
  ::close(fd);
  // Past the header deadline the server has closed every slow one.
  size_t closed = 0;
  const auto deadline = asked + std::chrono::seconds(5);
  for (const int s : slow) {
    pollfd p{s, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    char byte;
    if (::poll(&p, 1, static_cast<int>(std::max<long long>(0, left))) == 1 && ::recv(s, &byte, 1, 0) <= 0) ++closed;
  }
  done = true;
  trickle.join();
  for (const int s : slow) ::close(s);
  EXPECT_EQ(closed, slow.size());
}

// Uploads with keys "<client>-<n>" over kept-alive connections until the server is
// gone, appending each key answered "Success" to `answered`.
[[noreturn]] void uploadUntilRefused(int port, int client, const std::string& answered) {
  std::ofstream out(answered);
  int fd = -1;
  for (int n = 0;; ++n) {
    if (fd < 0 && (fd = connectTo(port)) < 0) _exit(0);
    const std::string key = std::to_string(client) + "-" + std::to_string(n);
    const std::string body = "<xml><rs:data Screen=\"Order\"><z:row k=\"" + key + "\"/></rs:data></xml>";
    const std::string reply = roundTrip(fd, "POST /processForms.asp?Action=Save&pageID=Drain&CompanyID=" +
                                               std::string(ServerProcess::kCompanyId) +
                                               " HTTP/1.1\r\nHost: t\r\nIdempotency-Key: " + key +
                                               "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    if (reply.find("<status>Success</status>") != std::string::npos) out << key << std::endl;
    if (reply.empty() || reply.find("Connection: close") != std::string::npos) {
      ::close(fd);
      fd = -1;
    }
  }
}

TEST(HttpService, StopSignalFinishesRequestsInFlightSoEveryAnsweredUploadIsStoredOnce) {
  ServerProcess server(QMX_SERVER_PATH, "", true, false, {"--quiet"});
  const std::string folder = ::testing::TempDir();
  std::vector<pid_t> clients;
  for (int client = 0; client < 4; ++client) {
    const std::string answered = folder + "/answered-" + std::to_string(client);
    const pid_t pid = fork();
    if (pid == 0) uploadUntilRefused(server.port(), client, answered);
    clients.push_back(pid);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_EQ(server.stop(), 0);
  std::map<std::string, int> stored;
  const std::regex keyOf("k=\"([0-9]+-[0-9]+)\"");
  std::istringstream lines(server.command({"list-transactions"}).out);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_search(line, m, keyOf)) ++stored[m[1]];
  }
  size_t answered = 0;
  for (int client = 0; client < 4; ++client) {
    int status = 0;
    waitpid(clients[client], &status, 0);
    std::ifstream in(folder + "/answered-" + std::to_string(client));
    for (std::string key; std::getline(in, key); ++answered) EXPECT_EQ(stored[key], 1) << key;
  }
  EXPECT_GT(answered, 0u);
  for (const auto& [key, count] : stored) EXPECT_EQ(count, 1) << key;
}

}  // namespace
}  // namespace qmx::test

#endif  // QMX_SERVER_PATH
