#include <gtest/gtest.h>

#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"
#include "support/fake_platform.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

TEST(OfflineSwitch, StateOnDiskIsSharedOutlivesTheControlsAndReadsOfflineWhenUnreadable) {
  test::TempRoot root;
  PosixPlatform first(root.path());
  PosixPlatform second(root.path());
  EXPECT_FALSE(XMLLoad(first).getOffline());  // no state file: connected
  XMLLoad(first).SetOffline(true);
  EXPECT_EQ(root.read("internet-state"), "16\n");
  XMLLoad reader(second);
  EXPECT_TRUE(reader.getOffline());

  reader.SetOffline(false);
  EXPECT_FALSE(XMLLoad(first).getOffline());
  EXPECT_EQ(root.read("internet-state"), "1\n");

  // Unreadable state reads offline.
  XMLLoad c(first);
  for (const char* text : {"", "1x"}) {
    root.write("internet-state", text);
    EXPECT_TRUE(c.getOffline()) << text;
  }
  root.write("internet-state", " 17\n");  // connected bit with another
  EXPECT_FALSE(c.getOffline());
  std::remove(root.at("internet-state").c_str());
  root.makeFolder("internet-state");
  EXPECT_TRUE(c.getOffline());

  // Where the system keeps the state, going offline is forced for every program.
  test::FakePlatform fake;
  XMLLoad(fake).SetOffline(true);
  EXPECT_EQ(fake.connectedFlags, kIsoForceDisconnected);
  EXPECT_EQ(fake.connectedState, kInternetStateDisconnectedByUser);
}

}  // namespace
}  // namespace qmx
