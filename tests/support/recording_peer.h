// A scripted HTTP/1.1 peer for wire tests: listens on 127.0.0.1 at a free port,
// answers each request as the test told it, and records every request exactly as
// it arrived (method, request target, header lines, body).
//
// Replies are taken from the queue in order; when the queue is empty the
// default reply answers (404 with an empty body unless setDefault changed it).
// A request is recorded before it is answered, so once the client's call
// returns its request is there. Request bodies are framed by Content-Length
// only (no chunked uploads).
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace qmx::test {

struct RecordedRequest {
  std::string method;
  std::string target;   // the request target exactly as received ("/a.asp?x=1&cucumber=73518")
  std::string version;  // "HTTP/1.1"
  std::vector<std::string> headerLines;  // every header line as received, without CR LF
  std::string body;
  int connection = 0;   // which accepted connection carried it (1, 2, ... in accept order)

  // The value of the first header of that name (case-insensitive), spaces around
  // the value removed; nullopt when the request has none.
  std::optional<std::string> header(std::string_view name) const;
  // Header names in the order received ("Host", "Accept", ...).
  std::vector<std::string> headerNames() const;
};

struct PeerReply {
  enum class Kind {
    Answer,   // status line, headers, body (Content-Length added unless given)
    Raw,      // the bytes in `body` sent exactly as they are
    Stall,    // read the request, then send nothing until the client gives up
    Close,    // read the request, then close the connection without a byte
  };
  Kind kind = Kind::Answer;
  int status = 200;
  std::string reason = "OK";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // A 200 reply with this body and Content-Type (none when contentType is empty).
  static PeerReply xml(std::string body, std::string contentType = "text/xml");
  // A reply with any status, Content-Type and body.
  static PeerReply page(int status, std::string reason, std::string contentType, std::string body);
  static PeerReply raw(std::string bytes);
  static PeerReply stall();
  static PeerReply close();
};

class RecordingPeer {
 public:
  // Binds 127.0.0.1 on a free port and starts serving; throws std::runtime_error
  // when no socket can be bound.
  RecordingPeer();
  // Stops serving and closes every connection.
  ~RecordingPeer();
  RecordingPeer(const RecordingPeer&) = delete;
  RecordingPeer& operator=(const RecordingPeer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>/"
  std::string base() const;

  // Queues a reply for the next request not yet answered.
  void enqueue(PeerReply reply);
  // The reply used when the queue is empty and no responder is set.
  void setDefault(PeerReply reply);

  // Every request received so far, in arrival order.
  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const;
  // The latest request; throws std::runtime_error when none arrived.
  RecordedRequest lastRequest() const;

 private:
  struct Connection;
  void serve();
  bool handleReadable(Connection& c);
  PeerReply nextReply(const RecordedRequest& request);
  void sendReply(Connection& c, const PeerReply& reply);

  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  int port_ = 0;
  int connectionsAccepted_ = 0;  // touched by the serving thread only
  std::thread thread_;

  mutable std::mutex mutex_;
  std::deque<PeerReply> queue_;
  PeerReply default_;
  std::vector<RecordedRequest> requests_;
};

}  // namespace qmx::test
