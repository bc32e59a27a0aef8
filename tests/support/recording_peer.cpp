#include "support/recording_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <stdexcept>

#include "base/ascii_text.h"

namespace qmx::test {
namespace {

// Sends everything; false when the client went away.
bool sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
  for (const std::string& line : headerLines) {
    const auto colon = line.find(':');
    if (colon != std::string::npos && equalsIgnoreCase(std::string_view(line).substr(0, colon), name))
      return std::string(trimmed(std::string_view(line).substr(colon + 1), " \t"));
  }
  return std::nullopt;
}

std::vector<std::string> RecordedRequest::headerNames() const {
  std::vector<std::string> names;
  for (const std::string& line : headerLines) names.push_back(line.substr(0, line.find(':')));
  return names;
}

PeerReply PeerReply::xml(std::string body, std::string contentType) {
  return page(200, "OK", std::move(contentType), std::move(body));
}

PeerReply PeerReply::page(int status, std::string reason, std::string contentType, std::string body) {
  PeerReply r{Kind::Answer, status, std::move(reason), {}, std::move(body)};
  if (!contentType.empty()) r.headers.emplace_back("Content-Type", std::move(contentType));
  return r;
}

PeerReply PeerReply::raw(std::string bytes) { return {Kind::Raw, 0, "", {}, std::move(bytes)}; }
PeerReply PeerReply::stall() { return {Kind::Stall, 0, "", {}, ""}; }
PeerReply PeerReply::close() { return {Kind::Close, 0, "", {}, ""}; }

struct RecordingPeer::Connection {
  int fd = -1;
  int id = 0;
  std::string in;
  bool silent = false;  // stalled: requests are no longer read or answered
  bool done = false;    // to be closed
};

RecordingPeer::RecordingPeer() {
  default_ = PeerReply::page(404, "Not Found", "", "");
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error("recording peer: no socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 16) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      ::pipe2(wakePipe_, O_CLOEXEC) != 0) {
    ::close(listenFd_);
    throw std::runtime_error("recording peer: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { serve(); });
}

RecordingPeer::~RecordingPeer() {
  const char stop = 'x';
  while (::write(wakePipe_[1], &stop, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
  ::close(listenFd_);
}

std::string RecordingPeer::base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

void RecordingPeer::enqueue(PeerReply reply) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(reply));
}

void RecordingPeer::setDefault(PeerReply reply) {
  std::lock_guard lock(mutex_);
  default_ = std::move(reply);
}

std::vector<RecordedRequest> RecordingPeer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t RecordingPeer::requestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

RecordedRequest RecordingPeer::lastRequest() const {
  std::lock_guard lock(mutex_);
  if (requests_.empty()) throw std::runtime_error("recording peer: no request arrived");
  return requests_.back();
}

PeerReply RecordingPeer::nextReply(const RecordedRequest& request) {
  std::lock_guard lock(mutex_);
  requests_.push_back(request);
  if (queue_.empty()) return default_;
  PeerReply reply = std::move(queue_.front());
  queue_.pop_front();
  return reply;
}

void RecordingPeer::serve() {
  std::list<Connection> connections;
  for (;;) {
    std::vector<pollfd> fds;
    fds.push_back({wakePipe_[0], POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (const Connection& c : connections) fds.push_back({c.fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;
    if (fds[1].revents & POLLIN) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connections.push_back(Connection{fd, ++connectionsAccepted_, {}, false, false});
      }
    }
    std::size_t i = 2;
    for (Connection& c : connections) {
      // Connections accepted in this round have no poll entry yet.
      if (i >= fds.size()) break;
      if (fds[i++].revents && !handleReadable(c)) c.done = true;
    }
    connections.remove_if([](const Connection& c) {
      if (c.done) ::close(c.fd);
      return c.done;
    });
  }
  for (Connection& c : connections) ::close(c.fd);
}

// Reads what arrived and answers every complete request; false when the
// connection is to be closed.
bool RecordingPeer::handleReadable(Connection& c) {
  char buffer[65536];
  const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) return false;
  if (c.silent) return true;
  c.in.append(buffer, static_cast<std::size_t>(n));

  for (;;) {
    const auto headEnd = c.in.find("\r\n\r\n");
    if (headEnd == std::string::npos) return true;
    RecordedRequest request;
    request.connection = c.id;
    std::string_view head(c.in.data(), headEnd);
    const auto lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const auto sp1 = requestLine.find(' ');
    const auto sp2 = requestLine.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1) return false;
    request.method = std::string(requestLine.substr(0, sp1));
    request.target = std::string(requestLine.substr(sp1 + 1, sp2 - sp1 - 1));
    request.version = std::string(requestLine.substr(sp2 + 1));
    if (lineEnd != std::string_view::npos) {
      std::string_view rest = head.substr(lineEnd + 2);
      while (!rest.empty()) {
        const auto end = rest.find("\r\n");
        request.headerLines.emplace_back(rest.substr(0, end));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 2);
      }
    }
    std::size_t bodyLength = 0;
    if (auto length = request.header("Content-Length")) {
      try {
        bodyLength = std::stoull(*length);
      } catch (const std::exception&) {
        return false;  // a request we cannot frame: drop the connection
      }
    }
    if (c.in.size() < headEnd + 4 + bodyLength) return true;
    request.body = c.in.substr(headEnd + 4, bodyLength);
    c.in.erase(0, headEnd + 4 + bodyLength);

    const bool clientCloses = equalsIgnoreCase(request.header("Connection").value_or(""), "close");
    const PeerReply reply = nextReply(request);
    switch (reply.kind) {
      case PeerReply::Kind::Stall:
        c.silent = true;
        return true;
      case PeerReply::Kind::Close:
        return false;
      default:
        sendReply(c, reply);
        if (c.done || clientCloses) return false;
    }
  }
}

void RecordingPeer::sendReply(Connection& c, const PeerReply& reply) {
  if (reply.kind == PeerReply::Kind::Raw) {
    const std::size_t head = reply.interval.count() ? reply.body.find("\r\n\r\n") + 4 : reply.body.size();
    c.done = !sendAll(c.fd, std::string_view(reply.body).substr(0, head));
    pollfd wake{wakePipe_[0], POLLIN, 0};
    for (std::size_t i = head; !c.done && i < reply.body.size(); ++i)
      c.done = ::poll(&wake, 1, static_cast<int>(reply.interval.count())) != 0 ||
               !sendAll(c.fd, reply.body.substr(i, 1));
    return;
  }
  std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\n";
  bool hasLength = false;
  for (const auto& [name, value] : reply.headers) {
    head += name + ": " + value + "\r\n";
    hasLength = hasLength || equalsIgnoreCase(name, "Content-Length");
  }
  if (!hasLength) head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  head += "\r\n";
  // One write: a split reply would meet the client's delayed acknowledgement. A
  // client giving up part way ends the reply.
  c.done = !sendAll(c.fd, head + reply.body);
}

}  // namespace qmx::test
