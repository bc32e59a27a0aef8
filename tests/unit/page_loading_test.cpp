// XMLLoad's choice between refresh and first download, the data directory it
// makes, and the first download on the wire and on disk.
#include <gtest/gtest.h>

#include "base/automation_error.h"
#include "support/error_of.h"
#include "support/fake_platform.h"
#include "support/sync_world.h"

namespace qmx {
namespace {

using test::PeerReply;
using test::SyncWorld;

const std::string kDownload =
    "<xml><status>Success</status><TimeStamp ModTime=\"d1\"/><rs:data><z:row iKey=\"1\" sName=\"A \xC3\xA9\"/>"
    "</rs:data></xml>";

TEST(PageLoading, DownloadsWhenNoCopyOrNewWhileOnlineAndStoresTheReply) {
  SyncWorld w;
  w.control->put_Authenticated(true);
  w.peer.enqueue(PeerReply::xml(kDownload, "text/xml; charset=utf-8"));
  std::string page = w.page();
  const XmlDocument first = w.control->XMLLoad_(page, "c.xml");

  ASSERT_TRUE(first);
  EXPECT_EQ(xmlText(*first), kDownload);
  EXPECT_EQ(w.readDataFile("c.xml"),
            "<xml><status>Success</status><TimeStamp ModTime=\"d1\"/><rs:data><z:row iKey=\"1\" sName=\"A \xE9\"/>"
            "</rs:data></xml>");
  const auto request = w.peer.lastRequest();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target,
            "/data.asp?Time=New&Data=c.xml&MachineID=42&LocationID=3&CompanyID=A%26B%20Co&cucumber=73518");
  EXPECT_EQ(page, w.page() + "?Time=New&Data=c.xml&MachineID=42&LocationID=3&CompanyID=A%26B Co");

  // "new" in any case, online, fetches afresh over the copy.
  const std::string second = "<xml><status>Success</status><TimeStamp ModTime=\"d2\"/><rs:data/></xml>";
  w.peer.enqueue(PeerReply::xml(second));
  page = w.page();
  EXPECT_EQ(xmlText(*w.control->XMLLoad_(page, "c.xml", "nEw")), second);
  EXPECT_EQ(w.readDataFile("c.xml"), second);
  EXPECT_EQ(w.peer.requestCount(), 2u);
}

TEST(PageLoading, RefusedDownloadGivesAnEmptyDocumentAndNoFile) {
  SyncWorld w;
  w.control->put_Authenticated(true);
  w.peer.enqueue(PeerReply::xml("<xml><status ErrNumber=\"12\" ErrDesc=\"No such data\">Failure</status></xml>"));
  std::string page = w.page();
  const XmlDocument doc = w.control->XMLLoad_(page, "c.xml");
  ASSERT_TRUE(doc);
  EXPECT_FALSE(doc->first_child());
  EXPECT_FALSE(w.hasDataFile("c.xml"));
  EXPECT_EQ(w.control->get_ErrorNumber(), 12);
  EXPECT_EQ(w.control->get_ErrorDesc(), "No such data");
}

// Without a login or offline the directory is made and nothing returned;
// DataPath failures reach the host. Neither sends a request.
TEST(PageLoading, WithoutLoginOrOfflineTheDirectoryIsMadeAndItsFailuresReachTheHost) {
  SyncWorld w;
  std::string page = w.page();
  w.control->put_DataPath("C:\\A\\B");
  EXPECT_EQ(w.control->XMLLoad_(page, "c.xml"), nullptr);
  EXPECT_TRUE(w.root.exists("drive_c/A/B"));

  w.control->put_Authenticated(true);
  w.control->SetOffline(true);
  w.control->put_DataPath("C:\\P\\Q\\");  // the trailing empty piece adds nothing
  EXPECT_EQ(w.control->XMLLoad_(page, "c.xml", "new"), nullptr);
  EXPECT_TRUE(w.root.exists("drive_c/P/Q"));
  EXPECT_EQ(page, w.page());

  w.control->SetOffline(false);
  w.control->put_DataPath("");
  EXPECT_EQ(test::errorNumberOf([&] { w.control->XMLLoad_(page, "c.xml"); }), kSubscriptOutOfRange);
  // The first piece is never made: a missing drive fails at the second level.
  w.control->put_DataPath("Q:\\Data\\3");
  const AutomationError e = test::errorOf([&] { w.control->XMLLoad_(page, "c.xml"); });
  EXPECT_EQ(e.number(), kPathNotFound);
  EXPECT_NE(e.description().find("Q:\\Data"), std::string::npos) << e.description();
  EXPECT_FALSE(w.root.exists("drive_q"));
  EXPECT_EQ(w.peer.requestCount(), 0u);
}

}  // namespace
}  // namespace qmx
