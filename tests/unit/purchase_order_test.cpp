// Purchase orders land in the desktop client's inbox: names, bytes on disk, and
// exactly one message for every problem, never an error to the host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/xmlload.h"
#include "orders/purchase_order.h"
#include "platform/posix/posix_platform.h"
#include "support/fake_platform.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

constexpr std::string_view kClientKey = "Software\\Velmora Solutions, LLC\\QMX Client\\Settings";

// A machine root whose desktop client has its inbox at C:\QMX\Inbox.
struct InboxMachine {
  explicit InboxMachine(std::string_view inboxSetting = "C:\\\\QMX\\\\Inbox") {
    root.writeRegistryUtf16("Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Velmora Solutions, LLC\\QMX Client\\Settings]\n"
                            "\"Inbox\"=\"" + std::string(inboxSetting) + "\"\n");
    root.makeFolder("drive_c/QMX/Inbox");
  }
  test::TempRoot root;
  std::vector<std::string> messages;
  PosixPlatform platform{root.path(), [this](const std::string& text) { messages.push_back(text); }};
};

// An in-memory machine with an inbox folder and, unless told otherwise, the setting.
struct FakeInbox {
  FakeInbox() {
    fake.addFolder("C:\\QMX\\Inbox");
    fake.setRegistryString(kClientKey, "Inbox", "C:\\QMX\\Inbox\\");
  }
  test::FakePlatform fake;
};

TEST(PurchaseOrder, FileNameKeepsLastEightOfZeroPaddedTrimmedNumber) {
  InboxMachine machine;
  XMLLoad control(machine.platform);
  const std::pair<const char*, const char*> cases[] = {
      {"12345", "PO00012345.POD"},
      {"1", "PO0000001.POD"},
      {"123456789", "PO23456789.POD"},
      {"  42  ", "PO00000042.POD"},
  };
  for (const auto& [number, name] : cases) {
    EXPECT_TRUE(control.SaveElectronicPurchaseOrder(number, std::string("order ") + number)) << number;
    EXPECT_EQ(machine.root.read(std::string("drive_c/QMX/Inbox/") + name), std::string("order ") + number);
  }
  EXPECT_TRUE(machine.messages.empty());
  // Blanks the numeric test lets through never reach a name.
  EXPECT_EQ(purchaseOrderFileName("\t7\r\n"), "PO0000007.POD");
}

TEST(PurchaseOrder, ContentIsWrittenInTheSingleBytePageAsReceived) {
  InboxMachine machine;
  XMLLoad control(machine.platform);
  ASSERT_TRUE(control.SaveElectronicPurchaseOrder("42", "  Caf\xc3\xa9 \xe2\x80\x94 5 \xe2\x82\xac\r\n  "));
  EXPECT_EQ(machine.root.read("drive_c/QMX/Inbox/PO00000042.POD"), "  Caf\xe9 \x97 5 \x80\r\n  ");

  // The same number again replaces the earlier file whole.
  ASSERT_TRUE(control.SaveElectronicPurchaseOrder("42", "second"));
  EXPECT_EQ(machine.root.read("drive_c/QMX/Inbox/PO00000042.POD"), "second");
  EXPECT_TRUE(machine.messages.empty());
}

TEST(PurchaseOrder, ChecksRunInOrderEachWithItsOwnMessageOnly) {
  struct Case {
    const char* what;
    std::string number, data;
    bool withSetting;
    std::string setting;
    std::string_view message;
  };
  const Case cases[] = {
      {"both empty", "", "", true, "C:\\QMX\\Inbox", kNoOrderDataMessage},
      {"spaces-only data", "12", "   ", true, "C:\\QMX\\Inbox", kNoOrderDataMessage},
      {"empty number", "", "data", true, "C:\\QMX\\Inbox", kNoOrderNumberMessage},
      {"number with letters", "12a", "data", false, "", kNoOrderNumberMessage},
      {"missing value", "12", "data", false, "", kInboxMissingMessage},
      {"empty value", "12", "data", true, "", kInboxMissingMessage},
      {"missing folder", "12", "data", true, "C:\\QMX\\Elsewhere", kInboxMissingMessage},
  };
  for (const auto& c : cases) {
    test::FakePlatform fake;
    fake.addFolder("C:\\QMX\\Inbox");
    if (c.withSetting) fake.setRegistryString(kClientKey, "Inbox", c.setting);
    EXPECT_FALSE(saveElectronicPurchaseOrder(fake, c.number, c.data)) << c.what;
    EXPECT_EQ(fake.messageBoxes, std::vector<std::string>{std::string(c.message)}) << c.what;
    EXPECT_TRUE(fake.allFiles().empty()) << c.what;
  }
  EXPECT_EQ(std::string(kInboxMissingMessage),
            "Cannot download ePO data to local drive.  Please verify that the 'Inbox' setting, "
            "from within QMX Client, is properly set to a valid folder.");
}

