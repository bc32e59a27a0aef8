// Every writer replayed with each of its platform calls failing in turn: after
// any single fault every file the writer touches is either as it was or as it
// should be, whole, and no saved transaction is lost.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "control/xmlload.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

using test::FakePlatform;
using test::FaultyPlatform;

constexpr const char* kData = "C:\\Data\\3";
const std::string kCached =
    "<xml><TimeStamp ModTime=\"t1\"/><rs:data><z:row iKey=\"1\" v=\"old\"/><z:row iKey=\"2\" v=\"two\"/></rs:data></xml>";
const std::string kTransaction = "<xml><rs:data Screen=\"S\"><z:row v=\"1\"/></rs:data></xml>";

std::string at(const std::string& name) { return std::string(kData) + "\\" + name; }

// A machine with one installation (company "C", location 3, data under C:\Data),
// a cached data set, a key log and two saved transactions. The server confirms
// uploads (remembering their keys), accepts logins, and sends data sets.
struct World {
  FakePlatform fake;
  std::set<std::string> storedKeys;
  World() {
    fake.addInstallation("Shop", "C", "3", "7", "False", "C:\\Data");
    fake.putFile(at("c.xml"), kCached);
    fake.putFile(at("log\\log.xml"), "<xml><logEvent TempKey=\"4\"/></xml>");
    fake.putFile(at("SavedFiles\\a.xml"), kTransaction);
    fake.putFile(at("SavedFiles\\b.xml"), kTransaction);
    fake.addFolder("C:\\QMX Client\\Inbox");
    fake.setRegistryString("Software\\Velmora Solutions, LLC\\QMX Client\\Settings", "Inbox", "C:\\QMX Client\\Inbox");
    fake.putFile("C:\\QMX Client\\Inbox\\PO00000042.POD", "old order");
    fake.putFile("c:\\123.xml", "<xml><username>u</username><pwd>p</pwd><levelNum>1</levelNum></xml>");
    fake.setHttpHandler([this](const HttpRequest& r) -> HttpReply {
      if (r.url.find("processForms.asp") != std::string::npos) {
        for (const auto& [name, value] : r.headers) {
          if (name == "Idempotency-Key") storedKeys.insert(value);
        }
        return {200, "text/xml", "<xml><status>Success</status></xml>"};
      }
      if (r.url.find("Bus_ChkComp.asp") != std::string::npos) {
        return {200, "text/xml", "<xml><status levelNum=\"5\">Success</status></xml>"};
      }
      return {200, "text/xml",
              "<xml><status>Success</status><TimeStamp ModTime=\"t2\"/><rs:data><z:row iKey=\"1\" v=\"new\"/>"
              "<z:row iKey=\"3\" v=\"three\"/></rs:data></xml>"};
    });
  }
};

struct Scenario {
  const char* name;
  std::function<void(XMLLoad&)> act;
  // Checks the files after a run that may have failed; `before` is the world's
  // files before the run.
  std::function<void(World&, const std::map<std::string, std::string>&)> check;
};

std::map<std::string, std::string> filesOf(const FakePlatform& fake) {
  std::map<std::string, std::string> files;
  for (const std::string& path : fake.allFiles()) files[path] = *fake.file(path);
  return files;
}

// The file is as it was before the run, or one of the allowed new contents.
void expectOldOrNew(const World& w, const std::map<std::string, std::string>& before, const std::string& path,
                    const std::vector<std::optional<std::string>>& allowed) {
  const std::optional<std::string> now = w.fake.file(path);
  const auto old = before.find(FakePlatform::normalisePath(path));
  const std::optional<std::string> was = old == before.end() ? std::nullopt : std::optional(old->second);
  if (now == was) return;
  for (const auto& a : allowed) {
    if (now == a) return;
  }
  ADD_FAILURE() << path << " is neither as it was nor as it should be: " << now.value_or("(missing)");
}

const std::string kMerged =
    "<xml><TimeStamp ModTime=\"t2\"/><rs:data><z:row iKey=\"1\" v=\"new\"/><z:row iKey=\"2\" v=\"two\"/>"
    "<z:row iKey=\"3\" v=\"three\"/></rs:data></xml>";
