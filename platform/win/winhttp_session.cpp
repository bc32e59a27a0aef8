// The Windows platform's HTTP: one WinHTTP session per control, whose
// connections WinHTTP keeps and reuses. Requests carry only the headers the
// control asks for and, where WinHTTP decodes gzip (Windows 8.1 and later),
// "Accept-Encoding: gzip": no cookies, no credentials of the logged-on user, no
// redirects followed, the address sent as written (nothing escaped again).
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string>

#include "base/automation_error.h"
#include "base/request_address.h"
#include "platform/reply_too_large.h"
#include "base/unique_handle.h"
#include "platform/win/win_platform.h"
#include "platform/win/win_text.h"

namespace qmx {
namespace {

// WinHTTP has no code of its own for a reply over the size cap; this is the
// system's "file too large".
constexpr std::int32_t kReplyTooLarge = ERROR_FILE_TOO_LARGE;

void closeInternet(HINTERNET h) { ::WinHttpCloseHandle(h); }
using InternetHandle = UniqueHandle<HINTERNET, closeInternet>;

// At least 1: WinHTTP reads 0 as no limit at all.
int timeoutMs(std::chrono::milliseconds limit) {
  return static_cast<int>(std::clamp<std::int64_t>(limit.count(), 1, std::numeric_limits<int>::max()));
}

class WinHttpSession : public HttpSession {
 public:
  WinHttpSession()
      : session_(::WinHttpOpen(L"QMXProdActiveX", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0)) {
    if (!session_.get()) {
      const DWORD err = ::GetLastError();
      throw AutomationError(-static_cast<std::int32_t>(err),
                            "The HTTP client could not be started: " + win::systemMessage(err, L"winhttp.dll"));
    }
  }

  void setLimits(const HttpLimits& limits) override { limits_ = limits; }
  void setProgressHandler(ProgressHandler handler) override { progress_ = std::move(handler); }

  HttpReply send(const HttpRequest& request) override {
    const std::string where = addressForMessages(request.url);
    auto fail = [&](DWORD err) -> AutomationError {
      return AutomationError(-static_cast<std::int32_t>(err),
                             win::systemMessage(err, L"winhttp.dll") + " (" + where + ")");
    };

    const std::wstring url = win::widen(requestLineAddress(request.url));
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    // Only the service's schemes: anything else is refused here.
    if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) throw fail(::GetLastError());
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
      throw fail(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring target = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                          std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.empty()) target = L"/";

