// Load for the server benchmarks: concurrent keep-alive HTTP clients on loopback,
// each in its own thread, counting the replies that came back whole.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qmx::bench {

// The qmx-server program to measure: QMX_SERVER from the environment (to compare
// another build), else the one built beside the benchmark.
inline std::string serverProgram() {
  const char* other = std::getenv("QMX_SERVER");
  return other && *other ? other : QMX_SERVER_PATH;
}

struct LoadResult {
  long replies = 0;
  double seconds = 0;
  double perSecond() const { return seconds > 0 ? replies / seconds : 0; }
};

// `clients` threads, each with its own connection, sending GET `target` (or, with a
// body, POST it under an Idempotency-Key of its own each time) to 127.0.0.1:port back
// to back until `duration` has passed (a reply under way then is still waited for and
// counted). `check` sees every reply body and returns false for a wrong one, which
// ends the run with std::runtime_error, as does a transport failure.
inline LoadResult runClients(int port, const std::string& target, int clients, std::chrono::duration<double> duration, bool keepAlive,
                             const std::function<bool(const std::string&)>& check, const std::string& body = "") {
  static std::atomic<long> posts{0};
  const std::string keyPrefix = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-";
  std::atomic<long> replies{0};
  std::atomic<bool> failed{false};
  std::string failure;
  std::mutex failureMutex;
  std::vector<std::thread> threads;
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(duration);
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(keepAlive);
      client.set_tcp_nodelay(true);
      client.set_read_timeout(60, 0);
      while (!failed && std::chrono::steady_clock::now() < deadline) {
        const auto res = body.empty() ? client.Get(target.c_str())
                                      : client.Post(target.c_str(), {{"Idempotency-Key", keyPrefix + std::to_string(++posts)}},
                                                    body, "text/xml");
        if (!res || res->status != 200 || !check(res->body)) {
          std::lock_guard lock(failureMutex);
          failure = res ? "HTTP " + std::to_string(res->status) + ": " + res->body.substr(0, 200)
                        : "transport error " + httplib::to_string(res.error());
          failed = true;
          return;
        }
        ++replies;
      }
    });
  }
  for (auto& t : threads) t.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (failed) throw std::runtime_error("request failed: " + failure);
  return {replies.load(), seconds};
}

}  // namespace qmx::bench
