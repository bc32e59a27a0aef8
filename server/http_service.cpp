#include "server/http_service.h"

#include <signal.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <functional>
#include <iostream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "server/http_connection.h"

namespace qmx::server {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// Threads that run the connections and, on them, the pages' blocking database work;
// a connection waiting for bytes holds none.
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
  asio::io_context io(kThreads);
  // The listening socket, its retry timer and the signals share a strand, so that a
  // stop never races an accept.
  const auto acceptorStrand = asio::make_strand(io);
  // First, so that a stop signal from now on drains rather than kills.
  asio::signal_set signals(acceptorStrand, SIGINT, SIGTERM);
  // A client that goes away while its reply is written must not end the service.
  ::signal(SIGPIPE, SIG_IGN);
  tcp::acceptor acceptor = listenOn(io, acceptorStrand, options.bind, options.port);
  std::cout << "listening on http://" << options.bind << ":" << acceptor.local_endpoint().port() << "/" << std::endl;

  ConnectionLimits limits;
  limits.header = std::chrono::seconds(options.headerTimeoutSeconds);
  limits.log = options.accessLog;
  ConnectionSet connections;
  asio::steady_timer retry(acceptorStrand);
  std::function<void()> accept = [&] {
    // Each connection on a strand of its own: its reads, writes and deadline never overlap.
    acceptor.async_accept(asio::make_strand(io), [&](boost::system::error_code ec, tcp::socket socket) {
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
  });

  // The service ends when the last connection has closed after the stop.
  std::vector<std::thread> threads;
  for (int i = 1; i < kThreads; ++i) threads.emplace_back([&] { io.run(); });
  io.run();
  for (auto& thread : threads) thread.join();
  return 0;
}

}  // namespace qmx::server
