#include <gtest/gtest.h>

#include "support/fake_platform.h"
#include "support/error_of.h"

namespace qmx::test {
namespace {

// Below the seam: a temporary's name already taken (a dead process with this
// pid) is passed over, and a failing primitive reports its number with the
// target's control path, keeps the old bytes and leaves no temporary.
TEST(FaultyPlatform, ReachesThePrimitivesUnderTheFilePolicy) {
  FakePlatform inner;
  inner.putFile("C:\\D\\f.txt", "old");
  FaultyPlatform p(inner, inner);
  p.countOnly({PlatformCall::FilePrimitive});
  p.failAt(4, kFileAlreadyExists);  // kind, read-only, stale clean-up, then the create
  p.replaceFile("C:\\D\\f.txt", "new", FileAccess::Everyone);
  EXPECT_EQ(p.faultsInjected(), 1u);
  EXPECT_EQ(inner.file("C:\\D\\f.txt"), "new");
  for (std::size_t step = 5; step <= 8; ++step) {  // write, flush, close, rename
    p.failAt(step, kDiskFull);
    const AutomationError e = errorOf([&] { p.replaceFile("C:\\D\\f.txt", "lost", FileAccess::Everyone); });
    EXPECT_EQ(e.number(), kDiskFull) << step;
    EXPECT_EQ(e.description(), standardErrorText(kDiskFull) + ": C:\\D\\f.txt");
    EXPECT_EQ(inner.allFiles(), std::vector<std::string>{"C:\\D\\f.txt"}) << step;
    EXPECT_EQ(inner.file("C:\\D\\f.txt"), "new");
  }
  // A deletion is flushed to its folder too; a failed flush is reported, not hidden.
  p.failAt(4, kDiskFull);  // kind, read-only, remove, then the folder flush
  EXPECT_THROW(p.deleteFile("C:\\D\\f.txt"), AutomationError);
  EXPECT_EQ(p.faultsInjected(), 1u);
}

}  // namespace
}  // namespace qmx::test
