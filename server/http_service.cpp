#include "server/http_service.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "server/query.h"

namespace qmx::server {

namespace {

constexpr size_t kMaxBody = 64u * 1024 * 1024;
// Request threads. A kept-alive connection holds one while it waits for its next
// request, but gives it up as soon as a new connection is waiting for one.
constexpr size_t kThreads = 16;
// A client such as BackOnline sends a request after another for as long as it has
// work; the connection stays open until it has been idle this long.
constexpr time_t kKeepAliveSeconds = 5;
constexpr size_t kKeepAliveRequests = 100000;
// Written replies are held back up to this size, so that a reply's header and body
// leave in one segment; a larger body goes out with the held part in one call.
constexpr size_t kHoldBack = 64 * 1024;

// The request threads, counting the connections that wait for one.
class RequestThreads : public httplib::TaskQueue {
 public:
  explicit RequestThreads(size_t count) : pool_(count) {}
  void enqueue(std::function<void()> fn) override {
    ++waiting_;
    pool_.enqueue([this, fn = std::move(fn)] {
      --waiting_;
      fn();
    });
  }
  void shutdown() override { pool_.shutdown(); }
  static bool someoneWaiting() { return waiting_ > 0; }

 private:
  httplib::ThreadPool pool_;
  // One service a process: static, so that a connection can ask without a pointer.
  static inline std::atomic<int> waiting_{0};
};

// One connection's stream: reads through a buffer, and holds written bytes back
// until the reply is complete, so that every reply goes out in one send. Without
// that, a reply's second small send waits for the client's delayed acknowledgement
// of the first (some 40 ms) on every request after the first of a connection.
class ReplyStream final : public httplib::Stream {
 public:
  ReplyStream(int sock, time_t readSec, time_t readUsec) : sock_(sock), readTimeoutMs_(readSec * 1000 + readUsec / 1000) {
    addressOf(getpeername, remoteIp_, remotePort_);
    addressOf(getsockname, localIp_, localPort_);
  }

  bool is_readable() const override { return readOff_ < readEnd_ || waitFor(POLLIN, readTimeoutMs_); }
  bool is_writable() const override { return true; }

