// Purchase orders land in the desktop client's inbox: names, bytes on disk, and
// exactly one message for every problem, never an error to the host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/xmlload.h"
#include "orders/purchase_order.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

constexpr std::string_view kClientKey = "Software\\Velmora Solutions, LLC\\QMX Client\\Settings";
using Messages = std::vector<std::string>;

// An in-memory machine with the inbox folder; the setting as given, or none.
test::FakePlatform fakeInbox(std::optional<std::string> setting = "C:\\QMX\\Inbox") {
  test::FakePlatform fake;
  fake.addFolder("C:\\QMX\\Inbox");
  if (setting) fake.setRegistryString(kClientKey, "Inbox", *setting);
  return fake;
}

TEST(PurchaseOrder, WritesNamedFileWithTheDataInTheSingleBytePage) {
  test::FakePlatform fake = fakeInbox();
  XMLLoad control(fake);
  for (auto [number, name] : {std::pair{"1", "PO0000001.POD"}, {"123456789", "PO23456789.POD"}}) {
    EXPECT_TRUE(control.SaveElectronicPurchaseOrder(number, std::string("order ") + number)) << number;
    EXPECT_EQ(fake.file(std::string("C:\\QMX\\Inbox\\") + name), std::string("order ") + number);
  }
  // Kept as received, spaces and line ends included; the same number replaces the file.
  ASSERT_TRUE(control.SaveElectronicPurchaseOrder("  42  ", "  Caf\xc3\xa9 \xe2\x80\x94 5 \xe2\x82\xac\r\n  "));
  EXPECT_EQ(fake.file("C:\\QMX\\Inbox\\PO00000042.POD"), "  Caf\xe9 \x97 5 \x80\r\n  ");
  EXPECT_TRUE(fake.messageBoxes.empty());
}

TEST(PurchaseOrder, ChecksRunInOrderEachWithItsOwnMessageOnly) {
  struct Case {
    std::string number, data;
    std::optional<std::string> setting;
    std::string_view message;
  };
  const Case cases[] = {
      {"", "", "C:\\QMX\\Inbox", kNoOrderDataMessage},
      {"", "data", "C:\\QMX\\Inbox", kNoOrderNumberMessage},
      {"12a", "data", std::nullopt, kNoOrderNumberMessage},
      {"12", "data", std::nullopt, kInboxMissingMessage},
      {"12", "data", "C:\\QMX\\Elsewhere", kInboxMissingMessage},
  };
  for (const auto& c : cases) {
    test::FakePlatform fake = fakeInbox(c.setting);
    EXPECT_FALSE(saveElectronicPurchaseOrder(fake, c.number, c.data)) << c.message;
    EXPECT_EQ(fake.messageBoxes, Messages{std::string(c.message)});
    EXPECT_TRUE(fake.allFiles().empty());
  }
}

// A failed write keeps the earlier file and shows one message: a file that
// cannot be created (permission bits do not stop root, so the refusal is
// injected) is named, with no second backslash after the setting's; a full disk
// or text the code page cannot hold is unexpected.
TEST(PurchaseOrder, FailedWriteKeepsTheEarlierFileAndShowsItsMessage) {
  const std::string unexpected = "An unexpected error occurred while attempting to process the Electronic "
                                 "Purchase Order.  Please contect Technical Support.";
  const std::pair<std::int32_t, std::string> faults[] = {
      {kPermissionDenied, "The local file, \r\n\r\nC:\\QMX\\Inbox\\PO00000042.POD\r\n\r\n, "
                          "could not be created.  Please contact Technicl Support."},
      {kDiskFull, unexpected}};
  for (const auto& [error, message] : faults) {
    test::FakePlatform fake = fakeInbox("C:\\QMX\\Inbox\\");
    ASSERT_TRUE(saveElectronicPurchaseOrder(fake, "42", "first"));
    test::FaultyPlatform faulty(fake);
    faulty.countOnly({test::PlatformCall::ReplaceFile});
    faulty.failAt(1, error);
    EXPECT_FALSE(saveElectronicPurchaseOrder(faulty, " 42 ", "second"));
    EXPECT_EQ(fake.file("C:\\QMX\\Inbox\\PO00000042.POD"), "first");
    EXPECT_EQ(fake.messageBoxes, Messages{message});
  }
  test::FakePlatform fake = fakeInbox();
  EXPECT_FALSE(saveElectronicPurchaseOrder(fake, "42", "second \xe4\xb8\xad"));
  EXPECT_TRUE(fake.allFiles().empty());
  EXPECT_EQ(fake.messageBoxes, Messages{unexpected});

  // Nothing reaches the host, even when the message box itself fails.
  fake.onMessageBox = [](const std::string&) { throw std::runtime_error("no desktop"); };
  bool result = true;
  EXPECT_NO_THROW(result = saveElectronicPurchaseOrder(fake, "", "data"));
  EXPECT_FALSE(result);
}

}  // namespace
}  // namespace qmx
