// BackOnline: saved transactions posted in listing order, each deleted only
// once the server confirms it, and what the user or the host hears on failure.
#include <gtest/gtest.h>

#include <set>

#include "base/automation_error.h"
#include "store/local_store.h"
#include "support/fake_platform.h"
#include "support/sync_world.h"

namespace qmx {
namespace {

using test::PeerReply;
using test::SyncWorld;

std::string transaction(const std::string& screen, const std::string& payload) {
  return "<xml><rs:data Screen=\"" + screen + "\"><z:row v=\"" + payload + "\"/></rs:data></xml>";
}

const char* const kSuccess = "<xml><status>Success</status></xml>";

// "number: description" of the error BackOnline throws towards the host; "" for none.
std::string hostError(XMLLoad& control) {
  try { control.BackOnline(); } catch (const AutomationError& e) { return std::to_string(e.number()) + ": " + e.description(); }
  return "";
}

struct SavedWork : SyncWorld {
  SavedWork() {
    putDataFile("SavedFiles/a.xml", transaction("S 1&amp;x", "caf\xE9"));
    putDataFile("SavedFiles/b.xml", transaction("S2", "two"));
    putDataFile("SavedFiles/c.xml", transaction("S3", "three"));
    putDataFile("SavedFiles/data/d.xml", transaction("D", "never"));
    putDataFile("SavedFiles/style/s.xml", transaction("Y", "never"));
  }
  std::vector<std::string> waiting() const {
    std::vector<std::string> names;
    for (const char* n : {"a.xml", "b.xml", "c.xml"}) {
      if (hasDataFile(std::string("SavedFiles/") + n)) names.push_back(n);
    }
    return names;
  }
};

TEST(BackOnline, PostsEveryConfirmedFileInListingOrderAndDeletesIt) {
  SavedWork w;
  // What a save cut short by a crash leaves behind is not a saved transaction
  // (and goes away once its writer is gone): three posts, not four.
  w.putDataFile("SavedFiles/.d.xml.tmp4242_0", "<xml><rs:data Screen=\"T\"><z:ro");
  w.peer.setDefault(PeerReply::xml(kSuccess));
  w.control->BackOnline();

  const auto requests = w.peer.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/processForms.asp?pageID=S%201%26x&CompanyID=A%26B%20Co&Action=Save");
  // The parser's serialisation of the file, as UTF-8.
  EXPECT_EQ(requests[0].body, transaction("S 1&amp;x", "caf\xC3\xA9"));
  EXPECT_EQ(requests[1].target, "/processForms.asp?pageID=S2&CompanyID=A%26B%20Co&Action=Save");
  EXPECT_EQ(requests[2].body, transaction("S3", "three"));
  EXPECT_TRUE(w.waiting().empty());
  EXPECT_TRUE(w.hasDataFile("SavedFiles/data/d.xml"));
  EXPECT_TRUE(w.hasDataFile("SavedFiles/style/s.xml"));
  EXPECT_TRUE(w.messages.empty());
}

TEST(BackOnline, UnconfirmedPostStopsTheRunWithMessageZero) {
  SavedWork w;
  w.peer.enqueue(PeerReply::xml(kSuccess));
  // The envelope decides, whatever the HTTP status (the service refuses a malformed key with 400).
  w.peer.enqueue(PeerReply::page(400, "Bad Request", "text/xml", "<xml><status ErrNumber=\"4\" ErrDesc=\"no\">Failure</status></xml>"));
  w.control->BackOnline();
  EXPECT_EQ(w.peer.requestCount(), 2u);
  EXPECT_EQ(w.waiting(), (std::vector<std::string>{"b.xml", "c.xml"}));
  EXPECT_EQ(w.messages, std::vector<std::string>{"Error Updating Offline Files - 0"});
}

TEST(BackOnline, FailureBeforeTheFirstSendReachesTheHostAfterItTheUser) {
  SavedWork w;
  w.peer.setDefault(PeerReply::xml(kSuccess));
  // First file without Screen: the host's error, nothing sent, nothing lost.
  w.putDataFile("SavedFiles/a.xml", "<xml><rs:data><z:row/></rs:data></xml>");
  const std::string error = hostError(*w.control);
  EXPECT_EQ(error.rfind("94: ", 0), 0u) << error;
  EXPECT_NE(error.find("SavedFiles\\a.xml"), std::string::npos) << error;
  EXPECT_EQ(w.peer.requestCount(), 0u);
  EXPECT_TRUE(w.messages.empty());
  EXPECT_EQ(w.waiting().size(), 3u);

  // Second file without Screen: message 94 after the first went.
  w.putDataFile("SavedFiles/a.xml", transaction("S1", "one"));
  w.putDataFile("SavedFiles/b.xml", "<xml><rs:data><z:row/></rs:data></xml>");
  w.control->BackOnline();
  EXPECT_EQ(w.messages, std::vector<std::string>{"Error Updating Offline Files - 94"});
  EXPECT_EQ(w.waiting(), (std::vector<std::string>{"b.xml", "c.xml"}));
}

// An in-memory machine with the data directory C:\D and nothing in it.
struct BackOnlineInMemory : ::testing::Test {
  test::FakePlatform fake;
  XMLLoad control{fake};
  void SetUp() override { fake.addFolder("C:\\D"); control.put_DataPath("C:\\D"); }
};

TEST_F(BackOnlineInMemory, MissingFolderIsMadeAndUndeletableFileIsReported) {
  control.BackOnline();
  EXPECT_TRUE(fake.folderExists("C:\\D\\SavedFiles"));
  EXPECT_TRUE(fake.httpRequests.empty());

  fake.putFile("C:\\D\\SavedFiles\\a.xml", transaction("S1", "x"));
  fake.putFile("C:\\D\\SavedFiles\\b.xml", transaction("S2", "y"));
  // No service: the host's error names the file that stays.
  EXPECT_NE(hostError(control).find("(saved transaction C:\\D\\SavedFiles\\a.xml)"), std::string::npos);
  fake.setHttpHandler([](const HttpRequest&) { return HttpReply{200, "text/xml", kSuccess}; });
  fake.setReadOnly("C:\\D\\SavedFiles\\a.xml");
  control.BackOnline();
  EXPECT_EQ(fake.messageBoxes, std::vector<std::string>{"Error Updating Offline Files - 70"});
  EXPECT_EQ(fake.httpRequests.size(), 2u);  // the refused one and this one
  EXPECT_TRUE(fake.file("C:\\D\\SavedFiles\\a.xml"));
  EXPECT_TRUE(fake.file("C:\\D\\SavedFiles\\b.xml"));
}

TEST_F(BackOnlineInMemory, EachTransactionCarriesOneIdentityUntilItIsConfirmed) {
  const std::string text = transaction("S", "same");
  control.SaveLocal(text, "a.xml");
  control.SaveLocal(text, "b.xml");
  // A file saved by an earlier version has no identity yet: it gets one before its first post.
  fake.putFile("C:\\D\\SavedFiles\\c.xml", text);

  int answered = 0;
  fake.setHttpHandler([&](const HttpRequest&) -> HttpReply {
    // The first round: a and b are confirmed but the reply to c is lost.
    if (++answered == 3) throw AutomationError(-52, "Empty reply from server");
    return HttpReply{200, "text/xml", kSuccess};
  });
  control.BackOnline();
  control.BackOnline();

  ASSERT_EQ(fake.httpRequests.size(), 4u);
  std::vector<std::string> keys;
  for (const HttpRequest& r : fake.httpRequests) {
    ASSERT_EQ(r.headers.size(), 1u);
    EXPECT_EQ(r.headers[0].first, "Idempotency-Key");
    keys.push_back(r.headers[0].second);
    EXPECT_EQ(keys.back().size(), 32u);
  }
  // Equal texts saved twice are two transactions; the retried post keeps its key.
  EXPECT_NE(keys[0], keys[1]);
  EXPECT_NE(keys[2], keys[0]);
  EXPECT_EQ(keys[3], keys[2]);
  EXPECT_EQ(fake.messageBoxes, std::vector<std::string>{"Error Updating Offline Files - -52"});
  // Confirmed transactions leave nothing behind, their identities included.
  for (const std::string& f : fake.allFiles()) EXPECT_EQ(f.find("SavedFiles"), std::string::npos) << f;

  // A crash between a confirmed file's deletion and its record's leaves the record:
  // a later text of the name, not saved through SaveLocal, still goes under a new key.
  std::optional<std::string> record;
  fake.setHttpHandler([&](const HttpRequest&) {
    record = fake.file("C:\\D\\SavedFiles\\.ids\\d.xml");
    return HttpReply{200, "text/xml", kSuccess};
  });
  fake.putFile("C:\\D\\SavedFiles\\d.xml", text);
  control.BackOnline();
  EXPECT_EQ(record,  // the identity and the SHA-256 of the file's bytes
            fake.httpRequests[4].headers.at(0).second + " 741d1705cb4ac51aa6d39fc17d0b1d2b844ed85345a7b49e6cdd803958912f13");
  fake.putFile("C:\\D\\SavedFiles\\.ids\\d.xml", record.value_or(""));
  fake.putFile("C:\\D\\SavedFiles\\d.xml", transaction("S", "later"));
  control.BackOnline();
  ASSERT_EQ(fake.httpRequests.size(), 6u);
  EXPECT_NE(fake.httpRequests[5].headers.at(0).second, fake.httpRequests[4].headers.at(0).second);
  // One left with no file goes at the next run; one of the earlier form is trusted.
  fake.putFile("C:\\D\\SavedFiles\\.ids\\d.xml", record.value_or(""));
  fake.putFile("C:\\D\\SavedFiles\\.ids\\e.xml", keys[0]);
  fake.putFile("C:\\D\\SavedFiles\\e.xml", text);
  control.BackOnline();
  EXPECT_EQ(fake.httpRequests.back().headers.at(0).second, keys[0]);
  for (const std::string& f : fake.allFiles()) EXPECT_EQ(f.find("SavedFiles"), std::string::npos) << f;
}

TEST_F(BackOnlineInMemory, TextSavedOverAFileWhileItIsPostedStaysForTheNextRun) {
  control.SaveLocal(transaction("S", "a1"), "a.xml");
  fake.putFile("C:\\D\\SavedFiles\\b.xml", transaction("S", "b1"));
  // The service stores one body per key. During the first post SaveLocal saves the same
  // text again (a second transaction); during the second, another program writes over b.
  std::set<std::string> keys;
  std::multiset<std::string> bodies;
  fake.setHttpHandler([&](const HttpRequest& r) {
    if (keys.insert(r.headers.at(0).second).second) bodies.insert(*r.body);
    if (keys.size() == 1) saveLocal(fake, "C:\\D", transaction("S", "a1"), "a.xml");
    if (keys.size() == 2) fake.putFile("C:\\D\\SavedFiles\\b.xml", transaction("S", "b2"));
    return HttpReply{200, "text/xml", kSuccess};
  });
  control.BackOnline();
  EXPECT_EQ(fake.file("C:\\D\\SavedFiles\\a.xml"), transaction("S", "a1"));
  EXPECT_EQ(fake.file("C:\\D\\SavedFiles\\b.xml"), transaction("S", "b2"));
  control.BackOnline();
  EXPECT_EQ(bodies, (std::multiset<std::string>{transaction("S", "a1"), transaction("S", "a1"),
                                                transaction("S", "b1"), transaction("S", "b2")}));
  EXPECT_EQ(fake.httpRequests.size(), 4u);
}

}  // namespace
}  // namespace qmx
