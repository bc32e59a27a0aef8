// The promises of the seam's file and folder calls, run over every backend:
// the fake and the POSIX backend here, the fake and the Windows backend under
// Wine, so that none can drift from the others.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "base/automation_error.h"
#include "support/fake_platform.h"
#ifdef _WIN32
#include <windows.h>

#include "platform/win/win_platform.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

#include "platform/posix/posix_platform.h"
#include "support/temp_root.h"
#endif

namespace qmx {
namespace {

using test::errorNumberOf;
using Names = std::vector<std::string>;

// A writer of the backend holding a new file.
std::shared_ptr<void> holdOpen(FilePlatform& p, const std::string& path) {
  std::unique_ptr<WritableFile> file;
  EXPECT_EQ(p.fileSystem().createExclusive(path, FileAccess::Everyone, file), 0) << path;
  return std::shared_ptr<WritableFile>(std::move(file));
}

// Each backend offers the platform, the folder the cases work in, and ways
// around the seam: mark a file read-only, put a file down directly, set its
// change an hour back, and hold a new file as a writer does until the token goes.
class FakeBackend {
 public:
  FilePlatform& platform() { return fake_; }
  std::string root() const { return "C:"; }
  void markReadOnly(const std::string& path) { fake_.setReadOnly(path); }
  void putFileDirectly(const std::string& path, std::string_view bytes) { fake_.putFile(path, bytes); }
  void backdate(const std::string& path) { fake_.backdate(path, 3600); }
  std::shared_ptr<void> holdAsWriter(const std::string& path) { return holdOpen(fake_, path); }

 private:
  test::FakePlatform fake_;
};

#ifdef _WIN32
class WinBackend {
 public:
  WinBackend() {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    static int made = 0;
    root_ = std::string(base) + "qmxc" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++made);
    ::CreateDirectoryA(root_.c_str(), nullptr);
  }
  ~WinBackend() {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(root_, ec);
  }
  FilePlatform& platform() { return win_; }
  std::string root() const { return root_; }
  void markReadOnly(const std::string& path) {
    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY)) << path;
  }
  void putFileDirectly(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
  }
  void backdate(const std::string& path) {
    FILETIME t;
    ::GetSystemTimeAsFileTime(&t);
    t.dwHighDateTime -= 9;  // 9 x 2^32 ticks of 100 ns: over an hour
    HANDLE file = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_TRUE(::SetFileTime(file, nullptr, nullptr, &t) && ::CloseHandle(file)) << path;
  }
  // The claim is the writer's open handles, whichever process holds them.
  std::shared_ptr<void> holdAsWriter(const std::string& path) { return holdOpen(win_, path); }

 private:
  std::string root_;
  WinPlatform win_{[](const std::string&) {}};
};
using Backends = ::testing::Types<FakeBackend, WinBackend>;
#else
class PosixBackend {
 public:
  PosixBackend() { root_.makeFolder("drive_c"); }
  FilePlatform& platform() { return posix_; }
  std::string root() const { return "C:"; }
  void markReadOnly(const std::string& path) {
    ASSERT_EQ(::chmod(hostPath(path).c_str(), 0444), 0) << path;
  }
  void putFileDirectly(const std::string& path, std::string_view bytes) {
    std::ofstream out(hostPath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
  }
  void backdate(const std::string& path) {
    const timespec hourAgo{::time(nullptr) - 3600, 0}, both[2] = {hourAgo, hourAgo};
    EXPECT_EQ(::utimensat(AT_FDCWD, hostPath(path).c_str(), both, 0), 0) << path;
  }
  // The writer is a child process, holding the file until killed.
  std::shared_ptr<void> holdAsWriter(const std::string& path) {
    int ready[2];
    char held = 0;
    EXPECT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      const auto file = holdOpen(posix_, path);
      if (file && ::write(ready[1], "x", 1) == 1) ::pause();
      ::_exit(1);
    }
    ::close(ready[1]);
    EXPECT_EQ(::read(ready[0], &held, 1), 1) << path;
    ::close(ready[0]);
    return std::shared_ptr<void>(nullptr, [child](void*) { ::kill(child, SIGKILL), ::waitpid(child, nullptr, 0); });
  }

 private:
  std::string hostPath(const std::string& path) const { return posix_.driveMap().toHostPath(path); }

  test::TempRoot root_;
  PosixPlatform posix_{root_.path(), [](const std::string&) {}};
};
using Backends = ::testing::Types<FakeBackend, PosixBackend>;
#endif

