// Power cuts at every point of each writer's run. The file primitives are
// recorded; from every prefix of the record the states a cut can leave are
// built (data not flushed to its file is lost, a create, rename, deletion or new
// folder not flushed to its folder may be lost, and any of the last three such
// operations may be lost while later ones survive); the control is then started
// on each state and its next call checked by outcome: reported work survives,
// files are old or new and whole, keys never repeat, uploads are stored once.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <set>

#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

using test::FakePlatform;

void check(bool ok, const std::string& what, const std::string& detail) {
  if (!ok) ADD_FAILURE() << what << ": " << detail;
}

std::string parentOf(const std::string& key) {
  const auto cut = key.rfind('\\');
  return cut == std::string::npos ? std::string() : key.substr(0, cut);
}
bool isDriveRoot(const std::string& key) { return key.empty() || (key.size() == 2 && key[1] == ':'); }
std::string keyOf(const std::string& path) {
  const std::string key = FakePlatform::normalisePath(path);
  return key == "." ? std::string() : key;
}

// One recorded step. Post and Mark change no file: a request the service got,
// and a point the scenario reached (a call returned).
struct Op {
  enum Kind { Create, Write, Flush, Rename, Remove, MakeFolder, FlushFolder, Post, Mark } kind;
  std::string a, b;
  int inode;
  Op(Kind k, std::string a_ = {}, std::string b_ = {}, int i = 0)
      : kind(k), a(std::move(a_)), b(std::move(b_)), inode(i) {}
};

struct Disk {
  std::map<std::string, int> links;  // path -> inode
  std::set<std::string> folders;
  std::map<int, std::string> data;
  bool hasFolder(const std::string& key) const {
    return isDriveRoot(key) || (folders.count(key) && hasFolder(parentOf(key)));
  }
  std::optional<std::string> file(const std::string& path) const {
    const auto it = links.find(keyOf(path));
    return it == links.end() ? std::nullopt : std::optional(data.at(it->second));
  }
};

void apply(Disk& d, const Op& op) {
  if (op.kind == Op::Create) d.links[op.a] = op.inode, d.data[op.inode];
  if (op.kind == Op::Write && d.data.count(op.inode)) d.data[op.inode] += op.b;
  if (op.kind == Op::MakeFolder) d.folders.insert(op.a);
  if (op.kind == Op::Remove) d.links.erase(op.a);
  if (op.kind == Op::Rename && d.links.count(op.a)) d.links[op.b] = d.links[op.a], d.links.erase(op.a);
}

class NoLock : public FileLock {};

// The file primitives over an in-memory disk, each change recorded.
class RecordingFs : public FileSystem {
 public:
  Disk now, initial;
  std::vector<Op> log;
  std::uint64_t writer = 1;

  FsError record(Op op) {
    apply(now, op);
    log.push_back(std::move(op));
    return 0;
  }
  // What is there now becomes the durable start of the record.
  void checkpoint() {
    initial = now;
    for (const Op& op : log)
      if (op.kind == Op::Mark) setupMarks.push_back(op.a);
    log.clear();
  }
  std::vector<std::string> setupMarks;
  void put(const std::string& path, const std::string& bytes) {
    for (std::string f = parentOf(keyOf(path)); !isDriveRoot(f); f = parentOf(f)) now.folders.insert(f);
    now.links[keyOf(path)] = nextInode_, now.data[nextInode_++] = bytes;
  }

