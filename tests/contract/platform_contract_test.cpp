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
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/posix_platform.h"
#include "support/temp_root.h"
#endif

namespace qmx {
namespace {

using test::errorNumberOf;
using Names = std::vector<std::string>;

// Each backend offers the platform, the folder the cases work in, and ways
// around the seam: mark a file read-only, put a file down directly, and name a
// writer that is alive and one that has ended.
class FakeBackend {
 public:
  Platform& platform() { return fake_; }
  std::string root() const { return "C:"; }
  void markReadOnly(const std::string& path) { fake_.setReadOnly(path); }
  void putFileDirectly(const std::string& path, std::string_view bytes) { fake_.putFile(path, bytes); }
  std::uint64_t liveWriter() const { return fake_.writerId; }
  std::uint64_t endedWriter() {
    fake_.endedWriters.insert(99);
    return 99;
  }

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
  Platform& platform() { return win_; }
  std::string root() const { return root_; }
  void markReadOnly(const std::string& path) {
    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY)) << path;
  }
  void putFileDirectly(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
  }
  std::uint64_t liveWriter() const { return ::GetCurrentProcessId(); }
  std::uint64_t endedWriter() const { return 0xFFFFFFF0u; }  // no process has that id

 private:
  std::string root_;
  WinPlatform win_{[](const std::string&) {}};
};
using Backends = ::testing::Types<FakeBackend, WinBackend>;
#else
class PosixBackend {
 public:
  PosixBackend() { root_.makeFolder("drive_c"); }
  Platform& platform() { return posix_; }
  std::string root() const { return "C:"; }
  void markReadOnly(const std::string& path) {
    ASSERT_EQ(::chmod(hostPath(path).c_str(), 0444), 0) << path;
  }
  void putFileDirectly(const std::string& path, std::string_view bytes) {
    std::ofstream out(hostPath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
  }
  std::uint64_t liveWriter() const { return static_cast<std::uint64_t>(::getpid()); }
  // A child that has exited and been reaped: its pid names no process.
  std::uint64_t endedWriter() const {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return static_cast<std::uint64_t>(child);
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
  Platform& platform() { return backend_.platform(); }
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

TYPED_TEST(PlatformContract, ReadMissesQuietlyAndReplaceFileCreatesThenReplacesWhole) {
  Platform& p = this->platform();
  const std::string path = this->at("t.xml");
  EXPECT_EQ(p.readFile(path), std::nullopt);
  EXPECT_EQ(p.readFile(this->backend_.root() + "\\Nowhere\\none.xml"), std::nullopt);
  EXPECT_FALSE(p.fileExists(path));
  EXPECT_EQ(errorNumberOf([&] { p.readFile(this->kFolder); }), kPathFileAccessError);
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

  // A folder in the way is no file to replace.
  p.createFolder(this->at("sub"));
  EXPECT_EQ(errorNumberOf([&] { p.replaceFile(this->at("sub"), "x", FileAccess::Everyone); }),
            kPathFileAccessError);
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

TYPED_TEST(PlatformContract, ReplaceFileInAMissingFolderFailsWithPathNotFound) {
  Platform& p = this->platform();
  const std::string path = this->at("missing\\t.xml");
  this->expectError(kPathNotFound, path, [&] { p.replaceFile(path, "x", FileAccess::Everyone); });
  EXPECT_FALSE(p.folderExists(this->at("missing")));
  EXPECT_EQ(p.listFiles(this->kFolder), Names{});
}

TYPED_TEST(PlatformContract, DeleteFileRemovesAFileAndRefusesAMissingOne) {
  Platform& p = this->platform();
  const std::string path = this->at("d.xml");
  p.replaceFile(path, "d", FileAccess::Everyone);
  p.deleteFile(path);
  EXPECT_EQ(p.readFile(path), std::nullopt);
  this->expectError(kFileNotFound, path, [&] { p.deleteFile(path); });
  // A folder is no file to delete.
  p.createFolder(this->at("sub"));
  EXPECT_EQ(errorNumberOf([&] { p.deleteFile(this->at("sub")); }), kFileNotFound);
  EXPECT_TRUE(p.folderExists(this->at("sub")));
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
  Platform& p = this->platform();
  for (const char* name : {"b.xml", "C.xml", "a.xml", "D.xml", "a_1.xml", "az.xml"}) {
    p.replaceFile(this->at(name), name, FileAccess::Everyone);
  }
  p.createFolder(this->at("Bfolder"));
  p.replaceFile(this->at("Bfolder\\inner.xml"), "i", FileAccess::Everyone);
  // A live writer's temporary (this process is alive) is hidden, never removed;
  // names that only resemble one are files like any other.
  const std::string live = ".b.xml.tmp" + std::to_string(this->backend_.liveWriter()) + "_7";
  this->backend_.putFileDirectly(this->at(live), "half");
  // An ended writer's goes at the listing; the folder lock leaves nothing listed.
  const std::string dead = ".b.xml.tmp" + std::to_string(this->backend_.endedWriter()) + "_1";
  this->backend_.putFileDirectly(this->at(dead), "torn");
  { auto lock = p.lockFolder(this->kFolder); }
  for (const char* lookalike : {".tmp1_2", "e.tmp1_2", ".e.tmp1", ".e.TMP1_2", ".e.tmp1_2x"}) {
    this->backend_.putFileDirectly(this->at(lookalike), "l");
  }

  // Upper-case folding puts "z" before "_", as the names sort on Windows.
  EXPECT_EQ(p.listFiles(this->kFolder),
            (Names{".e.tmp1", ".e.TMP1_2", ".e.tmp1_2x", ".tmp1_2", "a.xml", "az.xml", "a_1.xml",
                   "b.xml", "C.xml", "D.xml", "e.tmp1_2"}));
  EXPECT_EQ(p.readFile(this->at(live)), "half");
  EXPECT_FALSE(p.fileExists(this->at(dead)));
  EXPECT_EQ(p.listFiles(this->at("Bfolder")), Names{"inner.xml"});

  // A write clears the ended writer's temporaries of its own folder only, and a
  // folder carrying such a name is nobody's leftover.
  this->backend_.putFileDirectly(this->at(dead), "torn");
  this->backend_.putFileDirectly(this->at("Bfolder\\" + dead), "torn");
  p.replaceFile(this->at("b.xml"), "b2", FileAccess::Everyone);
  EXPECT_FALSE(p.fileExists(this->at(dead)));
  EXPECT_EQ(p.readFile(this->at(live)), "half");
  EXPECT_EQ(p.readFile(this->at("Bfolder\\" + dead)), "torn");
  p.createFolder(this->at(dead));
  p.replaceFile(this->at("b.xml"), "b3", FileAccess::Everyone);
  EXPECT_TRUE(p.folderExists(this->at(dead)));

  this->expectError(kPathNotFound, this->at("none"), [&] { p.listFiles(this->at("none")); });
}

TYPED_TEST(PlatformContract, StreamedWriteLandsWholeOrNotAtAll) {
  Platform& p = this->platform();
  const std::string path = this->at("t.xml");
  p.replaceFile(path, "old", FileAccess::Everyone);
  const auto halfThenFail = [](const Platform::ContentSink& sink) {
    sink(std::string(300000, 'a'));
    throw AutomationError(kInvalidProcedureCall, "no byte for this character");
  };
  this->expectError(kInvalidProcedureCall, "no byte for this character",
                    [&] { p.replaceFileStreamed(path, halfThenFail, FileAccess::Everyone); });
  EXPECT_EQ(p.readFile(path), "old");
  p.replaceFileStreamed(
      path, [](const Platform::ContentSink& sink) { sink("new "), sink(""), sink("bytes"); }, FileAccess::Everyone);
  EXPECT_EQ(p.readFile(path), "new bytes");
  EXPECT_EQ(p.listFiles(this->kFolder), Names{"t.xml"});
}

}  // namespace
}  // namespace qmx