    // Every wait is the smaller of its own limit and the time the whole request
    // has left; none starts once that time is up.
    const auto deadline = std::chrono::steady_clock::now() + wholeRequestLimit(limits_);
    auto limitWaits = [&](HINTERNET h) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) throw fail(ERROR_WINHTTP_TIMEOUT);
      const int connectMs = timeoutMs(std::min<std::chrono::milliseconds>(limits_.connect, left));
      const int stallMs = timeoutMs(std::min<std::chrono::milliseconds>(limits_.stall, left));
      ::WinHttpSetTimeouts(h, connectMs, connectMs, stallMs, stallMs);
      if (h != session_.get()) {
        DWORD headersMs = static_cast<DWORD>(timeoutMs(left));
        ::WinHttpSetOption(h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersMs, sizeof headersMs);
      }
    };
    limitWaits(session_.get());
    InternetHandle connection(::WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!connection.get()) throw fail(::GetLastError());
    DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= WINHTTP_FLAG_SECURE;
    const std::wstring method = win::widen(request.method);
    InternetHandle req(::WinHttpOpenRequest(connection.get(), method.c_str(), target.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!req.get()) throw fail(::GetLastError());
    limitWaits(req.get());
    DWORD features = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION;
    ::WinHttpSetOption(req.get(), WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);
    DWORD autologon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    ::WinHttpSetOption(req.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &autologon, sizeof autologon);
    // With the option WinHTTP sends "Accept-Encoding: gzip" itself and hands back
    // the decoded body; a system that refuses it cannot decode, so nothing is asked.
    bool gzip = false;
    if (limits_.askCompressed) {
      DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_GZIP;
      gzip = ::WinHttpSetOption(req.get(), WINHTTP_OPTION_DECOMPRESSION, &decompression, sizeof decompression);
    }

    std::wstring headers;
    for (const auto& [name, value] : request.headers) headers += win::widen(name + ": " + value + "\r\n");
    if (!headers.empty() &&
        !::WinHttpAddRequestHeaders(req.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                    WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
      throw fail(::GetLastError());

    // An empty POST still says "Content-Length: 0", as a request without a body must.
    const std::string body = request.body.value_or(std::string());
    const bool withBody = request.body.has_value() || request.method == "POST";
#if SIZE_MAX > 0xFFFFFFFFu
    // WinHTTP counts a body in 32 bits.
    if (withBody && body.size() > 0xFFFFFFFFull) throw fail(ERROR_FILE_TOO_LARGE);
#endif
    const DWORD bodySize = static_cast<DWORD>(body.size());
    if (!::WinHttpSendRequest(req.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                              withBody && bodySize ? const_cast<char*>(body.data()) : WINHTTP_NO_REQUEST_DATA,
                              withBody ? bodySize : 0, withBody ? bodySize : 0, 0))
      throw fail(::GetLastError());
    limitWaits(req.get());
    if (!::WinHttpReceiveResponse(req.get(), nullptr)) throw fail(::GetLastError());

    HttpReply reply;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(req.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
      throw fail(::GetLastError());
    reply.status = static_cast<long>(status);
    reply.contentType = header(req.get(), WINHTTP_QUERY_CONTENT_TYPE);

    auto tooLarge = [&] { return replyTooLargeError(kReplyTooLarge, limits_.maxReplyBytes, where); };
    std::uint64_t announced = 0;
    const std::string length = header(req.get(), WINHTTP_QUERY_CONTENT_LENGTH);
    if (!length.empty()) {
      try {
        announced = std::stoull(length);
      } catch (...) {
        announced = 0;
      }
      // Refused before a byte of it is read.
      if (announced > announcedLengthCap(limits_, gzip)) throw tooLarge();
    }
    // The body counted below is the decoded one, which no header announces.
    if (gzip && !header(req.get(), WINHTTP_QUERY_CONTENT_ENCODING).empty()) announced = 0;
    char buffer[65536];
    for (;;) {
      DWORD ready = 0;
      DWORD got = 0;
      limitWaits(req.get());
      // Only what has arrived: a read asking for more waits for it, past any limit.
      if (!::WinHttpQueryDataAvailable(req.get(), &ready)) throw fail(::GetLastError());
      if (ready == 0) break;
      if (!::WinHttpReadData(req.get(), buffer, std::min<DWORD>(ready, sizeof buffer), &got))
        throw fail(::GetLastError());
      if (got == 0) break;
      if (reply.body.size() + got > limits_.maxReplyBytes) throw tooLarge();
      reply.body.append(buffer, got);
      if (progress_) progress_(reply.body.size(), announced);
    }
    return reply;
  }

 private:
  // A header's text; empty when the reply has none.
  static std::string header(HINTERNET req, DWORD which) {
    DWORD size = 0;
    ::WinHttpQueryHeaders(req, which, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                          WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (!::WinHttpQueryHeaders(req, which, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                               WINHTTP_NO_HEADER_INDEX))
      return {};
    text.resize(size / sizeof(wchar_t));
    return win::narrow(text);
  }

  InternetHandle session_;
  HttpLimits limits_;
  ProgressHandler progress_;
};

}  // namespace

std::unique_ptr<HttpSession> WinPlatform::openHttpSession() { return std::make_unique<WinHttpSession>(); }

}  // namespace qmx
