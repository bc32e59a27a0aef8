#include <gtest/gtest.h>

#include "support/fake_platform.h"

namespace qmx::test {
namespace {

template <typename F>
int errorOf(F&& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

// The fake must fail where the real file system fails, or tests built on it
// would pass over faults.
TEST(FakePlatform, FilesAndFoldersFailLikeTheRealFileSystem) {
  FakePlatform p;
  EXPECT_EQ(errorOf([&] { p.createFolder("C:\\Data\\12"); }), kPathNotFound);
  p.createFolder("C:\\Data");
  p.createFolder("C:\\Data\\12");
  EXPECT_EQ(errorOf([&] { p.createFolder("C:\\Data"); }), kFileAlreadyExists);
  EXPECT_EQ(errorOf([&] { p.replaceFile("C:\\Nope\\a.xml", "x", FileAccess::Everyone); }), kPathNotFound);

  // Doubled and forward separators name the same file; letter case does not.
  p.replaceFile("C:\\Data\\\\12\\b.xml", "bee", FileAccess::OwnerOnly);
  EXPECT_EQ(p.file("C:/Data/12/b.xml"), "bee");
  EXPECT_EQ(p.fileAccess("C:\\Data\\12\\b.xml"), FileAccess::OwnerOnly);
  EXPECT_FALSE(p.fileExists("C:\\Data\\12\\B.xml"));
  p.putFile("C:\\Data\\12\\A.xml", "a");
  p.putFile("C:\\Data\\12\\sub\\c.xml", "c");
  EXPECT_EQ(p.listFiles("C:\\Data\\12"), (std::vector<std::string>{"A.xml", "b.xml"}));
  EXPECT_EQ(errorOf([&] { p.listFiles("C:\\Data\\13"); }), kPathNotFound);

  p.setReadOnly("C:\\Data\\12\\A.xml");
  EXPECT_EQ(errorOf([&] { p.deleteFile("C:\\Data\\12\\A.xml"); }), kPermissionDenied);
  EXPECT_EQ(errorOf([&] { p.replaceFile("C:\\Data\\12\\A.xml", "new", FileAccess::Everyone); }),
            kPermissionDenied);
  EXPECT_EQ(p.file("C:\\Data\\12\\A.xml"), "a");
  EXPECT_EQ(errorOf([&] { p.deleteFile("C:\\Data\\12\\none.xml"); }), kFileNotFound);
  EXPECT_EQ(errorOf([&] { p.readFile("C:\\Data\\12"); }), kPathFileAccessError);
  EXPECT_FALSE(p.readFile("C:\\Data\\12\\none.xml"));
}

TEST(FaultyPlatform, FailsExactlyTheNthCountedCallAndKeepsOldContent) {
  FakePlatform inner;
  inner.putFile("C:\\D\\f.txt", "old");
  FaultyPlatform p(inner);
  p.countOnly({PlatformCall::ReplaceFile, PlatformCall::HttpSend});
  p.failAt(2, kPermissionDenied);
  EXPECT_TRUE(p.fileExists("C:\\D\\f.txt"));  // not counted
  p.replaceFile("C:\\D\\f.txt", "one", FileAccess::Everyone);
  try {
    p.replaceFile("C:\\D\\f.txt", "two", FileAccess::Everyone);
    FAIL() << "no fault";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), kPermissionDenied);
    EXPECT_NE(e.description().find("C:\\D\\f.txt"), std::string::npos);
  }
  EXPECT_EQ(inner.file("C:\\D\\f.txt"), "one");
  p.replaceFile("C:\\D\\f.txt", "three", FileAccess::Everyone);  // not persistent
  EXPECT_EQ(p.calls(), 3u);
  EXPECT_EQ(p.faultsInjected(), 1u);
  EXPECT_EQ(p.log().size(), 4u);

  // A failing send looks like a refused connection, naming the address.
  inner.setHttpHandler([](const HttpRequest&) { return HttpReply{200, "text/xml", "<xml/>"}; });
  p.failAt(1, kDiskFull, true);
  auto session = p.openHttpSession();
  for (int i = 0; i < 2; ++i) {
    try {
      session->send({"GET", "http://127.0.0.1:1/x.asp", std::nullopt});
      FAIL() << "no fault";
    } catch (const AutomationError& e) {
      EXPECT_LT(e.number(), 0);
      EXPECT_NE(e.description().find("http://127.0.0.1:1/x.asp"), std::string::npos);
    }
  }
  EXPECT_TRUE(inner.httpRequests.empty());
}

}  // namespace
}  // namespace qmx::test
