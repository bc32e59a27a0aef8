// qmx-server end to end: the built program on a free loopback port, over a SQLite file
// and over PostgreSQL, spoken to through the control's own HTTP session, so requests
// go out as the control writes them.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/xml_text.h"
#include "platform/posix/posix_platform.h"
#include "support/pg_cluster.h"
#include "support/server_process.h"
#include "support/temp_root.h"

namespace qmx::test {
namespace {

const std::string kUpload = "/processForms.asp?pageID=Orders&CompanyID=VELMORA-DEMO&Action=Save";

std::string downloadTarget(const std::string& data, const std::string& company = ServerProcess::kCompanyId) {
  return "/data.asp?Time=New&Data=" + data + "&MachineID=7&LocationID=12&CompanyID=" + company + "&cucumber=73518";
}

std::string refreshTarget(const std::string& stamp) {
  return "/data.asp?Cucumber=73518&Time=" + stamp + "&Data=customers.xml&MachineID=7&LocationID=12&CompanyID=" +
         ServerProcess::kCompanyId;
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

class ServerTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { if (!db) GTEST_SKIP() << kNoPostgres; }
  std::optional<std::string> db = databaseFor(GetParam());
  ServerProcess server{QMX_SERVER_PATH, db.value_or(""), true, true};
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

TEST_P(ServerTest, LoginUploadAndQueryValuesWorkAndEveryPageRefusesEachBadRequestWithItsOwnNumber) {
  const HttpReply demo = post("/Bus_ChkComp.asp?Action=Login&Username=demo&Pwd=demo123&CompanyID=VELMORA-DEMO&cucumber=73518");
  EXPECT_EQ(demo.status, 200);
  EXPECT_EQ(demo.contentType, "text/xml; charset=utf-8");
  EXPECT_EQ(demo.body, R"(<xml><status levelNum="5">Success</status></xml>)");
  const std::string body = "<xml><rs:data Screen=\"Orders\">\n<z:row iKey=\"1\" sNote=\"a\tb\"/></rs:data></xml>";
  // A replay under the same Idempotency-Key is answered like the first post and not stored again.
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(session->send({"POST", server.baseUrl() + kUpload.substr(1), body, {{"Idempotency-Key", "k-1"}}}).body,
              "<xml><status>Success</status></xml>");
  }
  // A malformed key is refused: taken for none, every replay would be stored again.
  for (const std::string& key : {std::string(201, 'k'), std::string("k 1"), std::string("k\xC3\xA9"), std::string("k\x01")}) {
    const HttpReply reply = session->send({"POST", server.baseUrl() + kUpload.substr(1), body, {{"Idempotency-Key", key}}});
    EXPECT_EQ(reply.status, 400) << key;
    EXPECT_EQ(reply.body, R"(<xml><status ErrNumber="1010" ErrDesc="Malformed Idempotency-Key">Failure</status></xml>)");
  }
  // Query values decode percent escapes only, so plus signs stay; an accent may come
  // as the Windows code page's byte.
  server.changeRow("a+b c.xml", 1, {{"sName", "plus"}});
  server.changeRow("Caf\xC3\xA9.xml", 1, {{"sName", "accent"}});
  for (const char* data : {"a+b%20c.xml", "Caf%E9.xml"}) {
    EXPECT_EQ(Parsed(post(downloadTarget(data)).body).status(), "Success") << data;
  }

  struct Refused {
    std::string target, body;
    const char* number;
  };
  // An unknown name and a wrong password look alike, so names cannot be probed.
  const Refused refused[] = {
      {"/Bus_ChkComp.asp?Action=Login&Username=demo&Pwd=demo124&CompanyID=VELMORA-DEMO&cucumber=73518", "", "1004"},
      {"/Bus_ChkComp.asp?Action=Login&Username=nobody&Pwd=demo123&CompanyID=VELMORA-DEMO&cucumber=73518", "", "1004"},
      {"/Bus_ChkComp.asp?Action=Login&Username=demo&pwd=demo12%34&CompanyID=VELMORA-DEMO&cucumber=73518", "", "1004"},
      {"/Bus_ChkComp.asp?Action=Login&Username=demo&Pwd=demo123&CompanyID=OTHER-CO&cucumber=73518", "", "1003"},
      {"/Bus_ChkComp.asp?Action=Login&Username=demo&Pwd=demo123&CompanyID=VELMORA-DEMO&cucumber=73519", "", "1001"},
      {downloadTarget("missing.xml"), "", "1005"},
      {kUpload, "<xml><open>", "1007"},
      {"/processForms.asp?pageID=Orders&CompanyID=VELMORA-DEMO&Action=Delete", body, "1002"},
      {"/processForms.asp?pageID=&CompanyID=VELMORA-DEMO&Action=Save", body, "1006"},
      {"/favicon.ico", "", "1008"},  // not a page
  };
  std::set<std::string> loginDescriptions;
  for (const Refused& r : refused) {
    const Parsed reply(post(r.target, r.body).body);
    EXPECT_EQ(reply.status(), "Failure") << r.target;
    EXPECT_EQ(reply.attr("ErrNumber"), r.number) << r.target;
    EXPECT_TRUE(reply.keys().empty()) << r.target;
    if (std::string(r.number) == "1004") loginDescriptions.insert(reply.attr("ErrDesc"));
  }
  EXPECT_EQ(loginDescriptions.size(), 1u);
  // Only the accepted upload was stored, on one line with its line break and tab escaped.
  const CommandResult list = server.command({"list-transactions"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  const std::string expectedTail =
      "\tVELMORA-DEMO\tOrders\t<xml><rs:data Screen=\"Orders\">\\n<z:row iKey=\"1\" sNote=\"a\\tb\"/></rs:data></xml>\n";
  ASSERT_EQ(list.out.rfind("1\t", 0), 0u) << list.out;
  EXPECT_EQ(list.out.substr(list.out.size() - expectedTail.size()), expectedTail);
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1);
  // A log line for every request, with its page but neither query (the password) nor body.
  const std::regex login(R"(\n[0-9-]{10}T[0-9:]{8}\.[0-9]{3}Z 127\.0\.0\.1 POST /Bus_ChkComp\.asp 200 [0-9]+ [0-9]+\.[0-9]\n)");
  EXPECT_TRUE(std::regex_search("\n" + server.log(), login)) << server.log();
  EXPECT_EQ(server.log().find_first_of("?=<"), std::string::npos) << server.log();
}

TEST_P(ServerTest, RefreshSendsNoDataThenExactlyTheChangedRowsUnderANewStampAndServeStopsCleanly) {
  const std::string first = Parsed(post(downloadTarget("customers.xml")).body).modTime();
  EXPECT_EQ(Parsed(get(refreshTarget(first)).body).status(), "NODATA");

  server.changeRow("customers.xml", 3, {{"sName", "Cobalt & Co"}});
  server.changeRow("customers.xml", 40, {{"sName", "Newcomer"}, {"sRegion", "North"}});
  server.changeRow("items.xml", 2, {{"cPrice", "0.15"}});  // another set: not in the reply

  const Parsed changed(get(refreshTarget(first)).body);
  EXPECT_EQ(changed.status(), "Success");
  EXPECT_EQ(changed.keys(), (std::vector<int>{3, 40}));
  EXPECT_STREQ(changed.row(3).attribute("sName").value(), "Cobalt & Co");
  EXPECT_STREQ(changed.row(3).attribute("sCity").value(), "Lakeside");  // untouched fields come along
  const std::string second = changed.modTime();
  EXPECT_NE(second, first);

  EXPECT_EQ(Parsed(get(refreshTarget(second)).body).status(), "NODATA");
  // A client that missed the reply asks again with its old stamp and gets the same rows.
  EXPECT_EQ(Parsed(get(refreshTarget(first)).body).keys(), (std::vector<int>{3, 40}));
  const Parsed full(post(downloadTarget("customers.xml")).body);
  EXPECT_EQ(full.keys().size(), 13u);
  EXPECT_EQ(full.modTime(), second);

  // A stamp never issued by this server gets the whole set.
  const std::string instance = second.substr(0, second.find('.'));
  for (const std::string& stamp : {std::string("bogus"), instance + ".999999"}) {
    const Parsed reply(get(refreshTarget(stamp)).body);
    EXPECT_EQ(reply.status(), "NEWDATA") << stamp;
    EXPECT_EQ(reply.keys().size(), 13u) << stamp;
    EXPECT_EQ(reply.modTime(), second) << stamp;
  }
  EXPECT_EQ(server.stop(), 0);  // on SIGTERM, with the session's connection still open
}

TEST_P(ServerTest, CommandsRefuseWhatWouldBreakTheDataAndChangeNothing) {
  for (const std::string& field : {std::string("iKey=5"), std::string("sNote=a\x01z")}) {
    EXPECT_NE(server.command({"change-row", "--data", "customers.xml", "--key", "1", "--field", field}).exitCode, 0)
        << field;
  }
  const Parsed full(post(downloadTarget("customers.xml")).body);
  EXPECT_EQ(Parsed(get(refreshTarget(full.modTime())).body).status(), "NODATA");  // nothing was stamped
  EXPECT_STREQ(full.row(1).attribute("sName").value(), "Abbott Hardware");

  // init-demo never overwrites an existing database.
  server.changeRow("customers.xml", 1, {{"sName", "Kept"}});
  const CommandResult again = runProgram(QMX_SERVER_PATH, {"init-demo", "--db", server.databasePath()});
  EXPECT_NE(again.exitCode, 0);
  EXPECT_NE(again.err.find(server.databasePath()), std::string::npos);
  EXPECT_STREQ(Parsed(post(downloadTarget("customers.xml")).body).row(1).attribute("sName").value(), "Kept");
}

TEST_P(ServerTest, InitialDownloadIsACompleteRowsetAndItsTextIsExactlyWhatAnXmlWriterMakesOfIt) {
  const Parsed initial(post(downloadTarget("customers.xml")).body);
  const auto xml = initial.doc.child("xml");
  EXPECT_STREQ(xml.attribute("xmlns:rs").value(), "urn:schemas-microsoft-com:rowset");
  EXPECT_STREQ(xml.attribute("xmlns:z").value(), "#RowsetSchema");
  EXPECT_EQ(initial.keys(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  std::vector<std::string> described;
  for (auto t : xml.child("s:Schema").child("s:ElementType").children("s:AttributeType")) {
    described.push_back(t.attribute("name").value());
  }
  EXPECT_EQ(described, (std::vector<std::string>{"iKey", "sName", "sCity", "sPhone"}));

  const std::string before = initial.modTime();
  ASSERT_FALSE(before.empty());
  const std::string tricky = "A&B <c> \"q\" 's' \ttab\nline\rreturn caf\xC3\xA9 ]]> &amp;";
  server.changeRow("customers.xml", 3, {{"sName", tricky}});
  const Parsed full(post(downloadTarget("customers.xml")).body);
  // Whole sets, a refresh with rows and one without.
  for (const std::string& target : {downloadTarget("customers.xml"), downloadTarget("items.xml"), refreshTarget(before),
                                    refreshTarget(full.modTime())}) {
    const std::string body = get(target).body;
    pugi::xml_document doc;
    ASSERT_TRUE(parseXml(doc, body)) << body;
    EXPECT_EQ(xmlText(doc), body);
  }
  EXPECT_EQ(full.row(3).attribute("sName").value(), tricky);
}

TEST_P(ServerTest, ConcurrentDownloadsAndUploadsAreEachAnsweredRightAndEveryUploadIsStored) {
  const std::string expected = post(downloadTarget("customers.xml")).body;
  constexpr int kThreads = 6, kEach = 15;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      PosixPlatform own(root.path());
      auto client = own.openHttpSession();
      for (int i = 0; i < kEach; ++i) {
        const std::string row = "<xml><z:row t=\"" + std::to_string(t) + "\" i=\"" + std::to_string(i) + "\"/></xml>";
        const HttpReply reply =
            t % 2 == 0 ? client->send({"GET", server.baseUrl() + downloadTarget("customers.xml").substr(1), std::nullopt})
                       : client->send({"POST", server.baseUrl() + kUpload.substr(1), row});
        if (reply.body != (t % 2 == 0 ? expected : "<xml><status>Success</status></xml>")) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  const CommandResult list = server.command({"list-transactions"});
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), kThreads / 2 * kEach) << list.out;
}

TEST_P(ServerTest, HealthAnswersOverHttpUntilTheDatabaseIsGone) {
  EXPECT_EQ(get("/health").status, 200);
  if (db->empty()) {
    std::ofstream(server.databasePath(), std::ios::trunc) << std::string(8192, 'x');
  } else {
    const std::string name = db->substr(db->find("dbname=") + 7, db->find(" user=") - db->find("dbname=") - 7);
    const std::string other = db->substr(0, db->find("dbname=")) + "dbname=postgres user=qmx";
    ASSERT_EQ(runProgram(QMX_PG_BIN "/psql", {"-d", other, "-c", "DROP DATABASE " + name + " WITH (FORCE)"}).exitCode, 0);
  }
  const HttpReply gone = get("/health");
  EXPECT_EQ(gone.status, 503);
  // The cause is logged; the reply does not name the database.
  EXPECT_EQ(gone.body, R"(<xml><status ErrNumber="1011" ErrDesc="Database unavailable">Failure</status></xml>)");
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerTest, testing::Values("SQLite", "PostgreSQL"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace qmx::test
