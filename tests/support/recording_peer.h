// A scripted HTTP/1.1 peer on 127.0.0.1 for wire tests: answers each request
// from its queue (else the default reply, 404 unless set) and records every
// request as it arrived, before answering it. Bodies are framed by
// Content-Length only.
#pragma once

#include <chrono>
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

  // The first header of that name (case-insensitive), trimmed.
  std::optional<std::string> header(std::string_view name) const;
  std::vector<std::string> headerNames() const;
};

struct PeerReply {
  enum class Kind {
    Answer,   // status line, headers, body (Content-Length added unless given)
    Raw,      // the bytes in `body` sent exactly as they are; with `interval`, the head at
              // once, then a body byte per interval
    Stall,    // read the request, then send nothing until the client gives up
    Close,    // read the request, then close the connection without a byte
  };
  Kind kind = Kind::Answer;
  int status = 200;
  std::string reason = "OK";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::chrono::milliseconds interval{0};  // until the client leaves or the peer ends

  // Without Content-Type when contentType is empty.
  static PeerReply xml(std::string body, std::string contentType = "text/xml");
  static PeerReply page(int status, std::string reason, std::string contentType, std::string body);
  static PeerReply raw(std::string bytes);
  static PeerReply stall();
  static PeerReply close();
};

class RecordingPeer {
 public:
  RecordingPeer();  // throws std::runtime_error when it cannot listen
  ~RecordingPeer();
  RecordingPeer(const RecordingPeer&) = delete;
  RecordingPeer& operator=(const RecordingPeer&) = delete;

  int port() const { return port_; }
  std::string base() const;  // "http://127.0.0.1:<port>/"
  void enqueue(PeerReply reply);
  void setDefault(PeerReply reply);
  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const;
  RecordedRequest lastRequest() const;  // throws std::runtime_error when none arrived

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
