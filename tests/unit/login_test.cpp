// Login online through the recording peer and offline against the credential
// record: the request target, the record's bytes and mode, and what each failure
// leaves behind.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <tuple>

#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"
#include "support/fake_platform.h"
#include "support/recording_peer.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

using test::PeerReply;
using test::RecordingPeer;

constexpr const char* kRecord = "drive_c/123.xml";

std::string successWithLevel(const std::string& level) {
  return "<xml><status levelNum=\"" + level + "\">Success</status></xml>";
}

class LoginTest : public ::testing::Test {
 protected:
  test::TempRoot root;
  PosixPlatform platform{root.path()};
  RecordingPeer peer;
  std::unique_ptr<XMLLoad> control;

  void SetUp() override {
    root.makeFolder("drive_c");
    control = std::make_unique<XMLLoad>(platform);
    control->put_ServerBase(peer.base());
  }

  void goOffline() { root.write("internet-state", "16"); }

  bool onlineLogin(const std::string& user, const std::string& password, PeerReply reply) {
    peer.enqueue(std::move(reply));
    return control->Login(user, password);
  }

  std::string lastErrorDesc;
  int loginError(const std::string& user, const std::string& password) {
    try { control->Login(user, password); } catch (const AutomationError& e) { lastErrorDesc = e.description(); return e.number(); }
    return 0;
  }
};

TEST_F(LoginTest, OnlineSendsEachValueAsOneQueryValueInKeyOrder) {
  control->put_CompanyID("ACME 1");
  EXPECT_TRUE(onlineLogin("Jo & Co", "p+w#1 %", PeerReply::xml(successWithLevel("3"))));
  EXPECT_EQ(peer.lastRequest().method, "POST");
  EXPECT_EQ(peer.lastRequest().target,
            "/Bus_ChkComp.asp?Action=Login&Username=Jo%20%26%20Co&Pwd=p%2Bw%231%20%25&CompanyID=ACME%201&cucumber=73518");
  EXPECT_EQ(peer.lastRequest().body, "");
}