template <typename Backend>
class PlatformContract : public ::testing::Test {
 protected:
  PlatformContract() { platform().createFolder(kFolder); }
  FilePlatform& platform() { return backend_.platform(); }
  std::string at(const std::string& name) const { return kFolder + "\\" + name; }
  // The description must name the path, so the host can tell what failed.
  void expectError(std::int32_t number, const std::string& path, const std::function<void()>& call) {
    try {
      call();
      ADD_FAILURE() << "no error for " << path;
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), number) << path;
      EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
    }
  }

  Backend backend_;
  const std::string kFolder = backend_.root() + "\\Work";
};

class BackendNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    return std::is_same_v<T, FakeBackend> ? "Fake" : "Real";
  }
};
TYPED_TEST_SUITE(PlatformContract, Backends, BackendNames);

TYPED_TEST(PlatformContract, ReadMissesQuietlyReplaceFileReplacesWholeDeleteFileRemoves) {
  Platform& p = this->platform();
  const std::string path = this->at("t.xml");
  EXPECT_EQ(p.readFile(path), std::nullopt);
  EXPECT_EQ(p.readFile(this->backend_.root() + "\\Nowhere\\none.xml"), std::nullopt);
  EXPECT_FALSE(p.fileExists(path));
  EXPECT_EQ(errorNumberOf([&] { p.readFile(this->kFolder); }), kPathFileAccessError);
  const std::string inMissing = this->at("missing\\t.xml");
  this->expectError(kPathNotFound, inMissing, [&] { p.replaceFile(inMissing, "x", FileAccess::Everyone); });
  EXPECT_FALSE(p.folderExists(this->at("missing")));
  EXPECT_EQ(p.listFiles(this->kFolder), Names{});
  const std::string first("long first content \0\xFF\x80 with a NUL", 34);
  p.replaceFile(path, first, FileAccess::Everyone);
  EXPECT_EQ(p.readFile(path), first);
  EXPECT_TRUE(p.fileExists(path));
  EXPECT_FALSE(p.folderExists(path));

  // A shorter text leaves nothing of the longer one behind.
  p.replaceFile(path, "short", FileAccess::OwnerOnly);
  EXPECT_EQ(p.readFile(path), "short");
  p.replaceFile(path, "", FileAccess::Everyone);
  EXPECT_EQ(p.readFile(path), "");
  EXPECT_EQ(p.listFiles(this->kFolder), Names{"t.xml"});

  // Deleted, it is gone; a missing file is refused.
  p.deleteFile(path);
  EXPECT_EQ(p.readFile(path), std::nullopt);
  this->expectError(kFileNotFound, path, [&] { p.deleteFile(path); });

  // A folder in the way is no file to replace or delete.
  p.createFolder(this->at("sub"));
  EXPECT_EQ(errorNumberOf([&] { p.replaceFile(this->at("sub"), "x", FileAccess::Everyone); }),
            kPathFileAccessError);
  EXPECT_EQ(errorNumberOf([&] { p.deleteFile(this->at("sub")); }), kFileNotFound);
  EXPECT_TRUE(p.folderExists(this->at("sub")));
}

TYPED_TEST(PlatformContract, ReadOnlyFileIsNeitherReplacedNorDeleted) {
  Platform& p = this->platform();
  const std::string path = this->at("kept.xml");
  p.replaceFile(path, "old bytes", FileAccess::Everyone);
  this->backend_.markReadOnly(path);

  this->expectError(kPermissionDenied, path, [&] { p.replaceFile(path, "new", FileAccess::Everyone); });
  EXPECT_EQ(p.readFile(path), "old bytes");
  // The mark stays too: a second try is refused again.
  EXPECT_EQ(errorNumberOf([&] { p.replaceFile(path, "new", FileAccess::OwnerOnly); }), kPermissionDenied);
  this->expectError(kPermissionDenied, path, [&] { p.deleteFile(path); });
  EXPECT_EQ(p.readFile(path), "old bytes");
  // Nothing half-done lies beside it.
  EXPECT_EQ(p.listFiles(this->kFolder), Names{"kept.xml"});
}

TYPED_TEST(PlatformContract, CreateFolderMakesOneLevelOnlyAndLockFolderNeedsIt) {
  Platform& p = this->platform();
  p.createFolder(this->at("a"));
  EXPECT_TRUE(p.folderExists(this->at("a")));
  EXPECT_FALSE(p.fileExists(this->at("a")));

  this->expectError(kFileAlreadyExists, this->at("a"), [&] { p.createFolder(this->at("a")); });
  p.replaceFile(this->at("f"), "f", FileAccess::Everyone);
  EXPECT_EQ(errorNumberOf([&] { p.createFolder(this->at("f")); }), kFileAlreadyExists);
  EXPECT_EQ(p.readFile(this->at("f")), "f");

  const std::string deep = this->at("x\\y");
  this->expectError(kPathNotFound, deep, [&] { p.createFolder(deep); });
  EXPECT_FALSE(p.folderExists(this->at("x")));
  // A lock needs its folder.
  EXPECT_NE(p.lockFolder(this->kFolder), nullptr);
  this->expectError(kPathNotFound, this->at("none"), [&] { p.lockFolder(this->at("none")); });
}

