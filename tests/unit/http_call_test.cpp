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
  std::vector<int> errorNumbersSeen;  // ErrorNumber at each of its notifications
  std::unique_ptr<XMLLoad> control;

  void SetUp() override {
    control = std::make_unique<XMLLoad>(platform, [this](const std::string& name) {
      notices.push_back(name);
      if (name == "ErrorNumber") errorNumbersSeen.push_back(control->get_ErrorNumber());
    });
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

  // The outcome is the status element's whole text, however the reply splits it.
  EXPECT_NE(callWithReply(PeerReply::xml("<xml><status><![CDATA[Suc]]><b>c</b>ess</status></xml>")), nullptr);
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
      {"negative edge", PeerReply::xml("<xml><status ErrNumber=\"-32768\" ErrDesc=\"\">x</status></xml>"), -32768,
       ""},
      {"case differs, no number", PeerReply::xml("<xml><status>success</status></xml>"), 91,
       "Object variable or With block variable not set"},
      {"not a number", PeerReply::xml("<xml><status ErrNumber=\"twelve\" ErrDesc=\"d\">F</status></xml>"), 13,
       "Type mismatch"},
      {"out of range", PeerReply::xml("<xml><status ErrNumber=\"32768\" ErrDesc=\"d\">F</status></xml>"), 6,
       "Overflow"},
      {"error page, not xml", PeerReply::page(500, "Error", "text/html", "Success"), 91,
       "Object variable or With block variable not set"},
      {"other root", PeerReply::xml("<reply><status>Success</status></reply>"), 91,
       "Object variable or With block variable not set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(callWithReply(c.reply), nullptr);
    EXPECT_EQ(control->get_ErrorNumber(), c.number);
    EXPECT_EQ(control->get_ErrorDesc(), c.description);
  }
}

TEST_F(HttpCallTest, NumberWithoutDescriptionIsShownThenReplacedBy91) {
  EXPECT_EQ(callWithReply(PeerReply::xml("<xml><status ErrNumber=\"12\">Failure</status></xml>")), nullptr);
  EXPECT_EQ(notices, (std::vector<std::string>{"ErrorNumber", "ErrorNumber", "ErrorDesc"}));
  EXPECT_EQ(errorNumbersSeen, (std::vector<int>{12, 91}));
  EXPECT_EQ(control->get_ErrorDesc(), "Object variable or With block variable not set");
}

TEST_F(HttpCallTest, ReplyTextIsDecodedByItsDeclaredCharacterSet) {
  // {content type, ErrDesc bytes, the text read}: the code page, a set only the
  // system decodes, undeclared UTF-8 with a bad byte, an unknown set.
  const std::vector<std::array<std::string, 3>> cases = {
      {"text/xml; charset=windows-1252", "Gr\xFC\xDF" "e \x80", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"},
      {"text/xml; charset=ISO-8859-15", "\xA4", "\xE2\x82\xAC"},
      {"text/xml", "a\xFF" "b", "a\xEF\xBF\xBD" "b"},
      {"text/xml; charset=x-nonsense", "\xC3\xA9", "\xC3\xA9"},
  };
  for (const auto& [type, bytes, text] : cases) {
    callWithReply(PeerReply::xml("<xml><status ErrNumber=\"1\" ErrDesc=\"" + bytes + "\">F</status></xml>", type));
    EXPECT_EQ(control->get_ErrorDesc(), text) << type;
  }

  // No charset, but a UTF-16 byte-order mark.
  const std::string text = "<xml><status>Success</status></xml>";
  std::string utf16 = "\xFF\xFE";
  for (char ch : text) utf16 += std::string{ch, '\0'};
  EXPECT_NE(callWithReply(PeerReply::xml(utf16, "text/xml")), nullptr);
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

  // The host's limits reach the session already open.
  control->setHttpLimits({std::chrono::seconds(5), std::chrono::seconds(5), 256});
  EXPECT_EQ(callWithReply(PeerReply::page(200, "OK", "", std::string(10000, 'x'))), nullptr);
  EXPECT_EQ(control->get_ErrorNumber(), -63);

  // A connection closed without a reply is recorded too, and the session is
  // still good for the next call.
  EXPECT_EQ(callWithReply(PeerReply::close()), nullptr);
  EXPECT_EQ(control->get_ErrorNumber(), -52);

  EXPECT_NE(callWithReply(PeerReply::xml("<xml><status>Success</status></xml>")), nullptr);
  EXPECT_EQ(control->get_ErrorNumber(), 0);
}

}  // namespace
}  // namespace qmx