TEST_F(LoginTest, OnlineSuccessWritesAHashedOwnerOnlyRecordThatReadsBackExactly) {
  const std::string user = "Ana <J\xC3\xBCrgen> & \xCE\xA9\r\n";  // "<", "&", code page letter, Omega, CR LF
  const std::string password = "s3cr\xC3\xA9t";
  EXPECT_TRUE(onlineLogin(user, password, PeerReply::xml(successWithLevel("-7"))));
  EXPECT_TRUE(control->get_Authenticated());
  EXPECT_EQ(control->get_LevelNum(), "-7");

  const std::string bytes = root.read(kRecord);
  const std::string head = "<xml><username>Ana &lt;J\xFCrgen&gt; &amp; &#937;&#13;\n</username><pwd>$y$";
  EXPECT_EQ(bytes.substr(0, head.size()), head);
  EXPECT_NE(bytes.find("</pwd><levelNum>-7</levelNum></xml>"), std::string::npos);
  EXPECT_EQ(bytes.find("s3cr"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(root.at(kRecord).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A second control, offline, accepts exactly these values and the record's level.
  goOffline();
  XMLLoad offline(platform);
  EXPECT_FALSE(offline.Login(user, password + " "));
  EXPECT_TRUE(offline.Login(user, password));
  EXPECT_EQ(offline.get_LevelNum(), "-7");
}

// A refusal, a bad level or a failure claiming number 0 (never success) leaves
// the record, the level and a cleared Authenticated.
TEST_F(LoginTest, OnlineSuccessReplacesTheRecordAndNoFailureChangesIt) {
  ASSERT_TRUE(onlineLogin("first", "one", PeerReply::xml(successWithLevel("1"))));
  ASSERT_TRUE(onlineLogin("second", "two", PeerReply::xml(successWithLevel("2"))));
  const std::string record = root.read(kRecord);
  EXPECT_NE(record.find("<username>second</username>"), std::string::npos);
  EXPECT_EQ(record.find("first"), std::string::npos);
  const std::pair<std::string, int> cases[] = {
      {"<xml><status ErrNumber=\"12\" ErrDesc=\"Bad password\">Failure</status></xml>", 0},
      {"<xml><status>Success</status></xml>", 94},
      {successWithLevel("high"), 13},
      {"<xml><status ErrNumber=\"0\" ErrDesc=\"\">Failure</status></xml>", 91}};
  for (const auto& [reply, error] : cases) {
    SCOPED_TRACE(reply);
    peer.enqueue(PeerReply::xml(reply));
    EXPECT_EQ(loginError("second", "wrong"), error);  // 0: refused, no error
    EXPECT_FALSE(control->get_Authenticated());
    EXPECT_EQ(control->get_LevelNum(), "2");
    EXPECT_EQ(root.read(kRecord), record);
    control->put_Authenticated(false);
  }
}

TEST_F(LoginTest, OfflineComparesAClearTextRecordCaseSensitively) {
  root.write(kRecord, "<xml><username>ADMIN</username><pwd>Secret</pwd><levelNum>7</levelNum></xml>");
  goOffline();
  control->put_ErrorNumber(33);
  EXPECT_FALSE(control->Login("admin", "Secret"));
  EXPECT_FALSE(control->Login("ADMIN", "secret"));
  EXPECT_FALSE(control->get_Authenticated());
  EXPECT_EQ(control->get_LevelNum(), "0");
  EXPECT_TRUE(control->Login("ADMIN", "Secret"));
  EXPECT_EQ(control->get_LevelNum(), "7");
  EXPECT_EQ(control->get_ErrorNumber(), 33);  // offline never touches it
  EXPECT_EQ(peer.requestCount(), 0u);

  // A hashed record takes the password, never the hash itself.
  const std::string hash = platform.hashPassword("pw");
  root.write(kRecord, "<xml><username>u</username><pwd>" + hash + "</pwd><levelNum>1</levelNum></xml>");
  EXPECT_FALSE(control->Login("u", hash));
  EXPECT_TRUE(control->Login("u", "pw"));
}

TEST_F(LoginTest, OfflineBrokenOrUncheckableRecordsFailWithoutChangingState) {
  goOffline();
  control->put_Authenticated(true);
  EXPECT_EQ(loginError("u", "p"), 91);  // no record at all
  std::vector<std::tuple<std::string, int, std::string>> cases = {  // the record's password, error, record
      {"p", 91, "<xml><username>u</username><pwd>p</pwd></xml>"},
      {"p", 91, "<other><username>u</username><pwd>p</pwd><levelNum>1</levelNum></other>"},
      {"p", 13, "<xml><username>u</username><pwd>p</pwd><levelNum>one</levelNum></xml>"}};
  // Hashes of "p" this machine cannot check, damaged or of unknown schemes: never clear text.
  for (std::string hash : {"$6$saltsalt$T8zzampJcN172f1r0kNFFiQGdtFquc5jnzebqomQxxdUNGG69JTP0XFkH2sFbHn4FG4SGRFsmj2vnmTApt5fI/",
                           "$pbkdf2-sha256$1000$c2FsdHNhbHRzYWx0c2FsdA$i4VYC5Q9gtOkZof/0ghl2HlnAA2mo/actIbw/pDnRSg",
                           "$y$j9T$saltsalt", "$y$j9T$s$h!", "$argon2id$v=19$m=65536,t=2,p=1$c2FsdA$aGFzaA"})
    cases.emplace_back(hash, 70, "<xml><username>u</username><pwd>" + hash + "</pwd><levelNum>1</levelNum></xml>");
  for (const auto& [pwd, error, record] : cases) {
    root.write(kRecord, record);
    for (const std::string& password : {std::string("p"), pwd}) {
      SCOPED_TRACE(record + " with " + password);
      EXPECT_EQ(loginError("u", password), error);
      if (error == 70) { EXPECT_NE(lastErrorDesc.find("an online login is needed once on this machine"), std::string::npos); }
      EXPECT_TRUE(control->get_Authenticated() && control->get_LevelNum() == "0");  // unchanged
    }
  }
}

}  // namespace
}  // namespace qmx