TEST(PurchaseOrder, RegistryFailureTextNeverServesAsAFolder) {
  test::FakePlatform fake;
  fake.addFolder("Error: Key or Value Not Found.");  // relative to the working directory
  EXPECT_FALSE(saveElectronicPurchaseOrder(fake, "5", "data"));
  EXPECT_EQ(fake.messageBoxes, std::vector<std::string>{std::string(kInboxMissingMessage)});
  EXPECT_TRUE(fake.allFiles().empty());
}

TEST(PurchaseOrder, FileThatCannotBeCreatedIsNamedInTheMessage) {
  // A folder refusing new files (permission bits do not stop root, so inject it).
  for (const char* setting : {"C:\\QMX\\Inbox", "C:\\QMX\\Inbox\\"}) {
    test::FakePlatform fake;
    fake.addFolder("C:\\QMX\\Inbox");
    fake.setRegistryString(kClientKey, "Inbox", setting);
    test::FaultyPlatform faulty(fake);
    faulty.countOnly({test::PlatformCall::ReplaceFile});
    faulty.failAt(1, kPermissionDenied);
    EXPECT_FALSE(saveElectronicPurchaseOrder(faulty, " 42 ", "data"));
    EXPECT_EQ(fake.messageBoxes,
              std::vector<std::string>{"The local file, \r\n\r\nC:\\QMX\\Inbox\\PO00000042.POD\r\n\r\n, "
                                       "could not be created.  Please contact Technicl Support."})
        << setting;
  }

  // On disk: a folder already holds the order file's name.
  InboxMachine machine;
  machine.root.write("drive_c/QMX/Inbox/PO00000009.POD/keep", "kept");
  XMLLoad control(machine.platform);
  EXPECT_FALSE(control.SaveElectronicPurchaseOrder("09", "data"));
  EXPECT_EQ(machine.messages, std::vector<std::string>{orderFileNotCreatedMessage("C:\\QMX\\Inbox\\PO00000009.POD")});
  EXPECT_EQ(machine.root.read("drive_c/QMX/Inbox/PO00000009.POD/keep"), "kept");
}

TEST(PurchaseOrder, FailedWriteKeepsTheEarlierFileAndShowsTheUnexpectedError) {
  const std::string unexpected(kUnexpectedOrderErrorMessage);
  {
    // Text the code page cannot hold fails before anything is written.
    FakeInbox inbox;
    ASSERT_TRUE(saveElectronicPurchaseOrder(inbox.fake, "42", "first"));
    EXPECT_FALSE(saveElectronicPurchaseOrder(inbox.fake, "42", "second \xe4\xb8\xad"));
    EXPECT_EQ(inbox.fake.file("C:\\QMX\\Inbox\\PO00000042.POD"), "first");
    EXPECT_EQ(inbox.fake.messageBoxes, std::vector<std::string>{unexpected});
  }
  {
    // A full disk while writing.
    InboxMachine machine;
    ASSERT_TRUE(saveElectronicPurchaseOrder(machine.platform, "42", "first"));
    test::FaultyPlatform faulty(machine.platform);
    faulty.countOnly({test::PlatformCall::ReplaceFile});
    faulty.failAt(1, kDiskFull);
    EXPECT_FALSE(saveElectronicPurchaseOrder(faulty, "42", "second"));
    EXPECT_EQ(machine.root.read("drive_c/QMX/Inbox/PO00000042.POD"), "first");
    EXPECT_EQ(machine.messages, std::vector<std::string>{unexpected});
  }
  EXPECT_EQ(unexpected,
            "An unexpected error occurred while attempting to process the Electronic Purchase Order.  "
            "Please contect Technical Support.");
}

TEST(PurchaseOrder, NothingReachesTheHostEvenWhenTheMessageBoxFails) {
  FakeInbox inbox;
  inbox.fake.onMessageBox = [](const std::string&) { throw std::runtime_error("no desktop"); };
  bool result = true;
  EXPECT_NO_THROW(result = saveElectronicPurchaseOrder(inbox.fake, "", "data"));
  EXPECT_FALSE(result);
}

}  // namespace
}  // namespace qmx
