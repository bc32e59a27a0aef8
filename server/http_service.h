// Serves the pages over HTTP on one address until SIGINT or SIGTERM.
#pragma once

#include <string>

#include "server/pages.h"

namespace qmx::server {

struct ServiceOptions {
  std::string bind = "127.0.0.1";
  int port = 8631;  // 0 picks a free one
  int headerTimeoutSeconds = 10;  // from a request's first byte to the end of its header
  bool accessLog = true;          // one line per request on standard error
};

// Binds, prints "listening on http://HOST:PORT/" on standard output, and serves until
// SIGINT or SIGTERM; then stops accepting, closes idle connections, finishes every
// request whose header has arrived and returns 0. Throws std::runtime_error when the
// address cannot be bound.
int runService(Pages& pages, const ServiceOptions& options);

}  // namespace qmx::server
