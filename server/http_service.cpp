#include "server/http_service.h"

#include <signal.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/executor_work_guard.hpp>

#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "server/http_connection.h"

namespace qmx::server {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// Threads that run the connections and, on them, the pages' blocking database work;
// a connection waiting for bytes holds none. Each thread has an event loop of its own
// and connections are dealt to them in turn: threads sharing one loop spent more time
// waking one another than serving.
constexpr int kThreads = 16;

template <typename Executor>
tcp::acceptor listenOn(asio::io_context& io, const Executor& executor, const std::string& host, int port) {
  const std::string where = port == 0 ? "a port on " + host : host + ":" + std::to_string(port);
  boost::system::error_code ec;
  tcp::resolver resolver(io);
  const auto found = resolver.resolve(host, std::to_string(port), tcp::resolver::passive, ec);
  if (ec || found.empty()) throw std::runtime_error("cannot bind " + where);
  tcp::acceptor acceptor(executor);
  const tcp::endpoint endpoint = found.begin()->endpoint();
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) throw std::runtime_error("cannot bind " + where);
  return acceptor;
}

}  // namespace

int runService(Pages& pages, const ServiceOptions& options) {
  // The listening socket, its retry timer and the signals on a loop of their own, so
  // that accepting never waits for a page.
  asio::io_context io(1);
  // First, so that a stop signal from now on drains rather than kills.
  asio::signal_set signals(io, SIGINT, SIGTERM);
  // A client that goes away while its reply is written must not end the service.
  ::signal(SIGPIPE, SIG_IGN);
  tcp::acceptor acceptor = listenOn(io, io.get_executor(), options.bind, options.port);
  std::cout << "listening on http://" << options.bind << ":" << acceptor.local_endpoint().port() << "/" << std::endl;

  std::vector<std::unique_ptr<asio::io_context>> loops;
  std::vector<asio::executor_work_guard<asio::io_context::executor_type>> keepRunning;
  for (int i = 0; i < kThreads; ++i) {
    loops.push_back(std::make_unique<asio::io_context>(1));
    keepRunning.push_back(asio::make_work_guard(*loops.back()));
  }
  ConnectionLimits limits;
  limits.header = std::chrono::seconds(options.headerTimeoutSeconds);
  limits.log = options.accessLog;
  ConnectionSet connections;
  asio::steady_timer retry(io);
  size_t next = 0;
  std::function<void()> accept = [&] {
    asio::io_context& loop = *loops[next++ % loops.size()];
    acceptor.async_accept(loop, [&](boost::system::error_code ec, tcp::socket socket) {
      if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
      if (!ec) {
        serveConnection(std::move(socket), pages, limits, connections);
        return accept();
      }
      // Out of descriptors, most likely: try again shortly rather than spin.
      retry.expires_after(std::chrono::milliseconds(50));
      retry.async_wait([&](boost::system::error_code) { if (acceptor.is_open()) accept(); });
    });
  };
  accept();
  signals.async_wait([&](boost::system::error_code ec, int) {
    if (ec) return;
    boost::system::error_code ignored;
    acceptor.close(ignored);
    retry.cancel();
    connections.stopAll();
    // Each loop ends once its last connection has closed.
    for (auto& guard : keepRunning) guard.reset();
  });

  std::vector<std::thread> threads;
  for (auto& loop : loops) threads.emplace_back([&loop] { loop->run(); });
  io.run();
  for (auto& thread : threads) thread.join();
  return 0;
}

}  // namespace qmx::server