TYPED_TEST(PlatformContract, ListFilesGivesFilesOnlyInCaseInsensitiveNameOrder) {
  FilePlatform& p = this->platform();
  for (const char* name : {"b.xml", "C.xml", "a.xml", "D.xml", "a_1.xml", "az.xml"}) {
    p.replaceFile(this->at(name), name, FileAccess::Everyone);
  }
  p.createFolder(this->at("Bfolder"));
  p.replaceFile(this->at("Bfolder\\inner.xml"), "i", FileAccess::Everyone);
  // A temporary is hidden, and goes once no writer claims it, whatever pid its
  // name carries. Claimed by a live writer, numbered as no pid here: it stays.
  const std::string held = this->at(".b.xml.tmp4194305_7"), left = this->at(".b.xml.tmp1_1");
  auto writer = this->backend_.holdAsWriter(held);
  // Claimed by nobody and long unchanged, though numbered as a live process: it goes.
  this->backend_.putFileDirectly(left, "torn");
  this->backend_.backdate(left), this->backend_.backdate(held);
  // Just written and unclaimed (an earlier version's writer claims nothing): it stays.
  this->backend_.putFileDirectly(this->at(".b.xml.tmp1_2"), "new");
  // Names that only resemble a temporary's are files like any other; the
  // folder lock leaves nothing listed.
  { auto lock = p.lockFolder(this->kFolder); }
  for (const char* lookalike : {".tmp1_2", "e.tmp1_2", ".e.tmp1", ".e.TMP1_2", ".e.tmp1_2x"}) {
    this->backend_.putFileDirectly(this->at(lookalike), "l");
  }

  // Upper-case folding puts "z" before "_", as the names sort on Windows.
  EXPECT_EQ(p.listFiles(this->kFolder),
            (Names{".e.tmp1", ".e.TMP1_2", ".e.tmp1_2x", ".tmp1_2", "a.xml", "az.xml", "a_1.xml",
                   "b.xml", "C.xml", "D.xml", "e.tmp1_2"}));
  EXPECT_EQ(p.listFiles(this->at("Bfolder")), Names{"inner.xml"});
  EXPECT_TRUE(p.fileExists(held) && p.fileExists(this->at(".b.xml.tmp1_2")));
  EXPECT_FALSE(p.fileExists(left));
  this->expectError(kPathNotFound, this->at("none"), [&] { p.listFiles(this->at("none")); });

  // Its writer killed, the next write clears it; a folder carrying such a
  // name is nobody's leftover.
  writer.reset();
  p.createFolder(this->at(".c.xml.tmp1_1"));
  p.replaceFile(this->at("b.xml"), "b2", FileAccess::Everyone);
  EXPECT_FALSE(p.fileExists(held));
  EXPECT_TRUE(p.folderExists(this->at(".c.xml.tmp1_1")));
}

TYPED_TEST(PlatformContract, StreamedWriteLandsWholeOrNotAtAll) {
  FilePlatform& p = this->platform();
  const std::string path = this->at("t.xml");
  p.replaceFile(path, "old", FileAccess::Everyone);
  const auto halfThenFail = [](const Platform::ContentSink& sink) {
    sink(std::string(300000, 'a'));
    throw AutomationError(kInvalidProcedureCall, "no byte for this character");
  };
  this->expectError(kInvalidProcedureCall, "no byte for this character",
                    [&] { p.replaceFileStreamed(path, halfThenFail, FileAccess::Everyone); });
  EXPECT_EQ(p.readFile(path), "old");
  // The write claims its temporary from creation to rename: a listing amid a
  // long stall leaves it.
  const auto stalled = [&](const Platform::ContentSink& sink) {
    std::vector<FolderEntry> entries;
    sink("new "), sink(""), p.fileSystem().listFolder(this->kFolder, entries);
    for (const FolderEntry& e : entries)
      if (e.name.rfind(".t.xml.tmp", 0) == 0) this->backend_.backdate(this->at(e.name));
    p.listFiles(this->kFolder), sink("bytes");
  };
  p.replaceFileStreamed(path, stalled, FileAccess::Everyone);
  EXPECT_EQ(p.readFile(path), "new bytes");
  EXPECT_EQ(p.listFiles(this->kFolder), Names{"t.xml"});
}

}  // namespace
}  // namespace qmx
