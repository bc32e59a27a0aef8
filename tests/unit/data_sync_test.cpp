// Refresh of a cached data file and its first download, driven through XMLLoad
// against a recording peer: the request on the wire and the bytes on disk.
#include <gtest/gtest.h>

#include "base/automation_error.h"
#include "store/cached_data_file.h"
#include "support/error_of.h"
#include "support/sync_world.h"

namespace qmx {
namespace {

using test::PeerReply;
using test::SyncWorld;

// Single-byte text with an accented byte (0xE9) in a field.
const std::string kCached =
    "<xml><status>Success</status><TimeStamp ModTime=\"2024-01-01 10:00&amp;x\"/>"
    "<rs:data><z:row iKey=\"1\" sName=\"Caf\xE9\"/><z:row iKey=\"2\" sName=\"Two\"/></rs:data></xml>";

std::string successReply(const std::string& modTime, const std::string& rows) {
  return "<xml><status>Success</status><TimeStamp ModTime=\"" + modTime + "\"/><rs:data>" + rows +
         "</rs:data></xml>";
}

// Logged in, with c.xml cached.
struct CachedWorld : SyncWorld {
  CachedWorld() {
    putDataFile("c.xml", kCached);
    control->put_Authenticated(true);
  }
};

TEST(DataSync, RefreshRequestKeepsEachValueWholeAndNoDataLeavesTheFileByteForByte) {
  SyncWorld w;
  w.putDataFile("sub/c d.xml", kCached);
  w.control->put_Authenticated(true);
  w.peer.enqueue(PeerReply::xml("<xml><status>NODATA</status></xml>"));

  std::string page = w.page();
  const XmlDocument doc = w.control->XMLLoad_(page, "sub\\c d.xml");

  ASSERT_EQ(w.peer.requestCount(), 1u);
  const auto request = w.peer.lastRequest();
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.body, "");
  // A "&" inside a value is encoded by the control, so the value stays whole;
  // blanks are encoded by the transport; "\" travels as it is.
  EXPECT_EQ(request.target,
            "/data.asp?Cucumber=73518&Time=2024-01-01%2010:00%26x&Data=sub\\c%20d.xml&MachineID=42&LocationID=3"
            "&CompanyID=A%26B%20Co");
  EXPECT_EQ(page, w.page() +
                      "?Cucumber=73518&Time=2024-01-01 10:00%26x&Data=sub\\c d.xml&MachineID=42&LocationID=3"
                      "&CompanyID=A%26B Co");
  EXPECT_EQ(w.readDataFile("sub/c d.xml"), kCached);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->select_node("//z:row[@iKey=1]/@sName").attribute().value(), std::string("Caf\xC3\xA9"));
  EXPECT_TRUE(w.messages.empty());
}

TEST(DataSync, SuccessMergesAndRewritesTheFileAsSingleByteText) {
  CachedWorld w;
  // UTF-8 on the wire; the omega has no byte in the code page.
  w.peer.enqueue(PeerReply::xml(
      successReply("t2", "<z:row iKey=\"2\" sName=\"Deux \xC3\xA9 \xCE\xA9\"/><z:row iKey=\"3\" sName=\"Three\"/>"),
      "text/xml; charset=utf-8"));

  std::string page = w.page();
  const XmlDocument doc = w.control->XMLLoad_(page, "c.xml", "refresh");
  const std::string expected =
      "<xml><status>Success</status><TimeStamp ModTime=\"t2\"/>"
      "<rs:data><z:row iKey=\"1\" sName=\"Caf\xE9\"/><z:row iKey=\"2\" sName=\"Deux \xE9 &#937;\"/>"
      "<z:row iKey=\"3\" sName=\"Three\"/></rs:data></xml>";
  EXPECT_EQ(w.readDataFile("c.xml"), expected);
}

TEST(DataSync, NewDataReturnsTheOldCopyAndTheNextLoadTheNewOne) {
  CachedWorld w;
  const std::string fresh =
      "<xml><status>NEWDATA</status><TimeStamp ModTime=\"n\"/><rs:data><z:row iKey=\"9\"/></rs:data></xml>";
  w.peer.enqueue(PeerReply::xml(fresh));
  w.peer.enqueue(PeerReply::xml("<xml><status>NODATA</status></xml>"));

  std::string page = w.page();
  const XmlDocument first = w.control->XMLLoad_(page, "c.xml");
  EXPECT_EQ(findModTime(*first).value_or(""), "2024-01-01 10:00&x");
  EXPECT_EQ(w.readDataFile("c.xml"), fresh);

  page = w.page();
  const XmlDocument second = w.control->XMLLoad_(page, "c.xml");
  EXPECT_EQ(xmlText(*second), fresh);
  EXPECT_NE(w.peer.lastRequest().target.find("&Time=n&"), std::string::npos);
}

