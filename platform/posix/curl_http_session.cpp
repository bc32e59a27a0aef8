// The POSIX platform's HTTP: one libcurl easy handle per session, kept so that its
// connections are reused. The request goes out with only the headers the control
// asks for and "Accept-Encoding: gzip", no credentials and no redirects followed;
// curl adds Host, Accept and, on POST, Content-Length by itself.
//
// A gzip reply is decoded here rather than by curl: curl takes a compressed body
// cut short as a whole one, and the size cap must count the decoded bytes.
#include <curl/curl.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "base/ascii_text.h"
#include "base/automation_error.h"
#include "base/request_address.h"
#include "platform/reply_too_large.h"
#include "platform/posix/posix_platform.h"

namespace qmx {
namespace {

// The decoder of one gzip body; each member of the stream ends with its checksum.
class GzipStream {
 public:
  GzipStream() {
    if (inflateInit2(&z_, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
  }
  ~GzipStream() { inflateEnd(&z_); }
  GzipStream(const GzipStream&) = delete;
  GzipStream& operator=(const GzipStream&) = delete;

  // Decodes `n` bytes, handing each decoded piece to take (false stops).
  // False with damage() set when the data is not gzip.
  template <class Take>
  bool decode(const char* data, std::size_t n, Take take) {
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z_.avail_in = static_cast<uInt>(n);  // curl hands over at most CURL_MAX_WRITE_SIZE
    char out[65536];
    for (;;) {
      // Bytes after a member's end start another member.
      if (ended_) inflateReset(&z_);
      z_.next_out = reinterpret_cast<Bytef*>(out);
      z_.avail_out = sizeof out;
      const int rc = inflate(&z_, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
        damage_ = z_.msg ? z_.msg : "not gzip data";
        return false;
      }
      ended_ = rc == Z_STREAM_END;
      if (!take(out, sizeof out - z_.avail_out)) return false;
      // A full buffer may leave decoded bytes inside zlib.
      if (z_.avail_in == 0 && (ended_ || z_.avail_out != 0)) return true;
    }
  }
  bool ended() const { return ended_; }
  const std::string& damage() const { return damage_; }

 private:
  z_stream z_{};
  bool ended_ = false;
  std::string damage_;
};

struct ReplySink {
  std::string* body;
  std::uint64_t maxBytes;
  bool askedGzip;
  bool overCap = false;
  std::exception_ptr failure{};  // thrown again once curl has returned
  bool gzip = false;            // the reply says Content-Encoding: gzip
  std::unique_ptr<GzipStream> decoder{};

  bool take(const char* data, std::size_t n) {
    if (body->size() + n > maxBytes) {
      overCap = true;
      return false;
    }
    body->append(data, n);
    return true;
  }
  bool compressedAndCut() const { return decoder && decoder->damage().empty() && !decoder->ended(); }
};

// Only a reply asked for is decoded; one compressed unasked comes as it is.
std::size_t readHeader(char* data, std::size_t size, std::size_t count, void* userData) {
  auto* sink = static_cast<ReplySink*>(userData);
  const std::string_view line(data, size * count);
  // An interim reply (100 Continue) has headers of its own.
  if (line.starts_with("HTTP/")) sink->gzip = false;
  constexpr std::string_view kName = "Content-Encoding:";
  if (sink->askedGzip && startsWithIgnoreCase(line, kName)) {
    const std::string_view value = trimmed(line.substr(kName.size()));
    sink->gzip = equalsIgnoreCase(value, "gzip") || equalsIgnoreCase(value, "x-gzip");
  }
  return size * count;
}

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* userData) {
  auto* sink = static_cast<ReplySink*>(userData);
  const std::size_t n = size * count;
  // No exception may unwind through curl's C frames; anything short of n makes
  // curl abort the transfer.
  try {
    if (!sink->gzip) return sink->take(data, n) ? n : 0;
    if (!sink->decoder) sink->decoder = std::make_unique<GzipStream>();
    return sink->decoder->decode(data, n, [&](const char* out, std::size_t got) { return sink->take(out, got); })
               ? n
               : 0;
  } catch (...) {
    sink->failure = std::current_exception();
    return 0;
  }
}

long wholeRequestMs(std::chrono::seconds limit) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(limit).count();
  return static_cast<long>(std::clamp<std::int64_t>(ms, 1, std::numeric_limits<long>::max()));
}

struct HeaderList {
  curl_slist* list = nullptr;
  ~HeaderList() { curl_slist_free_all(list); }
};

class CurlHttpSession : public HttpSession {
 public:
  CurlHttpSession() : handle_(curl_easy_init()) {
    if (!handle_) throw AutomationError(-CURLE_FAILED_INIT, "The HTTP client could not be started");
  }
  ~CurlHttpSession() override { curl_easy_cleanup(handle_); }
  CurlHttpSession(const CurlHttpSession&) = delete;
  CurlHttpSession& operator=(const CurlHttpSession&) = delete;

