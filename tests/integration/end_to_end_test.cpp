// A day in the life of a machine, against the real qmx-server on loopback over each
// storage engine: log in, download a data set, see the server's changes merged, then
// log in offline and work from the cache. Saved transactions going up: upload_once_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"
#include "support/pg_cluster.h"
#include "support/server_process.h"
#include "support/temp_root.h"

#ifdef QMX_SERVER_PATH

namespace qmx {
namespace {

using test::ServerProcess;

// A control as a host page creates it, over the machine root.
struct Host {
  std::vector<std::string> messages;
  PosixPlatform platform;
  XMLLoad control;
  Host(const test::TempRoot& root, const std::string& serverBase)
      : platform(root.path(), [this](const std::string& text) { messages.push_back(text); }), control(platform) {
    control.put_ServerBase(serverBase);
  }
};

std::string rowField(const XmlDocument& doc, int key, const char* field) {
  const std::string path = "//z:row[@iKey=" + std::to_string(key) + "]/@" + field;
  return doc->select_node(path.c_str()).attribute().value();
}

class EndToEnd : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { if (!db) GTEST_SKIP() << test::kNoPostgres; }
  std::optional<std::string> db = test::databaseFor(GetParam());
  ServerProcess server{QMX_SERVER_PATH, db.value_or(""), true};
};

TEST_P(EndToEnd, DownloadRefreshAndOfflineWorkAgainstTheServer) {
  test::TempRoot root;
  root.writeOneInstallation(ServerProcess::kCompanyId);  // data under C:\QMXData\12
  root.makeFolder("drive_c");
  const std::string page = server.baseUrl() + "data.asp";
  const std::string cacheFile = "drive_c/QMXData/12/customers.xml";

  {
    Host online(root, server.baseUrl());
    ASSERT_FALSE(online.control.startupError()) << online.control.startupError()->description();
    ASSERT_TRUE(online.control.Login("demo", "demo123"));
    // First load: the data set is downloaded and cached.
    std::string address = page;
    const XmlDocument first = online.control.XMLLoad_(address, "customers.xml");
    ASSERT_TRUE(first && first->first_child()) << online.control.get_ErrorDesc();
    EXPECT_EQ(first->select_nodes("//z:row").size(), 12u);
    ASSERT_TRUE(root.exists(cacheFile));

    // The server changes one row and adds another; the next load merges them.
    server.changeRow("customers.xml", 3, {{"sName", "Changed \xC3\xA9 name"}});
    server.changeRow("customers.xml", 40, {{"sName", "Brand new"}});
    address = page;
    const XmlDocument merged = online.control.XMLLoad_(address, "customers.xml");
    EXPECT_NE(address.find("?Cucumber=73518&Time="), std::string::npos) << address;
    EXPECT_EQ(rowField(merged, 3, "sName"), "Changed \xC3\xA9 name");
    EXPECT_EQ(rowField(merged, 40, "sName"), "Brand new");
    online.control.SetOffline(true);
    EXPECT_TRUE(online.messages.empty());
  }

  // The machine is offline; a new page logs in against the last online login and
  // reads the merged rows back from the cache.
  Host offline(root, server.baseUrl());
  ASSERT_TRUE(offline.control.getOffline());
  ASSERT_TRUE(offline.control.Login("demo", "demo123"));
  std::string address = page;
  EXPECT_EQ(rowField(offline.control.XMLLoad_(address, "customers.xml", "New"), 3, "sName"), "Changed \xC3\xA9 name");
  EXPECT_TRUE(offline.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Engines, EndToEnd, testing::Values("SQLite", "PostgreSQL"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace qmx

#endif  // QMX_SERVER_PATH
