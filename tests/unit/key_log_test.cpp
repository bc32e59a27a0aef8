#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"
#include "store/key_log.h"
#include "support/fake_platform.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

constexpr const char* kLog = "drive_c/Data/12/log/log.xml";
constexpr const char* kDamaged = "drive_c/Data/12/log/log.xml.damaged";

// A control over a temporary machine root whose DataPath is C:\Data\12; no
// installation, so the machine number is 0.
struct KeyWorld {
  test::TempRoot root;
  PosixPlatform platform{root.path(), [](const std::string&) {}};
  XMLLoad control{platform};

  KeyWorld() {
    root.makeFolder("drive_c/Data/12");
    control.put_DataPath("C:\\Data\\12");
  }
};

TEST(GetKey, NumbersFromOneRecordsEachKeyAndNeedsTheDataDirectory) {
  KeyWorld w;
  EXPECT_EQ(w.control.getKey(), "0-0-1");
  EXPECT_EQ(w.root.read(kLog), "<xml><logEvent TempKey=\"1\"/></xml>");
  EXPECT_EQ(w.control.getKey(), "0-0-2");
  EXPECT_EQ(w.root.read(kLog), "<xml><logEvent TempKey=\"1\"/><logEvent TempKey=\"2\"/></xml>");

  // A missing data directory fails without being created.
  w.control.put_DataPath("C:\\Data\\77");
  EXPECT_EQ(test::errorNumberOf([&] { w.control.getKey(); }), kPathNotFound);
  EXPECT_FALSE(w.root.exists("drive_c/Data/77"));
}

TEST(GetKey, ContinuesFromTheFirstAttributeOfTheLastEntryOnlyAndRestartsADamagedLog) {
  KeyWorld w;
  // Earlier entries are kept as they are, a Windows-1252 byte and a character
  // reference for a character outside the page included.
  w.root.write(kLog,
               "<xml><logEvent TempKey=\"5\" note=\"\xE9&#937;\"/><logEvent TempKey=\"41\"/></xml>");
  EXPECT_EQ(w.control.getKey(), "0-0-42");
  EXPECT_EQ(w.root.read(kLog),
            "<xml><logEvent TempKey=\"5\" note=\"\xE9&#937;\"/><logEvent TempKey=\"41\"/>"
            "<logEvent TempKey=\"42\"/></xml>");

  w.root.write(kLog, "<xml><logEvent TempKey=\"50\"/><logEvent TempKey=\"7\"/></xml>");
  EXPECT_EQ(w.control.getKey(), "0-0-8");

  w.root.write(kLog, "<xml><logEvent Other=\"9\" TempKey=\"100\"/></xml>");
  EXPECT_EQ(w.control.getKey(), "0-0-10");

  // A last entry that gives no next number fails and leaves the log alone.
  const std::pair<const char*, std::int32_t> cases[] = {
      {"<xml><logEvent TempKey=\"32767\"/></xml>", kOverflow},
      {"<xml><logEvent TempKey=\"abc\"/></xml>", kTypeMismatch},
      {"<xml><logEvent TempKey=\"3\"/><logEvent/></xml>", kObjectNotSet},
      {"<xml/>", kObjectNotSet},
  };
  for (const auto& [log, number] : cases) {
    w.root.write(kLog, log);
    EXPECT_EQ(test::errorNumberOf([&] { w.control.getKey(); }), number) << log;
    EXPECT_EQ(w.root.read(kLog), log);
  }
  EXPECT_FALSE(w.root.exists(kDamaged));

  // A damaged log restarts at one and is kept aside.
  const std::string damaged = "<xml><logEvent TempKey=\"811\"/><logEv";
  w.root.write(kLog, damaged);
  EXPECT_EQ(w.control.getKey(), "0-0-1");
  EXPECT_EQ(w.root.read(kLog), "<xml><logEvent TempKey=\"1\"/></xml>");
  EXPECT_EQ(w.root.read(kDamaged), damaged);
}

// Every key is one more than the log's last entry, so a key issued twice loses
// an entry: 400 keys from two processes must end the log at 400.
TEST(GetKey, TwoProcessesNeverIssueTheSameKey) {
  test::TempRoot root;
  root.makeFolder("drive_c/Data/12");  // no log folder yet: both may race to create it
  const auto issueKeys = [&root] {
    PosixPlatform platform(root.path(), [](const std::string&) {});
    XMLLoad control(platform);
    control.put_DataPath("C:\\Data\\12");
    for (int i = 0; i < 200; ++i) control.getKey();
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit([&] { try { issueKeys(); return 0; } catch (...) { return 1; } }());
  EXPECT_NO_THROW(issueKeys());
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(root.read(kLog).find("<logEvent TempKey=\"399\"/><logEvent TempKey=\"400\"/></xml>"), std::string::npos);
}

}  // namespace
}  // namespace qmx
