// The POSIX HTTP session against the recording peer: the exact bytes of each
// request, the reply as received, and every way a transfer can fail.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>

#include "base/automation_error.h"
#include "base/request_address.h"
#include "platform/posix/posix_platform.h"
#include "support/recording_peer.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

using test::PeerReply;
using test::RecordingPeer;

struct Transport {
  test::TempRoot root;
  PosixPlatform platform{root.path()};
  std::unique_ptr<HttpSession> session = platform.openHttpSession();
};

AutomationError sendExpectingError(HttpSession& session, const HttpRequest& request) {
  try {
    session.send(request);
  } catch (const AutomationError& e) {
    return e;
  }
  ADD_FAILURE() << "the request did not fail";
  return AutomationError(0, "");
}

// `text` gzip-compressed, as a server sends it with "Content-Encoding: gzip".
std::string gzip(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, text.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

PeerReply gzipped(std::string bytes) {
  PeerReply reply = PeerReply::page(200, "OK", "text/xml", std::move(bytes));
  reply.headers.emplace_back("Content-Encoding", "gzip");
  return reply;
}

TEST(RequestAddress, EncodesOnlyWhatCannotTravelInARequestLineAndMessagesHideTheQuery) {
  EXPECT_EQ(requestLineAddress("http://h/p.asp?a=x y&b=1+2&c=50%&d=#5\t\x7F"),
            "http://h/p.asp?a=x%20y&b=1+2&c=50%&d=%235%09%7F");
  EXPECT_EQ(requestLineAddress("http://h/?n=J\xC3\xBCrg"), "http://h/?n=J%C3%BCrg");
  // Messages name the address without its query or user information.
  EXPECT_EQ(addressForMessages("http://127.0.0.1:8631/Bus_ChkComp.asp?Pwd=secret"),
            "http://127.0.0.1:8631/Bus_ChkComp.asp");
  EXPECT_EQ(addressForMessages("http://u:pw@host/x#frag"), "http://host/x");
}

TEST(CurlHttpSession, PostWithoutBodySendsContentLengthZeroAndNoOtherHeaders) {
  RecordingPeer peer;
  peer.enqueue(PeerReply::page(500, "Server Error", "text/html; charset=utf-8", "<html>oops</html>"));
  Transport t;
  const HttpReply reply =
      t.session->send({"POST", peer.base() + "a b/p.asp?U=a&b+c%41#x\xC3\xA9&cucumber=73518", std::nullopt});

  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.contentType, "text/html; charset=utf-8");
  EXPECT_EQ(reply.body, "<html>oops</html>");

  const auto r = peer.lastRequest();
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/a%20b/p.asp?U=a&b+c%41%23x%C3%A9&cucumber=73518");
  EXPECT_EQ(r.headerNames(), (std::vector<std::string>{"Host", "Accept", "Accept-Encoding", "Content-Length"}));
  EXPECT_EQ(r.header("Host"), "127.0.0.1:" + std::to_string(peer.port()));
  EXPECT_EQ(r.header("Content-Length"), "0");
  EXPECT_EQ(r.body, "");
}

TEST(CurlHttpSession, BodiesAndGetsGoAsGivenOnOneReusedConnectionAndRedirectsStay) {
  RecordingPeer peer;
  peer.setDefault(PeerReply::xml("<xml/>"));
  Transport t;
  const std::string big(5000, 'q');  // large enough for curl to think of Expect
  t.session->send({"POST", peer.base() + "processForms.asp?pageID=1", big});
  t.session->send({"GET", peer.base() + "d.asp?Cucumber=73518&Time=New", std::nullopt});

  const auto requests = peer.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].body, big);
  EXPECT_EQ(requests[0].headerNames(), (std::vector<std::string>{"Host", "Accept", "Accept-Encoding", "Content-Length"}));
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].target, "/d.asp?Cucumber=73518&Time=New");
  EXPECT_EQ(requests[1].headerNames(), (std::vector<std::string>{"Host", "Accept", "Accept-Encoding"}));
  EXPECT_EQ(requests[0].connection, requests[1].connection);

  // Redirects are not followed.
  PeerReply moved = PeerReply::page(302, "Found", "text/html", "moved");
  moved.headers.emplace_back("Location", peer.base() + "elsewhere");
  peer.enqueue(moved);
  const HttpReply reply = t.session->send({"POST", peer.base() + "x?a=1", std::nullopt});
  EXPECT_EQ(reply.status, 302);
  EXPECT_EQ(reply.body, "moved");
  EXPECT_EQ(peer.requestCount(), 3u);
}

