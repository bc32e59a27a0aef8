// The promises of the seam's file and folder calls, run over every backend
// that can run here, so the test fake cannot drift from the real one.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "base/automation_error.h"
#include "platform/posix/posix_platform.h"
#include "support/fake_platform.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

using test::errorNumberOf;
using Names = std::vector<std::string>;

// Each backend offers the platform and two ways around it, for what the seam
// cannot do itself: mark a file read-only, and put a file down directly.
class FakeBackend {
 public:
  Platform& platform() { return fake_; }
  void markReadOnly(const std::string& path) { fake_.setReadOnly(path); }
  void putFileDirectly(const std::string& path, std::string_view bytes) { fake_.putFile(path, bytes); }

 private:
  test::FakePlatform fake_;
};

class PosixBackend {
 public:
  PosixBackend() { root_.makeFolder("drive_c"); }
  Platform& platform() { return posix_; }
  void markReadOnly(const std::string& path) {
    ASSERT_EQ(::chmod(hostPath(path).c_str(), 0444), 0) << path;
  }
  void putFileDirectly(const std::string& path, std::string_view bytes) {
    std::ofstream out(hostPath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
  }

 private:
  std::string hostPath(const std::string& path) const { return posix_.driveMap().toHostPath(path); }

  test::TempRoot root_;
  PosixPlatform posix_{root_.path(), [](const std::string&) {}};
};

template <typename Backend>
class PlatformContract : public ::testing::Test {
 protected:
  PlatformContract() { platform().createFolder(kFolder); }
  Platform& platform() { return backend_.platform(); }
  static std::string at(const std::string& name) { return std::string(kFolder) + "\\" + name; }
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

  static constexpr const char* kFolder = "C:\\Work";
  Backend backend_;
};

using Backends = ::testing::Types<FakeBackend, PosixBackend>;
class BackendNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    return std::is_same_v<T, FakeBackend> ? "Fake" : "Posix";
  }
};
TYPED_TEST_SUITE(PlatformContract, Backends, BackendNames);

TYPED_TEST(PlatformContract, ReadFileMissesQuietlyAndRefusesAFolder) {
  Platform& p = this->platform();
  EXPECT_EQ(p.readFile(this->at("none.xml")), std::nullopt);
  EXPECT_EQ(p.readFile("C:\\Nowhere\\none.xml"), std::nullopt);
  EXPECT_FALSE(p.fileExists(this->at("none.xml")));
  EXPECT_EQ(errorNumberOf([&] { p.readFile(this->kFolder); }), kPathFileAccessError);
}

TYPED_TEST(PlatformContract, ReplaceFileCreatesThenReplacesWhole) {
  Platform& p = this->platform();
  const std::string path = this->at("t.xml");
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
  const std::string path = "C:\\Work\\missing\\t.xml";
  this->expectError(kPathNotFound, path, [&] { p.replaceFile(path, "x", FileAccess::Everyone); });
  EXPECT_FALSE(p.folderExists("C:\\Work\\missing"));
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

TYPED_TEST(PlatformContract, CreateFolderMakesOneLevelOnly) {
  Platform& p = this->platform();
  p.createFolder(this->at("a"));
  EXPECT_TRUE(p.folderExists(this->at("a")));
  EXPECT_FALSE(p.fileExists(this->at("a")));

  this->expectError(kFileAlreadyExists, this->at("a"), [&] { p.createFolder(this->at("a")); });
  p.replaceFile(this->at("f"), "f", FileAccess::Everyone);
  EXPECT_EQ(errorNumberOf([&] { p.createFolder(this->at("f")); }), kFileAlreadyExists);
  EXPECT_EQ(p.readFile(this->at("f")), "f");

  const std::string deep = "C:\\Work\\x\\y";
  this->expectError(kPathNotFound, deep, [&] { p.createFolder(deep); });
  EXPECT_FALSE(p.folderExists("C:\\Work\\x"));
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
  const std::string live = ".b.xml.tmp" + std::to_string(::getpid()) + "_7";
  this->backend_.putFileDirectly(this->at(live), "half");
  for (const char* lookalike : {".tmp1_2", "e.tmp1_2", ".e.tmp1", ".e.TMP1_2", ".e.tmp1_2x"}) {
    this->backend_.putFileDirectly(this->at(lookalike), "l");
  }

  // Upper-case folding puts "z" before "_", as the names sort on Windows.
  EXPECT_EQ(p.listFiles(this->kFolder),
            (Names{".e.tmp1", ".e.TMP1_2", ".e.tmp1_2x", ".tmp1_2", "a.xml", "az.xml", "a_1.xml",
                   "b.xml", "C.xml", "D.xml", "e.tmp1_2"}));
  EXPECT_EQ(p.readFile(this->at(live)), "half");
  EXPECT_EQ(p.listFiles(this->at("Bfolder")), Names{"inner.xml"});

  this->expectError(kPathNotFound, "C:\\Work\\none", [&] { p.listFiles("C:\\Work\\none"); });
}

TYPED_TEST(PlatformContract, LockFolderNeedsTheFolder) {
  Platform& p = this->platform();
  EXPECT_NE(p.lockFolder(this->kFolder), nullptr);
  this->expectError(kPathNotFound, "C:\\Work\\none", [&] { p.lockFolder("C:\\Work\\none"); });
}

}  // namespace
}  // namespace qmx