  EntryKind kind(const std::string& path) override {
    const std::string k = keyOf(path);
    return now.links.count(k) ? EntryKind::File : now.hasFolder(k) ? EntryKind::Folder : EntryKind::None;
  }
  bool isReadOnly(const std::string&) override { return false; }
  FsError createFolder(const std::string& path) override {
    if (const FsError e = canCreate(path)) return e;
    return record({Op::MakeFolder, keyOf(path)});
  }
  FsError createExclusive(const std::string& path, FileAccess, std::unique_ptr<WritableFile>& file) override {
    if (const FsError e = canCreate(path)) return e;
    file = std::make_unique<File>(*this, nextInode_);
    claimed_.insert(nextInode_);
    return record({Op::Create, keyOf(path), "", nextInode_++});
  }
  FsError renameOver(const std::string& from, const std::string& to) override {
    if (!now.links.count(keyOf(from))) return kFileNotFound;
    return kind(to) == EntryKind::Folder ? kPathFileAccessError : record({Op::Rename, keyOf(from), keyOf(to)});
  }
  FsError remove(const std::string& path) override {
    return now.links.count(keyOf(path)) ? record({Op::Remove, keyOf(path)}) : kFileNotFound;
  }
  FsError flushFolder(const std::string& folder) override {
    return now.hasFolder(keyOf(folder)) ? record({Op::FlushFolder, keyOf(folder)}) : kFileNotFound;
  }
  FsError listFolder(const std::string& folder, std::vector<FolderEntry>& entries) override {
    const std::string k = keyOf(folder);
    if (!now.hasFolder(k)) return kFileNotFound;
    for (const auto& [path, inode] : now.links)
      if (parentOf(path) == k) entries.push_back({path.substr(path.rfind('\\') + 1), EntryKind::File});
    for (const std::string& sub : now.folders)
      if (parentOf(sub) == k) entries.push_back({sub.substr(sub.rfind('\\') + 1), EntryKind::Folder});
    return 0;
  }
  FsError readWhole(const std::string& path, std::uint64_t, std::string& bytes) override {
    const std::optional<std::string> content = now.file(path);
    if (!content) return kFileNotFound;
    bytes = *content;
    return 0;
  }
  FsError lockFolder(const std::string&, std::unique_ptr<FileLock>& lock) override {
    lock = std::make_unique<NoLock>();
    return 0;
  }
  std::uint64_t writerId() override { return writer; }
  // Claims die with the process, and a reboot takes long enough for any age.
  bool removeIfAbandoned(const std::string& path, std::int64_t) override {
    const auto it = now.links.find(keyOf(path));
    return it != now.links.end() && !claimed_.count(it->second) && record({Op::Remove, keyOf(path)}) == 0;
  }

 private:
  FsError canCreate(const std::string& path) {
    if (kind(path) != EntryKind::None) return kFileAlreadyExists;
    return now.hasFolder(parentOf(keyOf(path))) ? 0 : kFileNotFound;
  }
  class File : public WritableFile {
   public:
    File(RecordingFs& fs, int inode) : fs_(fs), inode_(inode) {}
    ~File() override { fs_.claimed_.erase(inode_); }
    FsError write(std::string_view bytes) override { return fs_.record({Op::Write, "", std::string(bytes), inode_}); }
    FsError flush() override { return fs_.record({Op::Flush, "", "", inode_}); }
    FsError close() override { return 0; }

   private:
    RecordingFs& fs_;
    int inode_;
  };
  std::set<int> claimed_;  // inodes of this process's files still being written
  static inline int nextInode_ = 1;  // shared, so that a state's inodes and a later put never meet
};

// Whether log[i] is on the disk whatever happens after op p-1: its data flushed
// to its file, or its entry to its folder.
bool durable(const std::vector<Op>& log, std::size_t i, std::size_t p) {
  const Op& op = log[i];
  if (op.kind == Op::Flush || op.kind == Op::FlushFolder || op.kind == Op::Post || op.kind == Op::Mark) return true;
  const std::string folder = parentOf(op.kind == Op::Rename ? op.b : op.a);
  for (std::size_t j = i + 1; j < p; ++j) {
    if (op.kind == Op::Write ? log[j].kind == Op::Flush && log[j].inode == op.inode
                             : log[j].kind == Op::FlushFolder && log[j].a == folder)
      return true;
  }
  return false;
}

struct Crash {
  Disk disk;
  std::vector<std::string> marks;                         // points reached, in order
  std::vector<std::pair<std::string, std::string>> posts;  // (key, body) the service got
  bool reached(const std::string& mark) const { return std::find(marks.begin(), marks.end(), mark) != marks.end(); }
};

