#include <gtest/gtest.h>

#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"
#include "support/fake_platform.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

TEST(OfflineSwitch, SetsTheDisconnectedByUserStateAndReadsOnlyTheConnectedBit) {
  test::FakePlatform platform;
  XMLLoad c(platform);
  c.SetOffline(true);
  EXPECT_EQ(platform.connectedState, kInternetStateDisconnectedByUser);
  EXPECT_EQ(platform.connectedFlags, kIsoForceDisconnected);
  EXPECT_TRUE(c.getOffline());
  c.SetOffline(false);
  EXPECT_EQ(platform.connectedState, kInternetStateConnected);
  EXPECT_EQ(platform.connectedFlags, 0u);
  EXPECT_FALSE(c.getOffline());
  c.SetOffline(1);  // any non-zero Boolean, not only -1
  EXPECT_TRUE(c.getOffline());

  for (std::uint32_t online : {0x1u, 0x3u, 0x11u, 0xFFFFFFFFu}) {
    platform.connectedState = online;
    EXPECT_FALSE(c.getOffline()) << online;
  }
  for (std::uint32_t offline : {0x0u, 0x2u, 0x10u, 0xFFFFFFFEu}) {
    platform.connectedState = offline;
    EXPECT_TRUE(c.getOffline()) << offline;
  }
  platform.connectedState = std::nullopt;  // the query fails
  EXPECT_TRUE(c.getOffline());

  // A refused set changes nothing and reports nothing.
  platform.connectedState = kInternetStateConnected;
  platform.refuseSetConnectedState = true;
  EXPECT_NO_THROW(c.SetOffline(true));
  EXPECT_FALSE(c.getOffline());
}

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

  // A machine whose root folder does not exist yet gets one.
  PosixPlatform fresh(root.at("fresh"));
  XMLLoad(fresh).SetOffline(true);
  EXPECT_EQ(root.read("fresh/internet-state"), "16\n");

  // Unreadable state reads offline.
  XMLLoad c(first);
  for (const char* text : {"", "abc", "1x", "-1"}) {
    root.write("internet-state", text);
    EXPECT_TRUE(c.getOffline()) << text;
  }
  root.write("internet-state", " 17\n");  // connected bit with another
  EXPECT_FALSE(c.getOffline());
  std::remove(root.at("internet-state").c_str());
  root.makeFolder("internet-state");
  EXPECT_TRUE(c.getOffline());
  c.SetOffline(false);  // cannot replace a folder: silently nothing
  EXPECT_TRUE(c.getOffline());
}

}  // namespace
}  // namespace qmx
