// HTTPCall on the wire and every way a reply can turn out: the request's exact
// bytes, the envelope's outcomes, the reply's character set, transport failures.
#include <gtest/gtest.h>

#include <array>

#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"
#include "support/recording_peer.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

using test::PeerReply;
using test::RecordingPeer;

class HttpCallTest : public ::testing::Test {
 protected:
  test::TempRoot root;
  PosixPlatform platform{root.path()};
  RecordingPeer peer;
  std::vector<std::string> notices;
  std::unique_ptr<XMLLoad> control;

  void SetUp() override {
    control = std::make_unique<XMLLoad>(platform, [this](const std::string& name) { notices.push_back(name); });
    notices.clear();
  }

  XmlDocument callWithReply(PeerReply reply) {
    peer.enqueue(std::move(reply));
    return control->HTTPCall("", peer.base() + "page.asp?A=1");
  }
};

TEST_F(HttpCallTest, SendsAnEmptyPostToTheAddressWithTheAccessValueAppended) {
  peer.setDefault(PeerReply::xml("<xml><status>Success</status></xml>"));
  control->HTTPCall("<ignored>body</ignored>", peer.base() + "d.asp?Time=New&Data=a b#1+2&x=%41&Name=J\xC3\xBC");
  control->HTTPCall("", peer.base() + "plain.asp");

  const auto requests = peer.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/d.asp?Time=New&Data=a%20b%231+2&x=%41&Name=J%C3%BC&cucumber=73518");
  EXPECT_EQ(requests[0].body, "");
  EXPECT_EQ(requests[0].header("Content-Length"), "0");
  // No "?" in the address: the parameter is appended all the same.
  EXPECT_EQ(requests[1].target, "/plain.asp&cucumber=73518");
}

TEST_F(HttpCallTest, SuccessReturnsTheWholeDocumentAndClearsTheErrorProperties) {
  control->put_ErrorNumber(55);
  control->put_ErrorDesc("old");
  notices.clear();
  const XmlDocument doc = callWithReply(PeerReply::xml(
      "<xml><status ErrNumber=\"4\" ErrDesc=\"ignored\" levelNum=\"2\">Success</status><row id=\"9\"/></xml>"));
  ASSERT_TRUE(doc);
  EXPECT_STREQ(doc->child("xml").child("row").attribute("id").value(), "9");
  EXPECT_EQ(control->get_ErrorNumber(), 0);
  EXPECT_EQ(control->get_ErrorDesc(), "");
  EXPECT_EQ(notices, (std::vector<std::string>{"ErrorNumber", "ErrorDesc"}));
}

TEST_F(HttpCallTest, FailureRepliesRecordTheirOwnNumberOrTheHandlersError) {
  struct Case {
    const char* what;
    PeerReply reply;
    int number;
    std::string description;
  };
  const std::vector<Case> cases = {
      {"own number and text",
       PeerReply::xml("<xml><status ErrNumber=\"12\" ErrDesc=\"Wrong password\">Failure</status></xml>"), 12,
       "Wrong password"},
      {"case differs, no number", PeerReply::xml("<xml><status>success</status></xml>"), 91,
       "Object variable or With block variable not set"},
      {"not a number", PeerReply::xml("<xml><status ErrNumber=\"twelve\" ErrDesc=\"d\">F</status></xml>"), 13,
       "Type mismatch"},
      {"error page, not xml", PeerReply::page(500, "Error", "text/html", "Success"), 91,
       "Object variable or With block variable not set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(callWithReply(c.reply), nullptr);
    EXPECT_EQ(control->get_ErrorNumber(), c.number);
    EXPECT_EQ(control->get_ErrorDesc(), c.description);
  }
}

TEST_F(HttpCallTest, ReplyTextIsDecodedByItsDeclaredCharacterSet) {
  // {content type, ErrDesc bytes, the text read}: the code page, undeclared UTF-8 with a bad byte.
  const std::vector<std::array<std::string, 3>> cases = {
      {"text/xml; charset=windows-1252", "Gr\xFC\xDF" "e \x80", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"},
      {"text/xml", "a\xFF" "b", "a\xEF\xBF\xBD" "b"},
  };
  for (const auto& [type, bytes, text] : cases) {
    callWithReply(PeerReply::xml("<xml><status ErrNumber=\"1\" ErrDesc=\"" + bytes + "\">F</status></xml>", type));
    EXPECT_EQ(control->get_ErrorDesc(), text) << type;
  }
}

TEST_F(HttpCallTest, TransportFailuresAreRecordedNotRaised) {
  int closedPort = 0;
  {
    RecordingPeer gone;
    closedPort = gone.port();
  }
  const std::string address = "http://127.0.0.1:" + std::to_string(closedPort) + "/Bus_ChkComp.asp";
  EXPECT_EQ(control->HTTPCall("", address + "?Pwd=secret"), nullptr);
  EXPECT_EQ(control->get_ErrorNumber(), -7);
  EXPECT_NE(control->get_ErrorDesc().find("(" + address + ")"), std::string::npos) << control->get_ErrorDesc();
  EXPECT_EQ(control->get_ErrorDesc().find("secret"), std::string::npos);

  // A connection closed without a reply is recorded too, and the session is
  // still good for the next call.
  EXPECT_EQ(callWithReply(PeerReply::close()), nullptr);
  EXPECT_EQ(control->get_ErrorNumber(), -52);

  EXPECT_NE(callWithReply(PeerReply::xml("<xml><status>Success</status></xml>")), nullptr);
  EXPECT_EQ(control->get_ErrorNumber(), 0);
}

}  // namespace
}  // namespace qmx
