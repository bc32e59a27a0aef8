#include "server/http_connection.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server/access_log.h"
#include "server/reply_encoding.h"

namespace qmx::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr std::uint64_t kMaxBody = 64u * 1024 * 1024;
constexpr std::size_t kMaxHeader = 64 * 1024;
constexpr std::size_t kMaxTarget = 8192;
// A client such as BackOnline sends a request after another for as long as it has work.
constexpr std::size_t kKeepAliveRequests = 100000;
constexpr std::string_view kKeepAlive = "Keep-Alive: timeout=5, max=100000\r\n";

// A body or reply of this size may cross a slow link: a minute, plus 10 s a MiB.
std::chrono::seconds transferDeadline(std::uint64_t bytes) {
  return std::chrono::seconds(60 + bytes / (100 * 1024));
}

// Targets with more than one '?' between non-empty parts were always refused.
bool tooManyQueryMarks(std::string_view target) {
  int parts = 0;
  for (size_t start = 0; start <= target.size();) {
    const size_t end = std::min(target.find('?', start), target.size());
    if (end > start) ++parts;
    start = end + 1;
  }
  return parts > 2;
}

bool isParseError(const beast::error_code& ec) {
  return ec.category() == http::make_error_code(http::error::bad_target).category() &&
         ec != http::error::end_of_stream && ec != http::error::partial_message;
}

}  // namespace

