// qmx-server end to end: the built program on a free loopback port, spoken to
// through the control's own HTTP session, so requests go out as the control writes them.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/xml_text.h"
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

// One TCP connection to the server, spoken to byte for byte.
class RawConnection {
 public:
  explicit RawConnection(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("cannot connect");
    }
  }
  ~RawConnection() { ::close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  void send(const std::string& bytes) {
    if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("send failed");
    }
  }
  // The body of the next reply, read by its Content-Length; nullopt when the server
  // closed the connection first.
  std::optional<std::string> replyBody() {
    size_t headerEnd;
    while ((headerEnd = buffer_.find("\r\n\r\n")) == std::string::npos) {
      if (!fill()) return std::nullopt;
    }
    const auto length = buffer_.find("Content-Length: ");
    if (length == std::string::npos || length > headerEnd) throw std::runtime_error("no length: " + buffer_);
    const size_t size = std::stoul(buffer_.substr(length + 16));
    while (buffer_.size() < headerEnd + 4 + size) {
      if (!fill()) return std::nullopt;
    }
    std::string body = buffer_.substr(headerEnd + 4, size);
    buffer_.erase(0, headerEnd + 4 + size);
    return body;
  }

 private:
  bool fill() {
    char chunk[4096];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }
  int fd_ = -1;
  std::string buffer_;
};

std::string getRequest(const std::string& target) {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

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

TEST_F(ServerTest, RowsetTextIsExactlyWhatAnXmlWriterMakesOfItAndKeepsEveryValue) {
  const std::string tricky = "A&B <c> \"q\" 's' \ttab\nline\rreturn caf\xC3\xA9 ]]> &amp;";
  server.changeRow("customers.xml", 3, {{"sName", tricky}, {"sRegion", "North"}});
  server.changeRow("customers.xml", 50, {{"sRegion", "South"}});  // a row with one field of four
  for (const std::string& target :
       {downloadTarget("customers.xml"), downloadTarget("items.xml"),
        refreshTarget(Parsed(post(downloadTarget("items.xml")).body).modTime())}) {
    const std::string body = post(target).body;
    pugi::xml_document doc;
    ASSERT_TRUE(parseXml(doc, body)) << body;
    EXPECT_EQ(xmlText(doc), body);
  }
  const Parsed full(post(downloadTarget("customers.xml")).body);
  EXPECT_EQ(full.row(3).attribute("sName").value(), tricky);
  EXPECT_STREQ(full.row(3).attribute("sRegion").value(), "North");
  EXPECT_STREQ(full.row(3).attribute("sCity").value(), "Lakeside");
  EXPECT_TRUE(full.row(50).attribute("sName").empty());
  EXPECT_STREQ(full.row(50).attribute("sRegion").value(), "South");
  // An unchanged set's refresh: the rowset is empty and still well-formed.
  const std::string nothing = get(refreshTarget(full.modTime())).body;
  pugi::xml_document empty;
  ASSERT_TRUE(parseXml(empty, nothing)) << nothing;
  EXPECT_EQ(xmlText(empty), nothing);
  EXPECT_EQ(Parsed(nothing).status(), "NODATA");
}

TEST_F(ServerTest, OneConnectionServesRequestAfterRequestPipelinedOrNotWithoutStalling) {
  RawConnection connection(server.port());
  const std::string expected = post(downloadTarget("customers.xml")).body;
  // Far more requests than a connection used to be allowed; each reply must come
  // at once, not after the client's delayed acknowledgement (some 40 ms a reply).
  constexpr int kRequests = 40;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRequests; ++i) {
    connection.send(getRequest(downloadTarget("customers.xml")));
    const auto body = connection.replyBody();
    ASSERT_TRUE(body) << "closed after " << i << " requests";
    ASSERT_EQ(*body, expected);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(kRequests * 40 / 2));

  // Three requests in one send come back as three replies, in order.
  connection.send(getRequest(downloadTarget("items.xml")) + getRequest("/favicon.ico") +
                  getRequest(downloadTarget("customers.xml")));
  EXPECT_EQ(Parsed(connection.replyBody().value()).keys().size(), 12u);
  EXPECT_EQ(Parsed(connection.replyBody().value()).attr("ErrNumber"), "1008");
  EXPECT_EQ(connection.replyBody().value(), expected);
}

TEST_F(ServerTest, ConcurrentDownloadsAndUploadsAreEachAnsweredRightAndEveryUploadIsStored) {
  const std::string expected = post(downloadTarget("customers.xml")).body;
  constexpr int kThreads = 6;
  constexpr int kEach = 15;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      PosixPlatform own(root.path());
      auto client = own.openHttpSession();
      for (int i = 0; i < kEach; ++i) {
        if (t % 2 == 0) {
          const HttpReply reply = client->send({"GET", server.baseUrl() + downloadTarget("customers.xml").substr(1), std::nullopt});
          if (reply.body != expected) ++wrong;
        } else {
          const std::string body = "<xml><z:row t=\"" + std::to_string(t) + "\" i=\"" + std::to_string(i) + "\"/></xml>";
          const HttpReply reply = client->send(
              {"POST", server.baseUrl() + "processForms.asp?pageID=Orders&CompanyID=VELMORA-DEMO&Action=Save", body});
          if (reply.body != "<xml><status>Success</status></xml>") ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  const CommandResult list = server.command({"list-transactions"});
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), kThreads / 2 * kEach) << list.out;
}

TEST_F(ServerTest, ServeStopsPromptlyWhileAClientKeepsItsConnectionOpen) {
  RawConnection idle(server.port());
  idle.send(getRequest(downloadTarget("items.xml")));
  ASSERT_TRUE(idle.replyBody());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(server.stop(), 0);
  // Well before the idle connection would have timed out.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
}  // namespace qmx::test