  void setLimits(const HttpLimits& limits) override { limits_ = limits; }
  void setProgressHandler(ProgressHandler handler) override { progress_ = std::move(handler); }

  HttpReply send(const HttpRequest& request) override {
    // Reset drops the previous request's options but keeps the live connections.
    curl_easy_reset(handle_);
    HttpReply reply;
    ReplySink sink{.body = &reply.body, .maxBytes = limits_.maxReplyBytes, .askedGzip = limits_.askCompressed};
    char errorText[CURL_ERROR_SIZE] = {};
    const std::string url = requestLineAddress(request.url);

    // Without these two entries curl would add a form Content-Type to every
    // POST and an Expect header to large bodies: headers the server never asked for.
    HeaderList headers;
    headers.list = curl_slist_append(headers.list, "Content-Type:");
    headers.list = curl_slist_append(headers.list, "Expect:");
    if (sink.askedGzip) headers.list = curl_slist_append(headers.list, "Accept-Encoding: gzip");
    for (const auto& [name, value] : request.headers) {
      headers.list = curl_slist_append(headers.list, (name + ": " + value).c_str());
    }

    curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle_, CURLOPT_PATH_AS_IS, 1L);
    // Only the service's schemes: an address from a page must not read local files.
    curl_easy_setopt(handle_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(limits_.connect.count()));
    // Less than one byte a second for the whole stall time means no byte at all.
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits_.stall.count()));
    // Runs beside the stall check, connect included; whichever ends first gives
    // the same "timed out" code. 0 would mean no limit at all.
    curl_easy_setopt(handle_, CURLOPT_TIMEOUT_MS, wholeRequestMs(wholeRequestLimit(limits_)));
    const std::uint64_t announcedCap = announcedLengthCap(limits_, sink.askedGzip);
    curl_easy_setopt(handle_, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(std::min<std::uint64_t>(announcedCap, INT64_MAX)));
    curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, readHeader);
    curl_easy_setopt(handle_, CURLOPT_HEADERDATA, &sink);
    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &sink);
    if (progress_) {
      curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);
      curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, reportProgress);
      curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, this);
    }
    progressFailure_ = nullptr;

    const std::string body = request.body.value_or(std::string());
    if (request.method == "GET" && !request.body) {
      curl_easy_setopt(handle_, CURLOPT_HTTPGET, 1L);
    } else {
      if (request.method != "POST") curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, request.method.c_str());
      if (request.method == "POST" || request.body) {
        // An empty POST still says "Content-Length: 0", as a request without a body must.
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, body.c_str());
      }
    }

    const CURLcode code = curl_easy_perform(handle_);
    // The handle outlives this call (its connections are reused); it must not
    // keep pointers to this call's buffers, which the closing of a cached
    // connection could otherwise write to.
    curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(handle_, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, nullptr);
    if (sink.failure) std::rethrow_exception(sink.failure);
    if (progressFailure_) std::rethrow_exception(std::exchange(progressFailure_, nullptr));
    const std::string where = addressForMessages(request.url);
    if (sink.overCap || code == CURLE_FILESIZE_EXCEEDED) {
      throw replyTooLargeError(CURLE_FILESIZE_EXCEEDED, limits_.maxReplyBytes, where);
    }
    if (sink.decoder && !sink.decoder->damage().empty()) {
      throw AutomationError(-CURLE_BAD_CONTENT_ENCODING,
                            "The reply's compressed data is damaged: " + sink.decoder->damage() + " (" + where + ")");
    }
    if (code != CURLE_OK) {
      const std::string message = errorText[0] ? errorText : curl_easy_strerror(code);
      throw AutomationError(-static_cast<std::int32_t>(code), message + " (" + where + ")");
    }
    if (sink.compressedAndCut()) {
      throw AutomationError(-CURLE_BAD_CONTENT_ENCODING, "The reply's compressed data ends early (" + where + ")");
    }
    curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &reply.status);
    const char* contentType = nullptr;
    if (curl_easy_getinfo(handle_, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType)
      reply.contentType = contentType;
    return reply;
  }

 private:
  // A host's exception ends the transfer and is thrown again once curl has returned.
  static int reportProgress(void* data, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) {
    auto* session = static_cast<CurlHttpSession*>(data);
    if (dlnow > 0) {
      try {
        session->progress_(static_cast<std::uint64_t>(dlnow), static_cast<std::uint64_t>(dltotal));
      } catch (...) {
        session->progressFailure_ = std::current_exception();
        return 1;
      }
    }
    return 0;
  }

  CURL* handle_;
  HttpLimits limits_;
  ProgressHandler progress_;
  std::exception_ptr progressFailure_;
};

}  // namespace

std::unique_ptr<HttpSession> PosixPlatform::openHttpSession() {
  // curl's global set-up is not thread-safe; do it once, before any handle exists.
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  return std::make_unique<CurlHttpSession>();
}

}  // namespace qmx
