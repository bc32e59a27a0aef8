// The POSIX platform's HTTP: one libcurl easy handle per session, kept so that its
// connections are reused. The request goes out with only the headers the control
// asks for, no credentials and no redirects followed; curl adds Host, Accept and,
// on POST, Content-Length by itself.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "base/automation_error.h"
#include "base/request_address.h"
#include "platform/reply_too_large.h"
#include "platform/posix/posix_platform.h"

namespace qmx {
namespace {

struct ReplySink {
  std::string* body;
  std::uint64_t maxBytes;
  bool overCap = false;
  std::exception_ptr failure;  // thrown again once curl has returned
};

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* userData) {
  auto* sink = static_cast<ReplySink*>(userData);
  const std::size_t n = size * count;
  if (sink->body->size() + n > sink->maxBytes) {
    sink->overCap = true;
    return 0;  // anything short of n makes curl abort the transfer
  }
  // No exception may unwind through curl's C frames.
  try {
    sink->body->append(data, n);
  } catch (...) {
    sink->failure = std::current_exception();
    return 0;
  }
  return n;
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
    ReplySink sink{&reply.body, limits_.maxReplyBytes, false, nullptr};
    char errorText[CURL_ERROR_SIZE] = {};
    const std::string url = requestLineAddress(request.url);

    // Without these two entries curl would add a form Content-Type to every
    // POST and an Expect header to large bodies: headers the server never asked for.
    HeaderList headers;
    headers.list = curl_slist_append(headers.list, "Content-Type:");
    headers.list = curl_slist_append(headers.list, "Expect:");
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
    curl_easy_setopt(handle_, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits_.maxReplyBytes));
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
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, nullptr);
    if (sink.failure) std::rethrow_exception(sink.failure);
    if (progressFailure_) std::rethrow_exception(std::exchange(progressFailure_, nullptr));
    const std::string where = addressForMessages(request.url);
    if (sink.overCap || code == CURLE_FILESIZE_EXCEEDED) {
      throw replyTooLargeError(CURLE_FILESIZE_EXCEEDED, limits_.maxReplyBytes, where);
    }
    if (code != CURLE_OK) {
      const std::string message = errorText[0] ? errorText : curl_easy_strerror(code);
      throw AutomationError(-static_cast<std::int32_t>(code), message + " (" + where + ")");
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