const std::string kDownloaded =
    "<xml><status>Success</status><TimeStamp ModTime=\"t2\"/><rs:data><z:row iKey=\"1\" v=\"new\"/>"
    "<z:row iKey=\"3\" v=\"three\"/></rs:data></xml>";

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> list = {
      {"refresh with merge",
       [](XMLLoad& c) {
         c.put_Authenticated(true);
         std::string page = "http://server/data.asp";
         c.XMLLoad_(page, "c.xml");
       },
       // A failed look for the cached copy makes it a first download: the server's whole set.
       [](World& w, const auto& before) { expectOldOrNew(w, before, at("c.xml"), {kMerged, kDownloaded}); }},
      {"first download",
       [](XMLLoad& c) {
         c.put_Authenticated(true);
         std::string page = "http://server/data.asp";
         c.XMLLoad_(page, "fresh.xml");
       },
       [](World& w, const auto& before) { expectOldOrNew(w, before, at("fresh.xml"), {kDownloaded}); }},
      {"upload",
       [](XMLLoad& c) { c.BackOnline(); },
       [](World& w, const auto&) {
         // A transaction still waiting keeps its text; one that is gone was stored.
         std::size_t gone = 0;
         for (const char* name : {"a.xml", "b.xml"}) {
           const auto text = w.fake.file(at(std::string("SavedFiles\\") + name));
           if (text) EXPECT_EQ(*text, kTransaction) << name;
           else ++gone;
         }
         EXPECT_LE(gone, w.storedKeys.size());
       }},
      {"online login",
       [](XMLLoad& c) { c.Login("user", "secret"); },
       [](World& w, const auto& before) {
         expectOldOrNew(w, before, "c:\\123.xml",
                        {"<xml><username>user</username><pwd>$fake$736563726574</pwd><levelNum>5</levelNum></xml>"});
       }},
      {"clearing the cached data files",
       [](XMLLoad& c) { c.DeleteLocalData(); },
       [](World& w, const auto& before) {
         expectOldOrNew(w, before, at("c.xml"), {std::nullopt});
         EXPECT_TRUE(w.fake.file(at("SavedFiles\\a.xml")));
         EXPECT_TRUE(w.fake.file(at("log\\log.xml")));
       }},
      {"purchase order",
       [](XMLLoad& c) { c.SaveElectronicPurchaseOrder("42", "new order"); },
       [](World& w, const auto& before) {
         expectOldOrNew(w, before, "C:\\QMX Client\\Inbox\\PO00000042.POD", {"new order"});
       }},
      {"saving a transaction",
       [](XMLLoad& c) { c.SaveLocal("<xml>new</xml>", "a.xml"); },
       [](World& w, const auto& before) {
         expectOldOrNew(w, before, at("SavedFiles\\a.xml"), {"<xml>new</xml>"});
         EXPECT_TRUE(w.fake.file(at("SavedFiles\\b.xml")));
       }},
      {"temporary key",
       [](XMLLoad& c) { c.getKey(); },
       [](World& w, const auto& before) {
         expectOldOrNew(w, before, at("log\\log.xml"),
                        {"<xml><logEvent TempKey=\"4\"/><logEvent TempKey=\"5\"/></xml>"});
       }},
  };
  return list;
}

TEST(FaultReplay, EveryWriterLeavesEachFileOldOrNewAndLosesNoTransaction) {
  for (const Scenario& s : scenarios()) {
    SCOPED_TRACE(s.name);
    std::size_t calls = 0;
    {
      World w;
      FaultyPlatform faulty(w.fake, w.fake);
      XMLLoad control(faulty);
      faulty.failAt(0);
      const auto before = filesOf(w.fake);
      s.act(control);
      s.check(w, before);
      calls = faulty.calls();
    }
    ASSERT_GT(calls, 0u);
    for (std::size_t n = 1; n <= calls; ++n) {
      SCOPED_TRACE("call " + std::to_string(n) + " of " + std::to_string(calls) + " fails");
      World w;
      FaultyPlatform faulty(w.fake, w.fake);
      XMLLoad control(faulty);
      const auto before = filesOf(w.fake);
      faulty.failAt(n);
      try {
        s.act(control);
      } catch (const AutomationError&) {
        // A failure the host hears of is fine; what matters is the files.
      }
      s.check(w, before);
      // A temporary of this process's own write is never left behind.
      for (const std::string& path : w.fake.allFiles())
        EXPECT_EQ(path.find(".tmp" + std::to_string(w.fake.writerId) + "_"), std::string::npos) << path;
    }
  }
}

}  // namespace
}  // namespace qmx
