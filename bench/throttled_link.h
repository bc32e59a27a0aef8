// A slow link on loopback for the benchmarks: a TCP relay from a port of its own
// to a local server that lets about `bytesPerSecond` through each way of each
// connection, and counts the bytes it carried each way.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qmx::bench {

class ThrottledLink {
 public:
  ThrottledLink(int serverPort, double bytesPerSecond) : serverPort_(serverPort), rate_(bytesPerSecond) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at = loopback(0);
    socklen_t len = sizeof at;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &len) != 0)
      throw std::runtime_error("the link cannot listen on loopback");
    port_ = ntohs(at.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~ThrottledLink() {
    stop_ = true;
    acceptor_.join();
    {
      // Wakes the relays blocked in a read.
      std::lock_guard lock(mutex_);
      for (int fd : sockets_) ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : relays_) t.join();
    for (int fd : sockets_) ::close(fd);
    ::close(listener_);
  }
  ThrottledLink(const ThrottledLink&) = delete;
  ThrottledLink& operator=(const ThrottledLink&) = delete;

  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  // Bytes carried since the last reset: requests (to the server) and replies.
  std::uint64_t toServer() const { return toServer_; }
  std::uint64_t toClient() const { return toClient_; }
  void resetCounts() { toServer_ = toClient_ = 0; }

 private:
  static sockaddr_in loopback(int port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    return at;
  }

  void acceptLoop() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      const int server = ::socket(AF_INET, SOCK_STREAM, 0);
      const sockaddr_in to = loopback(serverPort_);
      if (server < 0 || ::connect(server, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        ::close(client);
        if (server >= 0) ::close(server);
        continue;
      }
      std::lock_guard lock(mutex_);
      sockets_.push_back(client);
      sockets_.push_back(server);
      relays_.emplace_back([this, client, server] { relay(client, server, toServer_); });
      relays_.emplace_back([this, client, server] { relay(server, client, toClient_); });
    }
  }

  // Copies one direction at the link's rate: a burst after a quiet spell goes
  // no faster than a steady stream.
  void relay(int from, int to, std::atomic<std::uint64_t>& count) {
    using Clock = std::chrono::steady_clock;
    char buffer[8192];
    auto next = Clock::now();
    for (;;) {
      const ssize_t n = ::read(from, buffer, sizeof buffer);
      if (n <= 0) break;
      next = std::max(next, Clock::now()) +
             std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(n / rate_));
      std::this_thread::sleep_until(next);
      for (ssize_t sent = 0; sent < n;) {
        const ssize_t w = ::send(to, buffer + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
        if (w <= 0) return;
        sent += w;
      }
      count += static_cast<std::uint64_t>(n);
    }
    ::shutdown(to, SHUT_WR);
  }

  int serverPort_;
  double rate_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> toServer_{0}, toClient_{0};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<int> sockets_;
  std::vector<std::thread> relays_;
};

}  // namespace qmx::bench
