#include <gtest/gtest.h>

#include <memory>

#include "control/xmlload.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

using test::FakePlatform;
using test::kSettingsRootPath;
using Names = std::vector<std::string>;

const std::string kRoot(kSettingsRootPath);
const std::string kIdA = "{AAAAAAAA-AAAA-AAAA-AAAA-AAAAAAAAAAAA}";
const std::string kIdB = "{BBBBBBBB-BBBB-BBBB-BBBB-BBBBBBBBBBBB}";

// A control whose notifications are recorded, each with the DataPath it saw.
struct Watched {
  // The control is made in the body: during its start-up the pointer is still null.
  explicit Watched(Platform& platform) {
    control = std::make_unique<XMLLoad>(platform, [this](const std::string& name) {
      names.push_back(name);
      if (name == "DataPath" && control) dataPaths.push_back(control->get_DataPath());
    });
  }
  Names names;
  Names dataPaths;
  std::unique_ptr<XMLLoad> control;
};

TEST(Startup, NoInstallationLeavesTheControlUnconfiguredAndTwoWaitForTheHostsChoice) {
  FakePlatform platform;
  Watched none(platform);
  EXPECT_EQ(none.names, (Names{"Authenticated", "Configured", "Location", "DataPath"}));
  EXPECT_EQ(none.control->get_Configured(), "False");
  EXPECT_EQ(none.control->get_DataPath(), "\\0");
  // ServerBase is trimmed of spaces and never notifies.
  none.names.clear();
  none.control->put_ServerBase("  http://host:1/app  ");
  EXPECT_EQ(none.control->get_ServerBase(), "http://host:1/app/");
  EXPECT_TRUE(none.names.empty());

  platform.addInstallation(kIdB, "B", "2", "2", "0", "C:\\B");
  platform.addInstallation(kIdA, "A", "1", "1", "0", "C:\\A");
  Watched w(platform);
  XMLLoad& c = *w.control;
  EXPECT_EQ(w.names, (Names{"Authenticated", "Configured", "CompanyID"}));
  EXPECT_EQ(c.get_Configured(), "Multi");
  EXPECT_EQ(c.get_CompanyID(), kIdA + ";" + kIdB);
  c.ChooseInstall(kIdB);
  EXPECT_EQ(c.get_DataPath(), "C:\\B\\2");
}

TEST(ChooseInstall, InvoicePreprintThatIsNoBooleanFailsAfterLocationAndMachineNumber) {
  FakePlatform platform;
  platform.addInstallation(kIdA, kIdA, " 7.5 ", "99", "yes", "C:\\Data\\");
  Watched w(platform);
  XMLLoad& c = *w.control;
  ASSERT_TRUE(c.startupError());
  EXPECT_EQ(c.startupError()->number(), kTypeMismatch);
  // The Location write already derived DataPath, with the doubled separator
  // that a data root ending in "\" gives.
  EXPECT_EQ(w.names, (Names{"Authenticated", "Configured", "CompanyID", "Location", "DataPath"}));
  EXPECT_EQ(c.get_Location(), 8);
  EXPECT_EQ(c.get_DataPath(), "C:\\Data\\\\8");
  EXPECT_FALSE(c.get_InvoicePreprint());

  // A machine number that does not convert stops before InvoicePreprint is read.
  platform.setRegistryString(kRoot + kIdA + "\\InvoicePreprint", "", "-1");
  platform.setRegistryString(kRoot + kIdA + "\\iKey", "", "abc");
  w.names.clear();
  EXPECT_EQ(test::errorNumberOf([&] { c.ChooseInstall(kIdA); }), kTypeMismatch);
  EXPECT_EQ(w.names, (Names{"Configured", "CompanyID", "Location", "DataPath"}));
  EXPECT_FALSE(c.get_InvoicePreprint());
}

TEST(ChooseInstall, ConvertsEachSettingAndReportsItsError) {
  FakePlatform platform;
  platform.addRegistryKey(kRoot);
  XMLLoad c(platform);
  const auto chooseWith = [&](const char* location, const char* preprint) {
    platform.addInstallation(kIdA, "ACME", location, "1", preprint, "C:\\D");
    return test::errorNumberOf([&] { c.ChooseInstall(kIdA); });
  };
  c.put_InvoicePreprint(false);
  EXPECT_EQ(chooseWith("7", "true"), 0);
  EXPECT_TRUE(c.get_InvoicePreprint());
  EXPECT_EQ(chooseWith("40000", "0"), kOverflow);
  EXPECT_EQ(c.get_Location(), 7);

  // An identifier that names no installation empties CompanyID, then fails.
  EXPECT_THROW(c.ChooseInstall(kIdB), AutomationError);
  EXPECT_EQ(c.get_Configured(), "True");
  EXPECT_EQ(c.get_CompanyID(), "");
}

TEST(ChooseInstall, DataPathComesFinallyFromTheKeyNamedByTheArgument) {
  FakePlatform platform;
  // The installation's company identifier names another key with its own data root.
  platform.addInstallation(kIdA, kIdB, "12", "1", "0", "C:\\FromArgument");
  platform.setRegistryString(kRoot + kIdB + "\\DataPath", "", "D:\\FromCompany");
  Watched w(platform);
  XMLLoad& c = *w.control;
  w.names.clear();
  w.dataPaths.clear();
  c.ChooseInstall(kIdA);
  EXPECT_EQ(w.names, (Names{"Configured", "CompanyID", "Location", "DataPath", "InvoicePreprint", "DataPath"}));
  EXPECT_EQ(w.dataPaths, (Names{"D:\\FromCompany\\12", "C:\\FromArgument\\12"}));
}

TEST(Startup, AnyFailedRegistryReadEndsCleanly) {
  FakePlatform inner;
  inner.addInstallation(kIdA, "ACME", "12", "4711", "True", "C:\\Data");
  test::FaultyPlatform counting(inner);
  XMLLoad reference(counting);
  const std::size_t calls = counting.calls();
  ASSERT_GT(calls, 5u);
  for (std::size_t n = 1; n <= calls; ++n) {
    test::FaultyPlatform faulty(inner);
    faulty.failAt(n);
    XMLLoad c(faulty);
    EXPECT_EQ(faulty.faultsInjected(), 1u) << n;
    // A missing setting reads as empty text: either it is allowed to be empty
    // (CompanyID, DataPath) or it fails to convert with a type mismatch.
    if (c.startupError()) {
      EXPECT_EQ(c.startupError()->number(), kTypeMismatch) << n;
    } else {
      EXPECT_EQ(c.get_Configured(), n == 1 ? "False" : "True") << n;
    }
  }
}

}  // namespace
}  // namespace qmx
