#include <gtest/gtest.h>

#include "support/fake_platform.h"

namespace qmx::test {
namespace {

// The replay tests trust this: exactly the Nth counted call fails, with the
// chosen number, and the file keeps what it held before.
TEST(FaultyPlatform, FailsExactlyTheNthCountedCallAndKeepsOldContent) {
  FakePlatform inner;
  inner.putFile("C:\\D\\f.txt", "old");
  FaultyPlatform p(inner);
  p.countOnly({PlatformCall::ReplaceFile});
  p.failAt(2, kPermissionDenied);
  EXPECT_TRUE(p.fileExists("C:\\D\\f.txt"));  // not counted
  p.replaceFile("C:\\D\\f.txt", "one", FileAccess::Everyone);
  EXPECT_EQ(errorNumberOf([&] { p.replaceFile("C:\\D\\f.txt", "two", FileAccess::Everyone); }), kPermissionDenied);
  EXPECT_EQ(inner.file("C:\\D\\f.txt"), "one");
  p.replaceFile("C:\\D\\f.txt", "three", FileAccess::Everyone);  // not persistent
  EXPECT_EQ(p.calls(), 3u);
  EXPECT_EQ(p.faultsInjected(), 1u);
}

}  // namespace
}  // namespace qmx::test