std::vector<Crash> crashStates(const RecordingFs& fs) {
  std::vector<Crash> states;
  std::set<std::string> seen;
  for (std::size_t p = 0; p <= fs.log.size(); ++p) {
    std::vector<std::size_t> open;  // not yet durable
    for (std::size_t i = 0; i < p; ++i)
      if (!durable(fs.log, i, p)) open.push_back(i);
    // Kept: the first k of them; or all but some of the last three.
    std::vector<std::set<std::size_t>> choices;
    for (std::size_t k = 0; k <= open.size(); ++k) choices.emplace_back(open.begin(), open.begin() + k);
    const std::size_t tail = std::min<std::size_t>(3, open.size());
    for (unsigned mask = 0; mask < (1u << tail); ++mask) {
      std::set<std::size_t> kept(open.begin(), open.end());
      for (std::size_t t = 0; t < tail; ++t)
        if (!(mask & (1u << t))) kept.erase(open[open.size() - 1 - t]);
      choices.push_back(kept);
    }
    for (const auto& kept : choices) {
      Crash c{fs.initial, fs.setupMarks, {}};
      for (std::size_t i = 0; i < p; ++i) {
        const Op& op = fs.log[i];
        if (op.kind == Op::Mark) c.marks.push_back(op.a);
        if (op.kind == Op::Post) c.posts.emplace_back(op.a, op.b);
        if (!std::count(open.begin(), open.end(), i) || kept.count(i)) apply(c.disk, op);
      }
      // An entry whose folder did not survive is gone with it.
      std::erase_if(c.disk.links, [&](const auto& l) { return !c.disk.hasFolder(parentOf(l.first)); });
      std::erase_if(c.disk.folders, [&](const auto& f) { return !c.disk.hasFolder(f); });
      std::string key = std::to_string(c.marks.size()) + "/" + std::to_string(c.posts.size());
      for (const auto& [path, inode] : c.disk.links) key += "|" + path + "=" + c.disk.data[inode];
      for (const std::string& f : c.disk.folders) key += "|" + f;
      if (seen.insert(key).second) states.push_back(std::move(c));
    }
  }
  return states;
}

constexpr const char* kStateFile = "C:\\internet-state";

// One machine (company "C", location 3, machine 7, data under C:\Data) on a
// recording disk, the offline switch in a file as on POSIX, and a service that
// stores each upload once per Idempotency-Key.
struct World : FakePlatform {
  RecordingFs fs;
  std::map<std::string, std::string> stored;  // key -> body
  std::function<void()> onPost;               // run once, while the first upload is in flight
  std::unique_ptr<XMLLoad> control;

  explicit World(const Crash* after = nullptr) {
    addInstallation("Shop", "C", "3", "7", "False", "C:\\Data");
    setRegistryString("Software\\Velmora Solutions, LLC\\QMX Client\\Settings", "Inbox", "C:\\Inbox");
    interposeFileSystem(&fs);
    if (after) {
      fs.now = after->disk, fs.writer = 2;
      for (const auto& [key, body] : after->posts) stored.emplace(key, body);
    } else {
      fs.now.folders = {"C:\\Data", "C:\\Data\\3", "C:\\Inbox"};
    }
    setHttpHandler([this](const HttpRequest& r) { return serve(r); });
    control = std::make_unique<XMLLoad>(*this);
  }
  std::optional<std::uint32_t> queryConnectedState() override { return readConnectedStateFile(fs, kStateFile); }
  bool setConnectedState(std::uint32_t state, std::uint32_t) override {
    return writeConnectedStateFile(fs, kStateFile, state);
  }
  HttpReply serve(const HttpRequest& r) {
    if (r.url.find("processForms.asp") != std::string::npos) {
      const std::string key = r.headers.at(0).second;
      (void)fs.record({Op::Post, key, *r.body});
      stored.emplace(key, *r.body);
      if (auto hook = std::exchange(onPost, nullptr)) hook();
      return {200, "text/xml", "<xml><status>Success</status></xml>"};
    }
    if (r.url.find("Bus_ChkComp.asp") != std::string::npos)
      return {200, "text/xml", "<xml><status levelNum=\"5\">Success</status></xml>"};
    const std::string rows = r.url.find("Time=New") != std::string::npos
                                 ? "<z:row iKey=\"1\" v=\"one\"/><z:row iKey=\"2\" v=\"two\"/>"
                                 : "<z:row iKey=\"2\" v=\"deux\"/><z:row iKey=\"3\" v=\"three\"/>";
    return {200, "text/xml", "<xml><status>Success</status><TimeStamp ModTime=\"t" + std::to_string(httpRequests.size()) +
                                 "\"/><rs:data>" + rows + "</rs:data></xml>"};
  }
  void mark(const std::string& what) { (void)fs.record({Op::Mark, what}); }
  int timesStored(const std::string& token) const {
    return static_cast<int>(std::count_if(stored.begin(), stored.end(), [&](const auto& s) {
      return s.second.find("v=\"" + token + "\"") != std::string::npos;
    }));
  }
  // SaveLocal, marked when it begins and when it returns: "save a.xml T1".
  void save(const std::string& name, const std::string& token) {
    mark("begin " + name + " " + token);
    control->SaveLocal("<xml><rs:data Screen=\"S\"><z:row v=\"" + token + "\"/></rs:data></xml>", name);
    mark("save " + name + " " + token);
  }
  std::string data(const std::string& name) const { return "C:\\Data\\3\\" + name; }
};

