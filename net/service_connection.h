// The control's line to the service: one HTTP session of the platform, opened on
// first use and kept so that connections are reused, with the host's limits and
// its progress handler.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/platform.h"

namespace qmx {

class ServiceConnection {
 public:
  // Called with (done, total) while long work goes on; total is 0 when unknown.
  using ProgressHandler = std::function<void(std::uint64_t done, std::uint64_t total)>;

  explicit ServiceConnection(Platform& platform) : platform_(platform) {}
  ServiceConnection(const ServiceConnection&) = delete;
  ServiceConnection& operator=(const ServiceConnection&) = delete;

  // Sends the request on the session. Throws as HttpSession::send.
  HttpReply send(const HttpRequest& request);

  // Limits of this and every later request.
  void setLimits(const HttpLimits& limits);
  void setProgressHandler(ProgressHandler handler) { progress_ = std::move(handler); }
  // Passes progress to the host's handler, if it has one.
  void reportProgress(std::uint64_t done, std::uint64_t total) const {
    if (progress_) progress_(done, total);
  }
  bool wantsProgress() const { return static_cast<bool>(progress_); }

 private:
  Platform& platform_;
  std::unique_ptr<HttpSession> session_;
  HttpLimits limits_;
  ProgressHandler progress_;
};

}  // namespace qmx