  ssize_t read(char* ptr, size_t size) override {
    // An interim reply ("100 Continue") must reach the client before its body can come.
    if (!held_.empty() && !flush()) return -1;
    if (readOff_ == readEnd_) {
      if (!waitFor(POLLIN, readTimeoutMs_)) return -1;
      ssize_t n;
      do {
        n = ::recv(sock_, readBuffer_, sizeof readBuffer_, 0);
      } while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      readOff_ = 0;
      readEnd_ = static_cast<size_t>(n);
    }
    const size_t count = std::min(size, readEnd_ - readOff_);
    std::memcpy(ptr, readBuffer_ + readOff_, count);
    readOff_ += count;
    return static_cast<ssize_t>(count);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (held_.size() + size <= kHoldBack) {
      held_.append(ptr, size);
      return static_cast<ssize_t>(size);
    }
    iovec parts[2] = {{held_.data(), held_.size()}, {const_cast<char*>(ptr), size}};
    if (!sendAll(parts, 2)) return -1;
    held_.clear();
    return static_cast<ssize_t>(size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = remoteIp_;
    port = remotePort_;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = localIp_;
    port = localPort_;
  }
  int socket() const override { return sock_; }

  // Sends what is held back. Returns false when the connection failed.
  bool flush() {
    if (held_.empty()) return true;
    iovec part{held_.data(), held_.size()};
    const bool sent = sendAll(&part, 1);
    held_.clear();
    return sent;
  }

  // True when the next request's bytes have already been read.
  bool hasBufferedInput() const { return readOff_ < readEnd_; }

 private:
  bool waitFor(short events, long timeoutMs) const {
    pollfd p{sock_, events, 0};
    int rc;
    do {
      rc = ::poll(&p, 1, static_cast<int>(timeoutMs));
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
  }

  // The socket is blocking with a send time-out; a short send goes on where it stopped.
  bool sendAll(iovec* parts, int count) {
    while (count > 0) {
      msghdr message{};
      message.msg_iov = parts;
      message.msg_iovlen = static_cast<size_t>(count);
      const ssize_t n = ::sendmsg(sock_, &message, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      auto left = static_cast<size_t>(n);
      while (count > 0 && left >= parts->iov_len) {
        left -= parts->iov_len;
        ++parts;
        --count;
      }
      if (count > 0) {
        parts->iov_base = static_cast<char*>(parts->iov_base) + left;
        parts->iov_len -= left;
      }
    }
    return true;
  }

  template <typename Query>
  void addressOf(Query query, std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (query(sock_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return;
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
      const auto* a = reinterpret_cast<const sockaddr_in*>(&address);
      inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
      port = ntohs(a->sin_port);
    } else if (address.ss_family == AF_INET6) {
      const auto* a = reinterpret_cast<const sockaddr_in6*>(&address);
      inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
      port = ntohs(a->sin6_port);
    }
    ip = text;
  }

  int sock_;
  long readTimeoutMs_;
  char readBuffer_[16 * 1024];
  size_t readOff_ = 0;
  size_t readEnd_ = 0;
  std::string held_;
  std::string remoteIp_, localIp_;
  int remotePort_ = 0, localPort_ = 0;
};

// httplib's server with its connection loop replaced: replies in one send, and
// connections kept for as long as the client keeps sending.
class Service : public httplib::Server {
 public:
  Service() {
    set_tcp_nodelay(true);
    set_keep_alive_max_count(kKeepAliveRequests);
    set_keep_alive_timeout(kKeepAliveSeconds);
    new_task_queue = [] { return new RequestThreads(kThreads); };
  }

 private:
  bool process_and_close_socket(int sock) override {
    // Replies are written whole; waiting to fill a segment would only add delay.
    const int on = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A client that stops reading must not hold a thread for ever in a send.
    timeval sendLimit{};
    sendLimit.tv_sec = write_timeout_sec_;
    sendLimit.tv_usec = static_cast<suseconds_t>(write_timeout_usec_);
    ::setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    ReplyStream stream(sock, read_timeout_sec_, read_timeout_usec_);
    bool ok = false;
    for (size_t left = keep_alive_max_count_; left > 0 && nextRequestArrives(stream); --left) {
      bool closed = false;
      ok = process_request(stream, left == 1, closed, nullptr);
      if (!stream.flush()) ok = false;
      if (!ok || closed) break;
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
  }

  // Waits for the next request on a kept-alive connection. False when the client
  // stayed idle too long, the service stops, or a new connection waits for a thread.
  bool nextRequestArrives(const ReplyStream& stream) const {
    if (stream.hasBufferedInput()) return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    bool first = true;
    while (svr_sock_ != INVALID_SOCKET) {
      // Short waits, so that stop() and waiting connections are noticed soon.
      pollfd p{stream.socket(), POLLIN, 0};
      const int rc = ::poll(&p, 1, 10);
      if (rc > 0) return true;
      if (rc < 0 && errno != EINTR) return false;
      if (!first && RequestThreads::someoneWaiting()) return false;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      first = false;
    }
    return false;
  }
};

void answer(Pages& pages, bool verbose, const httplib::Request& req, httplib::Response& res) {
  PageRequest request;
  request.path = req.path;
  // The raw target, not httplib's parsed parameters: those turn "+" into a space.
  const auto mark = req.target.find('?');
  if (mark != std::string::npos) request.rawQuery = req.target.substr(mark + 1);
  request.body = req.body;
  request.idempotencyKey = req.get_header_value("Idempotency-Key");
  PageReply reply = pages.handle(request);
  res.status = reply.httpStatus;
  // Moved rather than copied (set_content copies): a large data set is megabytes.
  res.body = std::move(reply.body);
  res.set_header("Content-Type", "text/xml; charset=utf-8");
  if (verbose) {
    const std::string target = mark == std::string::npos
                                   ? req.target
                                   : req.target.substr(0, mark + 1) + hideQueryValues(request.rawQuery, kPasswordKey);
    std::cerr << req.method << " " << target << " -> " << reply.httpStatus << std::endl;
  }
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

  Service server;
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