class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  HttpConnection(tcp::socket socket, Pages& pages, const ConnectionLimits& limits, ConnectionSet& set)
      : stream_(std::move(socket)), pages_(pages), limits_(limits), set_(set) {
    beast::error_code ec;
    const auto peer = stream_.socket().remote_endpoint(ec);
    client_ = ec ? "-" : peer.address().to_string();
    // Replies are written whole; waiting to fill a segment would only add delay.
    stream_.socket().set_option(tcp::no_delay(true), ec);
  }
  ~HttpConnection() { set_.remove(this); }

  void start() {
    asio::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->waitForRequest(); });
  }

  void stop() {
    asio::post(stream_.get_executor(), [self = shared_from_this()] {
      self->stopping_ = true;
      if (!self->inFlight_) self->close();
    });
  }

 private:
  void waitForRequest() {
    if (stopping_) return close();
    if (buffer_.size() > 0) return readHeader();
    stream_.expires_after(limits_.idle);
    stream_.async_read_some(buffer_.prepare(16 * 1024), [self = shared_from_this()](beast::error_code ec, size_t n) {
      if (ec) return self->close();  // idle too long, gone, or stopped
      self->buffer_.commit(n);
      self->readHeader();
    });
  }

  void readHeader() {
    arrived_ = std::chrono::system_clock::now();
    started_ = std::chrono::steady_clock::now();
    method_ = "-";
    target_.clear();
    scanned_ = 0;
    stream_.expires_after(limits_.header);
    readUntilHeaderEnd();
  }

  // Gathers the whole header before parsing it, so that its control bytes can be made
  // harmless first.
  void readUntilHeaderEnd() {
    const std::string_view in(static_cast<const char*>(buffer_.data().data()), buffer_.size());
    const size_t end = in.find("\r\n\r\n", scanned_);
    if (end != std::string_view::npos) return parseHeader(end);
    if (in.size() > kMaxHeader) return refuse(400);
    scanned_ = in.size() < 3 ? 0 : in.size() - 3;
    stream_.async_read_some(buffer_.prepare(16 * 1024), [self = shared_from_this()](beast::error_code ec, size_t n) {
      if (ec) return self->close();  // too slow, gone, or stopped: the request never arrived
      self->buffer_.commit(n);
      self->readUntilHeaderEnd();
    });
  }

  void parseHeader(size_t end) {
    // A control byte in a header value (an Idempotency-Key "k\x01") would fail the
    // whole request; as a byte that is no visible text it reaches the pages, which
    // refuse such a key with their own error, as they always have.
    char* header = static_cast<char*>(buffer_.data().data());
    for (char* c = static_cast<char*>(std::memchr(header, '\n', end)); c && c < header + end; ++c) {
      if (static_cast<unsigned char>(*c) < 0x20 && *c != '\t' && *c != '\r' && *c != '\n') *c = '\x80';
    }
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(kMaxHeader + 4));
    parser_->body_limit(kMaxBody);
    // The header is all in the buffer: this completes without reading.
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code ec, size_t) { self->onHeader(ec); });
  }

  void onHeader(beast::error_code ec) {
    if (ec == http::error::body_limit) {
      // Refused on its Content-Length, before a byte of the body is read.
      method_ = std::string(parser_->get().method_string());
      target_ = std::string(parser_->get().target());
      return refuse(413);
    }
    if (isParseError(ec)) return refuse(400);
    if (ec) return close();  // too slow, gone, or stopped: the request never arrived
    inFlight_ = true;
    const auto& req = parser_->get();
    method_ = std::string(req.method_string());
    target_ = std::string(req.target());
    if (req.version() != 10 && req.version() != 11) return refuse(400);
    if (target_.size() > kMaxTarget) return refuse(414);
    const http::verb verb = req.method();
    routed_ = verb == http::verb::get || verb == http::verb::head || verb == http::verb::post;
    const bool known = verb == http::verb::put || verb == http::verb::delete_ || verb == http::verb::options ||
                       verb == http::verb::patch;
    if ((!routed_ && !known) || tooManyQueryMarks(target_)) return refuse(400);
    const auto connection = req[http::field::connection];
    announceClose_ = connection == "close" || ++served_ >= kKeepAliveRequests;
    keepAlive_ = !announceClose_ && (req.version() == 11 || connection == "Keep-Alive");
    if (req[http::field::expect] != "100-continue") return readBody();
    // curl waits for this before it sends a large body.
    static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
    stream_.expires_after(limits_.header);
    asio::async_write(stream_, asio::buffer(kContinue.data(), kContinue.size()),
                      [self = shared_from_this()](beast::error_code ec, size_t) {
                        if (ec) return self->close();
                        self->readBody();
                      });
  }

  void readBody() {
    if (parser_->is_done()) return answer();
    stream_.expires_after(transferDeadline(parser_->content_length().value_or(kMaxBody)));
    http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, size_t) {
      if (ec == http::error::body_limit) return self->refuse(413);
      if (isParseError(ec)) return self->refuse(400);
      if (ec) return self->close();
      self->answer();
    });
  }

  void answer() {
    auto& req = parser_->get();
    if (!routed_) return reply(404, {}, false);
    PageRequest request;
    const auto mark = target_.find('?');
    request.path = decodePath(std::string_view(target_).substr(0, mark));
    // The raw query: decoding belongs to the pages, which keep '+' as it came.
    if (mark != std::string::npos) request.rawQuery = target_.substr(mark + 1);
    request.body = std::move(req.body());
    request.idempotencyKey = std::string(req["Idempotency-Key"]);
    try {
      PageReply page = pages_.handle(request);
      std::string body = std::move(page.body);
      if (!body.empty() && acceptsGzip(req[http::field::accept_encoding])) {
        if (auto packed = gzipped(body)) {
          body = std::move(*packed);
          compressed_ = true;
        }
      }
      reply(page.httpStatus, std::move(body), true);
    } catch (const std::exception&) {
      reply(500, {}, false);
    }
  }

  // A request that cannot be answered normally; the connection closes after the reply.
  void refuse(int status) {
    inFlight_ = true;
    keepAlive_ = false;
    announceClose_ = true;
    refused_ = true;
    reply(status, {}, false);
  }

  void reply(int status, std::string body, bool xml) {
    status_ = status;
    if (stopping_) {
      keepAlive_ = false;
      announceClose_ = true;
    }
    head_ = "HTTP/1.1 " + std::to_string(status) + " ";
    head_ += http::obsolete_reason(static_cast<http::status>(status));
    head_ += "\r\n";
    // Header names in the order clients have always seen them.
    if (method_ == "HEAD") head_ += "Accept-Ranges: bytes\r\n";
    if (announceClose_) head_ += "Connection: close\r\n";
    if (compressed_) head_ += "Content-Encoding: gzip\r\n";
    head_ += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    if (xml) head_ += "Content-Type: text/xml; charset=utf-8\r\n";
    if (!announceClose_) head_ += kKeepAlive;
    head_ += "\r\n";
    body_ = method_ == "HEAD" ? std::string() : std::move(body);
    // Header and body in one gather write: a second small write would wait for the
    // client's delayed acknowledgement of the first (some 40 ms).
    stream_.expires_after(transferDeadline(body_.size()));
    const std::array<asio::const_buffer, 2> parts{asio::buffer(head_), asio::buffer(body_)};
    // As much as the socket takes in each send: the default 64 KiB slices would cost a
    // send and a deadline timer's arming each on a large download.
    const auto allAtOnce = [](beast::error_code ec, size_t) -> size_t { return ec ? 0 : SIZE_MAX; };
    asio::async_write(stream_, parts, allAtOnce,
                      [self = shared_from_this()](beast::error_code ec, size_t n) { self->onWritten(ec, n); });
  }

  void onWritten(beast::error_code ec, size_t bytes) {
    if (limits_.log) {
      const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - started_;
      writeAccessLog(accessLogLine({arrived_, client_, method_, target_, status_, bytes, took.count()}));
    }
    inFlight_ = false;
    compressed_ = false;
    body_ = std::string();
    if (ec) return close();
    if (refused_) return lingerThenClose();
    if (!keepAlive_ || stopping_) return close();
    parser_.reset();
    waitForRequest();
  }

  // The client may still be sending what was refused; closing with its bytes unread
  // would reset the connection and could lose the reply before the client read it.
  void lingerThenClose() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    buffer_.clear();
    stream_.expires_after(std::chrono::seconds(2));
    stream_.async_read_some(buffer_.prepare(64 * 1024), [self = shared_from_this()](beast::error_code ec, size_t) {
      if (ec) return self->close();
      self->lingerThenClose();
    });
  }

  void close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
  }

  beast::tcp_stream stream_;
  Pages& pages_;
  const ConnectionLimits& limits_;
  ConnectionSet& set_;
  std::string client_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::size_t served_ = 0;
  std::size_t scanned_ = 0;  // how much of the buffer holds no header end
  bool stopping_ = false;
  bool inFlight_ = false;  // a header has arrived whole: answered even when stopping
  // The current request and its reply.
  std::chrono::system_clock::time_point arrived_;
  std::chrono::steady_clock::time_point started_;
  std::string method_, target_;
  bool routed_ = false, keepAlive_ = false, announceClose_ = false, compressed_ = false, refused_ = false;
  int status_ = 0;
  std::string head_, body_;
};

bool ConnectionSet::add(const std::shared_ptr<HttpConnection>& connection) {
  const std::lock_guard lock(mutex_);
  if (stopping_) return false;
  open_[connection.get()] = connection;
  return true;
}

void ConnectionSet::remove(const HttpConnection* connection) {
  const std::lock_guard lock(mutex_);
  open_.erase(connection);
}

void ConnectionSet::stopAll() {
  std::vector<std::shared_ptr<HttpConnection>> live;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    for (const auto& [key, weak] : open_) {
      if (auto connection = weak.lock()) live.push_back(std::move(connection));
    }
  }
  for (const auto& connection : live) connection->stop();
}

void serveConnection(tcp::socket socket, Pages& pages, const ConnectionLimits& limits, ConnectionSet& connections) {
  auto connection = std::make_shared<HttpConnection>(std::move(socket), pages, limits, connections);
  if (connections.add(connection)) connection->start();
}

}  // namespace qmx::server
