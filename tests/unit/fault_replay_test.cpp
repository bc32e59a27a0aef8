// Every writer replayed with each of its platform calls failing in turn. Power
// cuts are the crash-state explorer's; this covers what only a failing call
// shows: the failure reaches the caller, the control works again once the fault
// is gone, no temporary of its own is left, and no saved transaction is lost.
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
const std::string kTransaction = "<xml><rs:data Screen=\"S\"><z:row v=\"1\"/></rs:data></xml>";

std::string at(const std::string& name) { return std::string(kData) + "\\" + name; }

// A machine with one installation (company "C", location 3, data under C:\Data),
// a cached data file, a key log, two saved transactions and a credential record.
// The server confirms uploads (remembering their keys) and accepts logins.
struct World {
  FakePlatform fake;
  std::set<std::string> storedKeys;
  World() {
    fake.addInstallation("Shop", "C", "3", "7", "False", "C:\\Data");
    fake.putFile(at("c.xml"), "<xml><TimeStamp ModTime=\"t1\"/><rs:data/></xml>");
    fake.putFile(at("log\\log.xml"), "<xml><logEvent TempKey=\"4\"/></xml>");
    fake.putFile(at("SavedFiles\\a.xml"), kTransaction);
    fake.putFile(at("SavedFiles\\b.xml"), kTransaction);
    fake.putFile("c:\\123.xml", "<xml><username>u</username><pwd>p</pwd><levelNum>1</levelNum></xml>");
    fake.setHttpHandler([this](const HttpRequest& r) -> HttpReply {
      if (r.url.find("processForms.asp") != std::string::npos) {
        for (const auto& [name, value] : r.headers) if (name == "Idempotency-Key") storedKeys.insert(value);
        return {200, "text/xml", "<xml><status>Success</status></xml>"};
      }
      return {200, "text/xml", "<xml><status levelNum=\"5\">Success</status></xml>"};
    });
  }
};

using Files = std::map<std::string, std::string>;
// What the act returned; nullopt when it threw.
using Outcome = std::optional<std::string>;

struct Scenario {
  const char* name;
  std::function<std::string(XMLLoad&)> act;
  // Checks the files after a run that may have failed; `before` is the world's
  // files before the run.
  std::function<void(World&, const Files&, const Outcome&)> check;
  // The act must be able to throw, and the same control must work again once the
  // fault is gone.
  bool mustReport = false;
};

Files filesOf(const FakePlatform& fake) {
  Files files;
  for (const std::string& path : fake.allFiles()) files[path] = *fake.file(path);
  return files;
}

// The file is one of the allowed new contents, or (unless the run reported
// success and oldAllowed is false) as it was before the run.
void expectOldOrNew(const World& w, const Files& before, const std::string& path,
                    const std::vector<std::optional<std::string>>& allowed, bool oldAllowed = true) {
  const std::optional<std::string> now = w.fake.file(path);
  const auto old = before.find(FakePlatform::normalisePath(path));
  const std::optional<std::string> was = old == before.end() ? std::nullopt : std::optional(old->second);
  if (now == was && oldAllowed) return;
  for (const auto& a : allowed) {
    if (now == a) return;
  }
  ADD_FAILURE() << path << " is neither as it was nor as it should be: " << now.value_or("(missing)");
}

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> list = {
      {"upload",
       [](XMLLoad& c) { c.BackOnline(); return std::string(); },
       [](World& w, const auto&, const Outcome&) {
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
       [](XMLLoad& c) {
         // A login that fails at any call leaves the control as a refused one does.
         try { c.Login("user", "secret"); } catch (const AutomationError&) { EXPECT_FALSE(c.get_Authenticated() || c.get_LevelNum() != "0"); throw; }
         return std::string();
       },
       [](World& w, const auto& before, const Outcome&) {
         expectOldOrNew(w, before, "c:\\123.xml",
                        {"<xml><username>user</username><pwd>$fake$736563726574</pwd><levelNum>5</levelNum></xml>"});
       }},
      {"clearing the cached data files",
       [](XMLLoad& c) { c.DeleteLocalData(); return std::string(); },
       [](World& w, const auto& before, const Outcome&) {
         expectOldOrNew(w, before, at("c.xml"), {std::nullopt});
         EXPECT_TRUE(w.fake.file(at("SavedFiles\\a.xml")));
         EXPECT_TRUE(w.fake.file(at("log\\log.xml")));
       }},
      {"saving a transaction",
       [](XMLLoad& c) { c.SaveLocal("<xml>new</xml>", "a.xml"); return std::string(); },
       [](World& w, const auto& before, const Outcome& result) {
         expectOldOrNew(w, before, at("SavedFiles\\a.xml"), {"<xml>new</xml>"}, !result);
         EXPECT_TRUE(w.fake.file(at("SavedFiles\\b.xml")));
       },
       true},
      {"temporary key",
       [](XMLLoad& c) { return c.getKey(); },
       [](World& w, const auto& before, const Outcome& key) {
         // A returned key is the next number, and the log records it.
         const std::string& log = before.at(FakePlatform::normalisePath(at("log\\log.xml")));
         const auto last = log.rfind("TempKey=\"") + 9;
         const std::string next = std::to_string(std::stoi(log.substr(last)) + 1);
         if (key) { EXPECT_EQ(*key, "7-3-" + next); }
         expectOldOrNew(w, before, at("log\\log.xml"),
                        {log.substr(0, log.size() - 6) + "<logEvent TempKey=\"" + next + "\"/></xml>"}, !key);
       },
       true},
  };
  return list;
}

TEST(FaultReplay, EveryWriterLeavesEachFileOldOrNewAndLosesNoTransaction) {
  for (const Scenario& s : scenarios()) {
    SCOPED_TRACE(s.name);
    std::size_t calls = 0, failures = 0;
    // Run 0 injects nothing and counts the calls; run n fails the nth.
    for (std::size_t n = 0; n == 0 || n <= calls; ++n) {
      SCOPED_TRACE("call " + std::to_string(n) + " of " + std::to_string(calls) + " fails");
      World w;
      FaultyPlatform faulty(w.fake, w.fake);
      XMLLoad control(faulty);
      auto before = filesOf(w.fake);
      faulty.failAt(n);
      Outcome result;
      try {
        result = s.act(control);
      } catch (const AutomationError&) {
        ++failures;
      }
      s.check(w, before, result);
      if (n == 0) {
        ASSERT_TRUE(result);
        calls = faulty.calls();
      }
      // A temporary of this process's own write is never left behind.
      for (const std::string& path : w.fake.allFiles())
        EXPECT_EQ(path.find(".tmp" + std::to_string(w.fake.writerId) + "_"), std::string::npos) << path;
      if (!s.mustReport) continue;
      faulty.disarm();
      before = filesOf(w.fake);
      try {
        result = s.act(control);
      } catch (const AutomationError& e) {
        ADD_FAILURE() << "the control fails after the fault is gone: " << e.what();
        continue;
      }
      s.check(w, before, result);
    }
    if (s.mustReport) {
      EXPECT_GT(failures, 0u);
    }
  }
}

}  // namespace
}  // namespace qmx
