#include "server/http_service.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <stdexcept>
#include <thread>

namespace qmx::server {

namespace {

constexpr size_t kMaxBody = 64u * 1024 * 1024;

void answer(Pages& pages, bool verbose, const httplib::Request& req, httplib::Response& res) {
  PageRequest request;
  request.path = req.path;
  // The raw target, not httplib's parsed parameters: those turn "+" into a space.
  const auto mark = req.target.find('?');
  if (mark != std::string::npos) request.rawQuery = req.target.substr(mark + 1);
  request.body = req.body;
  // A key is a short token of visible ASCII; anything else is taken as no key.
  const std::string key = req.get_header_value("Idempotency-Key");
  const bool visible = std::all_of(key.begin(), key.end(), [](char c) { return c > 0x20 && c < 0x7F; });
  if (key.size() <= 200 && visible) request.idempotencyKey = key;
  const PageReply reply = pages.handle(request);
  res.status = reply.httpStatus;
  res.set_content(reply.body, "text/xml; charset=utf-8");
  if (verbose) std::cerr << req.method << " " << req.target << " -> " << reply.httpStatus << std::endl;
}

}  // namespace

int runService(Pages& pages, const ServiceOptions& options) {
  // Block the stop signals before any thread starts, so that only the waiter below
  // receives them and the request threads are never interrupted.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  httplib::Server server;
  server.set_payload_max_length(kMaxBody);
  const auto handler = [&](const httplib::Request& req, httplib::Response& res) {
    answer(pages, options.verbose, req, res);
  };
  server.Get(".*", handler);
  server.Post(".*", handler);

  int port = options.port;
  if (port == 0) {
    port = server.bind_to_any_port(options.bind);
    if (port < 0) throw std::runtime_error("cannot bind a port on " + options.bind);
  } else if (!server.bind_to_port(options.bind, port)) {
    throw std::runtime_error("cannot bind " + options.bind + ":" + std::to_string(port));
  }
  std::cout << "listening on http://" << options.bind << ":" << port << "/" << std::endl;

  std::atomic<bool> listenDone{false};
  std::atomic<bool> stopRequested{false};
  std::thread waiter([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    if (listenDone) return;
    stopRequested = true;
    // The signal may come before the accept loop has started, when stop() has
    // nothing to stop yet; keep asking until the loop has ended.
    while (!listenDone) {
      server.stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });

  const bool clean = server.listen_after_bind();
  listenDone = true;
  if (!stopRequested) pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return stopRequested || clean ? 0 : 1;
}

}  // namespace qmx::server