struct Writer {
  const char* name;
  std::vector<std::string> files;  // each is, after a cut, a version the run gave it
  std::function<void(World&)> setup;
  std::vector<std::function<void(World&)>> steps;
  // The control's next call after the cut, and what must hold.
  std::function<void(World&, const Crash&, const std::string& what)> next;
};

// After a cut, then an upload: no saved text is stored twice, and for each text
// whose save returned, it or a later text of its name is stored. A text put there
// afterwards, by SaveLocal or by another program, is stored once by the next
// upload, whatever identity records the cut left.
void checkTransactions(World& w, const Crash& c, const std::string& what) {
  std::map<std::string, std::vector<std::string>> begun;  // name -> tokens in order
  for (const std::string& m : c.marks)
    if (m.rfind("begin ", 0) == 0) begun[m.substr(6, m.rfind(' ') - 6)].push_back(m.substr(m.rfind(' ') + 1));
  for (const auto& [name, tokens] : begun) {
    const auto text = w.fs.now.file(w.data("SavedFiles\\" + name));
    check(!text || std::any_of(tokens.begin(), tokens.end(),
                               [&](const auto& t) { return text->find("\"" + t + "\"") != std::string::npos; }),
          what + ": a saved file holds a text saved under its name", name + ": " + text.value_or(""));
  }
  w.control->BackOnline();
  check(w.messageBoxes.empty(), what + ": the next upload succeeds", w.messageBoxes.empty() ? "" : w.messageBoxes[0]);
  for (const auto& [name, tokens] : begun) {
    int later = 0;  // stored among this text and those saved after it under its name
    for (std::size_t i = tokens.size(); i-- > 0;) {
      const int n = w.timesStored(tokens[i]);
      check(n <= 1, what + ": no text is stored twice", tokens[i]);
      later += n;
      if (c.reached("save " + name + " " + tokens[i]))
        check(later >= 1, what + ": every saved text is stored", tokens[i]);
    }
  }
  w.fs.put(w.data("SavedFiles\\a.xml"), "<xml><rs:data Screen=\"S\"><z:row v=\"T8\"/></rs:data></xml>");
  w.save("b.xml", "T9");
  w.control->BackOnline();
  check(w.timesStored("T8") == 1, what + ": a text put under an uploaded name is stored once", "T8");
  check(w.timesStored("T9") == 1, what + ": a text saved under an uploaded name is stored once", "T9");
}

XmlDocument loadCachedData(World& w) {
  std::string page = "http://server/data.asp";
  return w.control->XMLLoad_(page, "c.xml");
}

