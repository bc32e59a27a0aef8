// qmx-server end to end: the built program on a free loopback port, spoken to
// through the control's own HTTP session, so requests go out as the control writes them.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/posix/posix_platform.h"
#include "support/server_process.h"
#include "support/temp_root.h"

namespace qmx::test {
namespace {

std::string loginTarget(const std::string& user, const std::string& pwd, const std::string& company = ServerProcess::kCompanyId,
                        const std::string& access = "73518", const std::string& action = "Login") {
  return "/Bus_ChkComp.asp?Action=" + action + "&Username=" + user + "&Pwd=" + pwd + "&CompanyID=" + company +
         "&cucumber=" + access;
}

std::string downloadTarget(const std::string& data, const std::string& company = ServerProcess::kCompanyId) {
  return "/data.asp?Time=New&Data=" + data + "&MachineID=7&LocationID=12&CompanyID=" + company + "&cucumber=73518";
}

std::string refreshTarget(const std::string& stamp, const std::string& data = "customers.xml",
                          const std::string& access = "73518") {
  return "/data.asp?Cucumber=" + access + "&Time=" + stamp + "&Data=" + data +
         "&MachineID=7&LocationID=12&CompanyID=" + ServerProcess::kCompanyId;
}

struct Parsed {
  pugi::xml_document doc;
  explicit Parsed(const std::string& text) {
    if (!doc.load_string(text.c_str())) throw std::runtime_error("not XML: " + text);
  }
  std::string status() const { return doc.child("xml").child("status").text().get(); }
  std::string attr(const char* name) const { return doc.child("xml").child("status").attribute(name).value(); }
  std::string modTime() const { return doc.select_node("//TimeStamp").node().attribute("ModTime").value(); }
  std::vector<int> keys() const {
    std::vector<int> out;
    for (auto row : doc.child("xml").child("rs:data").children("z:row")) out.push_back(row.attribute("iKey").as_int());
    return out;
  }
  pugi::xml_node row(int key) const {
    return doc.select_node(("//z:row[@iKey=" + std::to_string(key) + "]").c_str()).node();
  }
};

class ServerTest : public ::testing::Test {
 protected:
  ServerProcess server{QMX_SERVER_PATH};
  TempRoot root;
  PosixPlatform platform{root.path()};
  std::unique_ptr<HttpSession> session = platform.openHttpSession();
  HttpReply post(const std::string& target, const std::string& body = "") {
    return session->send({"POST", server.baseUrl() + target.substr(1), body});
  }
  HttpReply get(const std::string& target) {
    return session->send({"GET", server.baseUrl() + target.substr(1), std::nullopt});
  }
};

TEST_F(ServerTest, LoginGivesLevelsAndRefusesEachBadCredentialWithItsOwnNumber) {
  const HttpReply demo = post(loginTarget("demo", "demo123"));
  EXPECT_EQ(demo.status, 200);
  EXPECT_EQ(demo.contentType, "text/xml; charset=utf-8");
  EXPECT_EQ(demo.body, R"(<xml><status levelNum="5">Success</status></xml>)");
  EXPECT_EQ(Parsed(post(loginTarget("clerk", "clerk123")).body).attr("levelNum"), "1");

  // An unknown name and a wrong password look alike, so names cannot be probed.
  const Parsed wrongPwd(post(loginTarget("demo", "demo124")).body);
  const Parsed unknownUser(post(loginTarget("nobody", "demo123")).body);
  EXPECT_EQ(wrongPwd.status(), "Failure");
  EXPECT_EQ(wrongPwd.attr("ErrNumber"), "1004");
  EXPECT_EQ(unknownUser.attr("ErrNumber"), "1004");
  EXPECT_EQ(unknownUser.attr("ErrDesc"), wrongPwd.attr("ErrDesc"));
  // Case counts in user names and passwords.
  EXPECT_EQ(Parsed(post(loginTarget("Demo", "demo123")).body).attr("ErrNumber"), "1004");
  EXPECT_EQ(Parsed(post(loginTarget("demo", "DEMO123")).body).attr("ErrNumber"), "1004");

  EXPECT_EQ(Parsed(post(loginTarget("demo", "demo123", "OTHER-CO")).body).attr("ErrNumber"), "1003");
  EXPECT_EQ(Parsed(post(loginTarget("demo", "demo123", ServerProcess::kCompanyId, "73519")).body).attr("ErrNumber"),
            "1001");
  EXPECT_EQ(Parsed(post("/Bus_ChkComp.asp?Action=Login&Username=demo&Pwd=demo123&CompanyID=VELMORA-DEMO").body)
                .attr("ErrNumber"),
            "1001");
  EXPECT_EQ(Parsed(post(loginTarget("demo", "demo123", ServerProcess::kCompanyId, "73518", "Logout")).body)
                .attr("ErrNumber"),
            "1002");
  // The page name is matched without regard to case, as the service always did.
  EXPECT_EQ(Parsed(post("/BUS_CHKCOMP.ASP?Action=Login&Username=demo&Pwd=demo123&CompanyID=VELMORA-DEMO&cucumber=73518")
                       .body)
                .status(),
            "Success");
}

TEST_F(ServerTest, InitialDownloadIsACompleteRowsetWithSchemaAndTimeStamp) {
  const HttpReply reply = post(downloadTarget("customers.xml"));
  ASSERT_EQ(reply.status, 200);
  const Parsed doc(reply.body);
  const auto root = doc.doc.child("xml");
  EXPECT_STREQ(root.attribute("xmlns:rs").value(), "urn:schemas-microsoft-com:rowset");
  EXPECT_STREQ(root.attribute("xmlns:z").value(), "#RowsetSchema");
  EXPECT_STREQ(root.attribute("xmlns:s").value(), "uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882");
  EXPECT_STREQ(root.attribute("xmlns:dt").value(), "uuid:C2F41010-65B3-11d1-A29F-00AA00C14882");
  EXPECT_EQ(doc.status(), "Success");
  EXPECT_FALSE(doc.modTime().empty());
  EXPECT_EQ(doc.keys(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));

  std::vector<std::string> described;
  for (auto t : root.child("s:Schema").child("s:ElementType").children("s:AttributeType")) {
    described.push_back(t.attribute("name").value());
  }
  EXPECT_EQ(described, (std::vector<std::string>{"iKey", "sName", "sCity", "sPhone"}));
  // Non-ASCII and XML-special values survive as UTF-8 text.
  EXPECT_STREQ(doc.row(12).attribute("sName").value(), "Lindqvist Caf\xC3\xA9");
  EXPECT_STREQ(doc.row(4).attribute("sName").value(), "Dunmore & Sons");

  const Parsed items(post(downloadTarget("items.xml")).body);
  EXPECT_EQ(items.keys().size(), 12u);
  EXPECT_STREQ(items.row(1).attribute("sCode").value(), "BOLT-10");
}

TEST_F(ServerTest, RefreshSendsNoDataThenExactlyTheChangedRowsUnderANewStamp) {
  const std::string first = Parsed(post(downloadTarget("customers.xml")).body).modTime();
  const Parsed unchanged(get(refreshTarget(first)).body);
  EXPECT_EQ(unchanged.status(), "NODATA");
  EXPECT_TRUE(unchanged.keys().empty());

  server.changeRow("customers.xml", 3, {{"sName", "Cobalt & Co"}});
  server.changeRow("customers.xml", 40, {{"sName", "Newcomer"}, {"sRegion", "North"}});
  server.changeRow("items.xml", 2, {{"cPrice", "0.15"}});  // another set: not in the reply

  const Parsed changed(get(refreshTarget(first)).body);
  EXPECT_EQ(changed.status(), "Success");
  EXPECT_EQ(changed.keys(), (std::vector<int>{3, 40}));
  EXPECT_STREQ(changed.row(3).attribute("sName").value(), "Cobalt & Co");
  EXPECT_STREQ(changed.row(3).attribute("sCity").value(), "Lakeside");  // untouched fields come along
  EXPECT_STREQ(changed.row(40).attribute("sRegion").value(), "North");
  const std::string second = changed.modTime();
  EXPECT_NE(second, first);

  EXPECT_EQ(Parsed(get(refreshTarget(second)).body).status(), "NODATA");
  // A client that missed the reply asks again with its old stamp and gets the same rows.
  EXPECT_EQ(Parsed(get(refreshTarget(first)).body).keys(), (std::vector<int>{3, 40}));
  // The full set now carries the new row and the new stamp.
  const Parsed full(post(downloadTarget("customers.xml")).body);
  EXPECT_EQ(full.keys().size(), 13u);
  EXPECT_EQ(full.modTime(), second);
}

TEST_F(ServerTest, RefreshWithAStampNeverIssuedHereSendsTheWholeSet) {
  const std::string issued = Parsed(post(downloadTarget("customers.xml")).body).modTime();
  ServerProcess other(QMX_SERVER_PATH);
  const std::string foreign =
      Parsed(session->send({"POST", other.baseUrl() + downloadTarget("customers.xml").substr(1), ""}).body).modTime();
  const std::string instance = issued.substr(0, issued.find('.'));

  for (const std::string& stamp : {std::string("bogus"), std::string(""), foreign, instance + ".999999",
                                   instance + ".-1", instance + ".3x"}) {
    const Parsed reply(get(refreshTarget(stamp)).body);
    EXPECT_EQ(reply.status(), "NEWDATA") << stamp;
    EXPECT_EQ(reply.keys().size(), 12u) << stamp;
    EXPECT_EQ(reply.modTime(), issued) << stamp;
  }
  EXPECT_EQ(other.stop(), 0);
}

TEST_F(ServerTest, DataPagesRefuseWrongAccessValueAndUnknownNames) {
  const std::string stamp = Parsed(post(downloadTarget("customers.xml")).body).modTime();
  const Parsed denied(get(refreshTarget(stamp, "customers.xml", "12345")).body);
  EXPECT_EQ(denied.status(), "Failure");
  EXPECT_EQ(denied.attr("ErrNumber"), "1001");
  EXPECT_TRUE(denied.keys().empty());

  EXPECT_EQ(Parsed(post(downloadTarget("missing.xml")).body).attr("ErrNumber"), "1005");
  EXPECT_EQ(Parsed(get(refreshTarget(stamp, "missing.xml")).body).status(), "Failure");
  EXPECT_EQ(Parsed(post(downloadTarget("customers.xml", "OTHER-CO")).body).attr("ErrNumber"), "1003");

  const HttpReply notAPage = get("/favicon.ico");
  EXPECT_EQ(notAPage.status, 404);
  EXPECT_EQ(Parsed(notAPage.body).attr("ErrNumber"), "1008");
}

TEST_F(ServerTest, QueryValuesDecodePercentEscapesOnlyAndKeepPlusSigns) {
  server.changeRow("a+b c.xml", 1, {{"sName", "plus"}});
  server.changeRow("Caf\xC3\xA9.xml", 1, {{"sName", "accent"}});

  EXPECT_EQ(Parsed(post(downloadTarget("a+b%20c.xml")).body).status(), "Success");
  EXPECT_EQ(Parsed(post(downloadTarget("a%2Bb%20c.xml")).body).status(), "Success");
  EXPECT_EQ(Parsed(post(downloadTarget("a%20b%20c.xml")).body).attr("ErrNumber"), "1005");
  // The accent as UTF-8, and as the single byte of the Windows code page.
  EXPECT_EQ(Parsed(post(downloadTarget("Caf%C3%A9.xml")).body).status(), "Success");
  EXPECT_EQ(Parsed(post(downloadTarget("Caf%E9.xml")).body).status(), "Success");
}

TEST_F(ServerTest, UploadStoresWellFormedTransactionsAndRefusesOthers) {
  const std::string body = "<xml><rs:data Screen=\"Orders\">\n<z:row iKey=\"1\" sNote=\"a\tb\"/></rs:data></xml>";
  const HttpReply ok = post("/processForms.asp?pageID=Orders&CompanyID=VELMORA-DEMO&Action=Save", body);
  EXPECT_EQ(ok.body, "<xml><status>Success</status></xml>");

  const Parsed malformed(post("/processForms.asp?pageID=Orders&CompanyID=VELMORA-DEMO&Action=Save", "<xml><open>").body);
  EXPECT_EQ(malformed.attr("ErrNumber"), "1007");
  EXPECT_EQ(Parsed(post("/processForms.asp?pageID=Orders&CompanyID=VELMORA-DEMO&Action=Save", "").body).attr("ErrNumber"),
            "1007");
  EXPECT_EQ(Parsed(post("/processForms.asp?pageID=Orders&CompanyID=VELMORA-DEMO&Action=Delete", body).body)
                .attr("ErrNumber"),
            "1002");
  EXPECT_EQ(Parsed(post("/processForms.asp?pageID=&CompanyID=VELMORA-DEMO&Action=Save", body).body).attr("ErrNumber"),
            "1006");
  EXPECT_EQ(Parsed(post("/processForms.asp?pageID=Orders&CompanyID=NOPE&Action=Save", body).body).attr("ErrNumber"),
            "1003");

  const CommandResult list = server.command({"list-transactions"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  // Only the accepted upload, on one line with its line break and tab escaped.
  const std::string expectedTail =
      "\tVELMORA-DEMO\tOrders\t<xml><rs:data Screen=\"Orders\">\\n<z:row iKey=\"1\" sNote=\"a\\tb\"/></rs:data></xml>\n";
  ASSERT_EQ(list.out.rfind("1\t", 0), 0u) << list.out;
  EXPECT_EQ(list.out.substr(list.out.size() - expectedTail.size()), expectedTail);
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1);
}

TEST_F(ServerTest, ChangeRowRefusesFieldsThatWouldBreakTheRowsetAndKeepsTheSetReadable) {
  for (const std::string& field : {std::string("bad name=x"), std::string("iKey=5"), std::string("sNote=a\x01z"),
                                   std::string("x:y=1"), std::string("noequals")}) {
    const CommandResult r = server.command({"change-row", "--data", "customers.xml", "--key", "1", "--field", field});
    EXPECT_NE(r.exitCode, 0) << field;
  }
  EXPECT_NE(server.command({"change-row", "--data", "customers.xml", "--key", "1", "--company", "NOPE",
                            "--field", "sName=x"}).exitCode,
            0);
  const std::string stamp = Parsed(post(downloadTarget("customers.xml")).body).modTime();
  // Nothing was stamped by the refused changes.
  EXPECT_EQ(Parsed(get(refreshTarget(stamp)).body).status(), "NODATA");
  EXPECT_STREQ(Parsed(post(downloadTarget("customers.xml")).body).row(1).attribute("sName").value(), "Abbott Hardware");
}

TEST_F(ServerTest, InitDemoNeverOverwritesAnExistingDatabase) {
  const CommandResult again = runProgram(QMX_SERVER_PATH, {"init-demo", "--db", server.databasePath()});
  EXPECT_NE(again.exitCode, 0);
  EXPECT_NE(again.err.find(server.databasePath()), std::string::npos);
  server.changeRow("customers.xml", 5, {{"sName", "Kept"}});
  EXPECT_STREQ(Parsed(post(downloadTarget("customers.xml")).body).row(5).attribute("sName").value(), "Kept");
}

TEST_F(ServerTest, ServeStopsCleanlyOnSigtermAndRefusesAMissingDatabase) {
  EXPECT_EQ(Parsed(post(loginTarget("demo", "demo123")).body).status(), "Success");
  EXPECT_EQ(server.stop(), 0);

  const CommandResult missing = runProgram(QMX_SERVER_PATH, {"serve", "--db", root.at("none.db"), "--port", "0"});
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_NE(missing.err.find("none.db"), std::string::npos);
  EXPECT_FALSE(root.exists("none.db"));
}

}  // namespace
}  // namespace qmx::test
