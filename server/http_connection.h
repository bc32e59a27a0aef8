// One client connection: reads requests without holding a thread while bytes trickle
// in, under deadlines, hands each to the pages and writes the reply in one gather
// write.
#pragma once

#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "server/pages.h"

namespace qmx::server {

struct ConnectionLimits {
  std::chrono::seconds idle{5};     // waiting for a request's first byte
  std::chrono::seconds header{10};  // from a request's first byte to the end of its header
  bool log = true;                  // the access log on standard error
};

class HttpConnection;

// The open connections of a service, so that a stop reaches each of them.
class ConnectionSet {
 public:
  // False once stopping: the connection is to be closed at once.
  bool add(const std::shared_ptr<HttpConnection>& connection);
  void remove(const HttpConnection* connection);
  // Closes idle connections and those still reading a header; the others close after
  // their reply.
  void stopAll();

 private:
  std::mutex mutex_;
  std::map<const HttpConnection*, std::weak_ptr<HttpConnection>> open_;
  bool stopping_ = false;
};

// Serves the socket until the client leaves, a deadline passes or the set stops.
void serveConnection(boost::asio::ip::tcp::socket socket, Pages& pages, const ConnectionLimits& limits,
                     ConnectionSet& connections);

}  // namespace qmx::server
