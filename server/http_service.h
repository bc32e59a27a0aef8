// Serves the pages over HTTP on one address until SIGINT or SIGTERM.
#pragma once

#include <string>

#include "server/pages.h"

namespace qmx::server {

struct ServiceOptions {
  std::string bind = "127.0.0.1";
  int port = 8631;  // 0 picks a free port
  bool verbose = false;
};

// Binds, prints "listening on http://HOST:PORT/" on standard output, and serves until
// SIGINT or SIGTERM. Returns 0 after such a stop; throws std::runtime_error when the
// address cannot be bound.
int runService(Pages& pages, const ServiceOptions& options);

}  // namespace qmx::server
