// A day in the life of a machine, against the real qmx-server on loopback: log
// in, download a data set, see the server's changes merged, work offline from
// the cache, save a transaction, come back and upload it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"
#include "support/server_process.h"
#include "support/temp_root.h"

#ifdef QMX_SERVER_PATH

namespace qmx {
namespace {

using test::ServerProcess;

// One installation of the server's demo company, data under C:\QMXData\12.
void writeMachine(const test::TempRoot& root) {
  root.writeOneInstallation(ServerProcess::kCompanyId);
  root.makeFolder("drive_c");
}

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

std::size_t rowCount(const XmlDocument& doc) { return doc->select_nodes("//z:row").size(); }

TEST(EndToEnd, DownloadRefreshOfflineWorkAndUploadAgainstTheServer) {
  ServerProcess server(QMX_SERVER_PATH);
  test::TempRoot root;
  writeMachine(root);
  const std::string page = server.baseUrl() + "data.asp";
  const std::string cacheFile = "drive_c/QMXData/12/customers.xml";

  {
    Host online(root, server.baseUrl());
    ASSERT_FALSE(online.control.startupError()) << online.control.startupError()->description();
    ASSERT_EQ(online.control.get_DataPath(), "C:\\QMXData\\12");
    ASSERT_TRUE(online.control.Login("demo", "demo123"));

    // First load: the data set is downloaded and cached.
    std::string address = page;
    const XmlDocument first = online.control.XMLLoad_(address, "customers.xml");
    ASSERT_TRUE(first && first->first_child()) << online.control.get_ErrorDesc();
    EXPECT_EQ(rowCount(first), 12u);
    ASSERT_TRUE(root.exists(cacheFile));
    const std::string firstFile = root.read(cacheFile);

    // The server changes one row and adds another; the next load merges them.
    server.changeRow("customers.xml", 3, {{"sName", "Changed \xC3\xA9 name"}});
    server.changeRow("customers.xml", 40, {{"sName", "Brand new"}});
    address = page;
    const XmlDocument merged = online.control.XMLLoad_(address, "customers.xml");
    EXPECT_EQ(rowField(merged, 3, "sName"), "Changed \xC3\xA9 name");
    EXPECT_EQ(rowField(merged, 40, "sName"), "Brand new");
    EXPECT_EQ(rowCount(merged), 13u);
    // Row 3 kept its place; the new row came last.
    const auto rows = merged->select_nodes("//z:row");
    EXPECT_STREQ(rows[2].node().attribute("iKey").value(), "3");
    EXPECT_STREQ(rows[12].node().attribute("iKey").value(), "40");
    EXPECT_NE(address.find("?Cucumber=73518&Time="), std::string::npos) << address;
    const std::string mergedFile = root.read(cacheFile);
    EXPECT_NE(mergedFile, firstFile);
    EXPECT_NE(mergedFile.find("Changed \xE9 name"), std::string::npos);

    // Nothing new on the server: the file stays byte for byte.
    address = page;
    online.control.XMLLoad_(address, "customers.xml");
    EXPECT_EQ(root.read(cacheFile), mergedFile);

    online.control.SetOffline(true);
    EXPECT_TRUE(online.messages.empty());
  }

  {
    // The machine is offline; a new page logs in against the last online login
    // and works from the cache.
    Host offline(root, server.baseUrl());
    ASSERT_TRUE(offline.control.getOffline());
    EXPECT_FALSE(offline.control.Login("demo", "wrong"));
    ASSERT_TRUE(offline.control.Login("demo", "demo123"));
    server.changeRow("customers.xml", 5, {{"sName", "Not seen offline"}});
    std::string address = page;
    const XmlDocument cached = offline.control.XMLLoad_(address, "customers.xml", "New");
    EXPECT_EQ(address, page);  // no request was made
    EXPECT_EQ(rowField(cached, 3, "sName"), "Changed \xC3\xA9 name");
    EXPECT_NE(rowField(cached, 5, "sName"), "Not seen offline");

    offline.control.SaveLocal("<xml><rs:data Screen=\"OrderEntry\"><z:row iKey=\"1\" sItem=\"Caf\xC3\xA9\"/></rs:data></xml>",
                              "order1.xml");
    ASSERT_TRUE(root.exists("drive_c/QMXData/12/SavedFiles/order1.xml"));

    // Back online: the saved transaction goes up and leaves the folder.
    offline.control.SetOffline(false);
    EXPECT_FALSE(offline.control.getOffline());
    offline.control.BackOnline();
    EXPECT_TRUE(offline.messages.empty()) << offline.messages.front();
    EXPECT_FALSE(root.exists("drive_c/QMXData/12/SavedFiles/order1.xml"));
  }

  const test::CommandResult listing = server.command({"list-transactions"});
  ASSERT_EQ(listing.exitCode, 0) << listing.err;
  EXPECT_NE(listing.out.find(std::string(ServerProcess::kCompanyId) + "\tOrderEntry\t"), std::string::npos)
      << listing.out;
  EXPECT_NE(listing.out.find("sItem=\"Caf\xC3\xA9\""), std::string::npos) << listing.out;
  EXPECT_EQ(server.stop(), 0);
}

}  // namespace
}  // namespace qmx

#endif  // QMX_SERVER_PATH
