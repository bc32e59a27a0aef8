#include "net/service_connection.h"

namespace qmx {

HttpReply ServiceConnection::send(const HttpRequest& request) {
  if (!session_) {
    session_ = platform_.openHttpSession();
    session_->setLimits(limits_);
    // The handler is looked up at each call, so a handler set later still hears downloads.
    session_->setProgressHandler([this](std::uint64_t received, std::uint64_t total) {
      reportProgress(received, total);
    });
  }
  return session_->send(request);
}

void ServiceConnection::setLimits(const HttpLimits& limits) {
  limits_ = limits;
  if (session_) session_->setLimits(limits);
}

}  // namespace qmx
