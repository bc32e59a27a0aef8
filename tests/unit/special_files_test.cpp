// Files that are not what they seem, on a POSIX data directory: names that
// would lead out of their folder, FIFOs, devices and oversized files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "base/automation_error.h"
#include "support/sync_world.h"

namespace qmx {
namespace {

TEST(SpecialFiles, AListedNameHoldingASeparatorIsNeverTouched) {
  test::SyncWorld w;
  w.putDataFile("..\\..\\..\\registry.reg", "x");  // one name on this file system
  w.putDataFile("c.xml", "<xml/>");
  w.putDataFile("victim.xml", "<xml><rs:data Screen=\"V\"/></xml>");
  w.putDataFile("SavedFiles/..\\victim.xml", "<xml><rs:data Screen=\"S\"/></xml>");
  w.peer.setDefault(test::PeerReply::xml("<xml><status>Success</status></xml>"));
  w.control->BackOnline();
  EXPECT_EQ(w.peer.requestCount(), 0u);
  w.control->DeleteLocalData();
  EXPECT_TRUE(w.root.exists("registry.reg"));
  EXPECT_TRUE(w.hasDataFile("..\\..\\..\\registry.reg"));
  EXPECT_FALSE(w.hasDataFile("c.xml"));
}

TEST(SpecialFiles, OnlyRegularFilesUpToTheReplyCapAreReadAndNothingWaits) {
  test::SyncWorld w;
  w.putDataFile("SavedFiles/big.xml", "");
  ASSERT_EQ(::truncate(w.root.at("drive_c/Data/3/SavedFiles/big.xml").c_str(), kReplySizeCap + 1), 0);
  ASSERT_EQ(::mkfifo(w.root.at("drive_c/Data/3/SavedFiles/f.xml").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(w.root.at("drive_c/123.xml").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", w.root.at("drive_c/Data/3/zero.xml").c_str()), 0);
  for (const std::string path : {"C:\\Data\\3\\SavedFiles\\f.xml", "C:\\Data\\3\\SavedFiles\\big.xml",
                                 "C:\\Data\\3\\zero.xml", "c:\\123.xml"}) {
    try {
      w.platform->readFile(path);
      ADD_FAILURE() << path;
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), kPathFileAccessError);
      EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
    }
  }
  // The members answer as for any unreadable file: GetXSL with nothing, an
  // offline Login with 91, naming the record.
  EXPECT_EQ(w.control->GetXSL(Variant(std::string("f.xml"))), "");
  w.root.write("internet-state", "16");
  try {
    w.control->Login("u", "p");
    ADD_FAILURE() << "logged in without a record";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), kObjectNotSet);
    EXPECT_NE(e.description().find("c:\\123.xml"), std::string::npos) << e.description();
  }
}

}  // namespace
}  // namespace qmx