TEST(DataSync, FailureShowsTheMessageAndOtherWordsChangeNothing) {
  CachedWorld w;
  w.peer.enqueue(PeerReply::xml("<xml><status ErrNumber=\"3\" ErrDesc=\"x\">Failure</status></xml>"));
  for (const char* word : {"success", "NoData"}) {
    w.peer.enqueue(PeerReply::xml(std::string("<xml><status>") + word + "</status>" +
                                  "<TimeStamp ModTime=\"zz\"/><rs:data><z:row iKey=\"1\"/></rs:data></xml>"));
  }
  for (int i = 0; i < 3; ++i) {
    std::string page = w.page();
    const XmlDocument doc = w.control->XMLLoad_(page, "c.xml");
    ASSERT_TRUE(doc);
    EXPECT_EQ(findModTime(*doc).value_or(""), "2024-01-01 10:00&x");
  }
  EXPECT_EQ(w.peer.requestCount(), 3u);
  EXPECT_EQ(w.messages, std::vector<std::string>{"Error updating c.xml"});
  EXPECT_EQ(w.readDataFile("c.xml"), kCached);
  EXPECT_EQ(w.control->get_ErrorNumber(), 0);
}

// No request without a login or with "none"; a copy without TimeStamp fails
// even offline and with "none".
TEST(DataSync, NoRequestWhenNoneOrNotLoggedInAndABrokenCopyFailsEvenThen) {
  SyncWorld w;
  w.putDataFile("c.xml", kCached);
  std::string page = w.page();
  EXPECT_TRUE(w.control->XMLLoad_(page, "c.xml"));
  w.control->put_Authenticated(true);
  EXPECT_TRUE(w.control->XMLLoad_(page, "c.xml", "NONE"));
  EXPECT_EQ(page, w.page());
  EXPECT_EQ(w.peer.requestCount(), 0u);

  w.control->SetOffline(true);
  const std::string noStamp = "<xml><rs:data><z:row iKey=\"1\"/></rs:data></xml>";
  w.putDataFile("n.xml", noStamp);
  const AutomationError e = test::errorOf([&] { w.control->XMLLoad_(page, "n.xml", "none"); });
  EXPECT_EQ(e.number(), kObjectNotSet);
  EXPECT_NE(e.description().find("C:\\Data\\3\\n.xml"), std::string::npos) << e.description();
  EXPECT_EQ(w.readDataFile("n.xml"), noStamp);
}

// Each broken refresh reply fails the load with its own error, keeps the cached
// bytes and shows no message. Transport messages name the page, never the access value.
TEST(DataSync, BrokenRefreshReplyFailsTheLoadAndKeepsTheFile) {
  struct Case {
    const char* what;
    PeerReply reply;
    std::int32_t number;
  };
  const std::vector<Case> cases = {
      {"error page", PeerReply::page(500, "Server Error", "text/html", "<html><p>down</html>"), kObjectNotSet},
      {"non-numeric key", PeerReply::xml(successReply("t9", "<z:row iKey=\"1\" sName=\"new\"/><z:row iKey=\"1x\"/>")),
       kTypeMismatch},
      {"closed without a reply", PeerReply::close(), -52},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CachedWorld w;
    w.peer.enqueue(c.reply);
    // The transport retries a dropped reused connection once: drop every later answer.
    w.peer.setDefault(PeerReply::close());
    std::string page = w.page();
    const AutomationError e = test::errorOf([&] { w.control->XMLLoad_(page, "c.xml"); });
    EXPECT_EQ(e.number(), c.number);
    const bool transport = c.number == kObjectNotSet || c.number < 0;
    EXPECT_TRUE(!transport || e.description().find("/data.asp") != std::string::npos) << e.description();
    EXPECT_EQ(e.description().find("Cucumber"), std::string::npos) << e.description();
    EXPECT_EQ(w.readDataFile("c.xml"), kCached);
    EXPECT_TRUE(w.messages.empty());
  }
}

}  // namespace
}  // namespace qmx