TEST(CurlHttpSession, TransportFailuresAndStallsCarryMinusTheCurlCodeAndNameTheAddress) {
  int closedPort = 0;
  {
    RecordingPeer gone;
    closedPort = gone.port();
  }
  Transport t;
  const std::string address = "http://127.0.0.1:" + std::to_string(closedPort) + "/p.asp";
  const AutomationError refused = sendExpectingError(*t.session, {"POST", address + "?Pwd=secret", std::nullopt});
  EXPECT_EQ(refused.number(), -7);  // could not connect
  EXPECT_NE(refused.description().find("(" + address + ")"), std::string::npos) << refused.description();
  EXPECT_EQ(refused.description().find("secret"), std::string::npos);

  RecordingPeer peer;
  // A stalled server ends the call at the stall limit.
  peer.enqueue(PeerReply::stall());
  t.session->setLimits({std::chrono::seconds(5), std::chrono::seconds(1), 1024});
  EXPECT_EQ(sendExpectingError(*t.session, {"POST", peer.base() + "slow", std::nullopt}).number(), -28);
  EXPECT_EQ(peer.requestCount(), 1u);
}

TEST(CurlHttpSession, RepliesOverTheCapAreRefusedWhetherOrNotTheirLengthIsAnnounced) {
  RecordingPeer peer;
  Transport t;
  t.session->setLimits({std::chrono::seconds(5), std::chrono::seconds(5), 1000});

  peer.enqueue(PeerReply::page(200, "OK", "", std::string(200000, 'x')));
  const AutomationError announced = sendExpectingError(*t.session, {"POST", peer.base() + "big", std::nullopt});
  EXPECT_EQ(announced.number(), -63);
  EXPECT_NE(announced.description().find("1000 bytes"), std::string::npos) << announced.description();

  // Close-delimited: only the running count can notice.
  peer.enqueue(PeerReply::raw("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(5000, 'y')));
  const AutomationError counted = sendExpectingError(*t.session, {"POST", peer.base() + "big", std::nullopt});
  EXPECT_EQ(counted.number(), -63);
}

TEST(CurlHttpSession, AsksForGzipAndTakesOnlyAWholeDecodedBodyUnderTheCap) {
  RecordingPeer peer;
  Transport t;
  t.session->setLimits({std::chrono::seconds(5), std::chrono::seconds(5), 200000});
  std::string body;  // decoding to more than zlib's output buffer
  for (int i = 0; i < 100000; ++i) body += static_cast<char>(i % 7 ? 'a' + i % 5 : i % 256);
  peer.enqueue(gzipped(gzip(body)));
  EXPECT_EQ(t.session->send({"GET", peer.base() + "d.asp", std::nullopt}).body, body);
  const auto lines = peer.lastRequest().headerLines;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Accept-Encoding: gzip"), 1) << ::testing::PrintToString(lines);

  // A few hundred bytes on the wire that inflate past the cap.
  t.session->setLimits({std::chrono::seconds(5), std::chrono::seconds(5), 1000});
  const std::string bomb = gzip(std::string(200000, '\0'));
  ASSERT_LT(bomb.size(), 1000u);
  peer.enqueue(gzipped(bomb));
  const AutomationError inflated = sendExpectingError(*t.session, {"GET", peer.base() + "bomb.asp", std::nullopt});
  EXPECT_EQ(inflated.number(), -63);
  EXPECT_NE(inflated.description().find("larger than 1000 bytes"), std::string::npos) << inflated.description();

  // Damaged or cut short, a compressed reply is an error naming the address, never a document.
  std::string damaged = gzip("<xml>" + std::string(500, 'z') + "</xml>");
  damaged[damaged.size() - 6] ^= 0x55;  // in the trailer's checksum
  for (const std::string& bad : {std::string("not gzip at all"), damaged, gzip(body).substr(0, 200)}) {
    peer.enqueue(gzipped(bad));
    const AutomationError e = sendExpectingError(*t.session, {"GET", peer.base() + "bad.asp?Pwd=x", std::nullopt});
    EXPECT_EQ(e.number(), -61) << e.description();
    EXPECT_NE(e.description().find("(" + peer.base() + "bad.asp)"), std::string::npos) << e.description();
  }
}

TEST(CurlHttpSession, ReportsProgressUpToTheWholeReply) {
  RecordingPeer peer;
  const std::string body(200000, 'x');
  peer.enqueue(PeerReply::page(200, "OK", "text/plain", body));
  Transport t;
  std::uint64_t last = 0;
  bool grew = true;
  t.session->setProgressHandler([&](std::uint64_t received, std::uint64_t) {
    grew = grew && received >= last;
    last = received;
  });
  EXPECT_EQ(t.session->send({"GET", peer.base() + "big", std::nullopt}).body.size(), body.size());
  EXPECT_TRUE(grew);
  EXPECT_EQ(last, body.size());

  // A handler that throws ends the transfer with its own error, and the session
  // still serves the next request.
  peer.enqueue(PeerReply::page(200, "OK", "text/plain", body));
  t.session->setProgressHandler([](std::uint64_t, std::uint64_t) { throw AutomationError(61); });
  EXPECT_EQ(sendExpectingError(*t.session, {"GET", peer.base() + "big", std::nullopt}).number(), 61);
  t.session->setProgressHandler({});
  peer.enqueue(PeerReply::page(200, "OK", "text/plain", "done"));
  EXPECT_EQ(t.session->send({"GET", peer.base() + "small", std::nullopt}).body, "done");
}

}  // namespace
}  // namespace qmx