const std::vector<Writer>& writers() {
  static const std::vector<Writer> list = {
      {"transactions", {}, [](World&) {},
       {[](World& w) { w.save("a.xml", "T1"); }, [](World& w) { w.save("b.xml", "T2"); },
        [](World& w) { w.control->BackOnline(); }, [](World& w) { w.save("a.xml", "T3"); }},
       checkTransactions},
      // A save of the name being uploaded, made while its post is in flight.
      {"upload race", {}, [](World& w) { w.save("a.xml", "T1"); },
       {[](World& w) {
         w.onPost = [&w] { w.save("a.xml", "T3"); };
         w.control->BackOnline();
       }},
       checkTransactions},
      {"key log", {"C:\\Data\\3\\log\\log.xml"}, [](World&) {},
       {[](World& w) { w.mark(w.control->getKey()); }, [](World& w) { w.mark(w.control->getKey()); },
        [](World& w) { w.mark(w.control->getKey()); }},
       [](World& w, const Crash& c, const std::string& what) {
         const std::string key = w.control->getKey();
         check(!c.reached(key), what + ": no key is issued twice", key);
       }},
      {"cached data file", {"C:\\Data\\3\\c.xml"}, [](World& w) { w.control->put_Authenticated(true); },
       {loadCachedData, loadCachedData},  // a first download, then a merged refresh
       [](World& w, const Crash&, const std::string& what) {
         w.control->put_Authenticated(true);
         check(loadCachedData(w) != nullptr, what + ": the next refresh loads it", "");
       }},
      {"style sheet", {"C:\\Data\\3\\SavedFiles\\style\\s.xsl"}, [](World&) {},
       {[](World& w) { w.save("style\\s.xsl", "S1"); }, [](World& w) { w.save("style\\s.xsl", "S2"); }},
       [](World& w, const Crash&, const std::string& what) {
         if (w.fs.now.file(w.data("SavedFiles\\style\\s.xsl")))
           check(!w.control->GetXSL(Variant(std::string("style\\s.xsl"))).empty(), what + ": GetXSL reads it", "");
       }},
      {"credential record", {"c:\\123.xml"},
       [](World& w) { w.fs.put("c:\\123.xml", "<xml><username>u</username><pwd>old</pwd><levelNum>1</levelNum></xml>"); },
       {[](World& w) { ASSERT_TRUE(w.control->Login("u", "new")); }},
       [](World& w, const Crash&, const std::string& what) {
         const bool renewed = w.fs.now.file("c:\\123.xml")->find("$fake$") != std::string::npos;
         w.fs.put(kStateFile, "16\n");
         check(w.control->Login("u", renewed ? "new" : "old"), what + ": an offline login takes its password", "");
       }},
      {"purchase order", {"C:\\Inbox\\PO00000042.POD"}, [](World&) {},
       {[](World& w) { ASSERT_TRUE(w.control->SaveElectronicPurchaseOrder("42", "<po n=\"1\"/>")); },
        [](World& w) { ASSERT_TRUE(w.control->SaveElectronicPurchaseOrder("42", "<po n=\"2\"/>")); }},
       [](World&, const Crash&, const std::string&) {}},
      {"offline switch", {kStateFile}, [](World&) {},
       {[](World& w) { w.control->SetOffline(true); }, [](World& w) { w.control->SetOffline(false); }},
       [](World& w, const Crash&, const std::string& what) {
         check(w.control->getOffline() == (w.fs.now.file(kStateFile) == "16\n"), what + ": the switch reads back", "");
       }},
  };
  return list;
}

TEST(CrashStates, EveryWriterSurvivesAPowerCutAtAnyPoint) {
  const auto started = std::chrono::steady_clock::now();
  std::size_t total = 0;
  for (const Writer& writer : writers()) {
    World run;
    writer.setup(run);
    run.fs.checkpoint();
    // versions[i]: each tracked file once i steps have returned.
    std::vector<std::vector<std::optional<std::string>>> versions;
    const auto snapshot = [&] {
      versions.emplace_back();
      for (const std::string& f : writer.files) versions.back().push_back(run.fs.now.file(f));
    };
    snapshot();
    for (const auto& step : writer.steps) {
      step(run);
      run.mark("step");
      snapshot();
    }
    const std::vector<Crash> states = crashStates(run.fs);
    total += states.size();
    std::cout << writer.name << ": " << run.fs.log.size() << " operations, " << states.size() << " crash states\n";
    for (std::size_t s = 0; s < states.size(); ++s) {
      const Crash& c = states[s];
      const std::string what = writer.name;
      SCOPED_TRACE(what + ", state " + std::to_string(s));
      const auto returned = static_cast<std::size_t>(std::count(c.marks.begin(), c.marks.end(), "step"));
      for (std::size_t f = 0; f < writer.files.size(); ++f) {
        const auto now = c.disk.file(writer.files[f]);
        bool known = false;
        for (std::size_t v = returned; v < versions.size(); ++v) known = known || versions[v][f] == now;
        check(known, what + ": the file is its old or its new text", writer.files[f] + ": " + now.value_or("(none)"));
      }
      World after(&c);
      try {
        writer.next(after, c, what);
      } catch (const AutomationError& e) {
        ADD_FAILURE() << what << ": the next call fails: " << e.description();
      }
      if (testing::Test::HasFailure()) {
        for (const std::string& m : c.marks) std::cout << "reached: " << m << "\n";
        for (const auto& [path, inode] : c.disk.links) std::cout << path << " = " << c.disk.data.at(inode) << "\n";
        for (const auto& [key, body] : c.posts) std::cout << "posted " << key << " " << body << "\n";
        return;
      }
    }
  }
  std::cout << total << " crash states in "
            << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count()
            << " ms\n";
}

}  // namespace
}  // namespace qmx
