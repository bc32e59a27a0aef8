// What only the POSIX write primitive does itself: write(2) taking part of a
// buffer, being interrupted, or taking nothing on a full disk, and the numbers
// errno values become. The policy's faults (a failed create, flush, close,
// rename) are FaultReplay's and FaultyPlatform's, for every backend; that the
// flushes reach the disk is traced by integration/trace-durability.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "base/automation_error.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/write_all.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

int g_writes = 0;

ssize_t failWith(int err) {
  errno = err;
  return -1;
}
// Progress in small steps, interrupted now and then: the whole text still lands.
ssize_t smallInterruptedWrites(int fd, const void* buffer, size_t count) {
  if (g_writes++ % 3 == 1) return failWith(EINTR);
  return ::write(fd, buffer, count < 2 ? count : 2);
}
// Three bytes, then the disk is full.
ssize_t shortThenDiskFull(int fd, const void* buffer, size_t count) {
  if (g_writes++ > 0) return failWith(ENOSPC);
  return ::write(fd, buffer, count < 3 ? count : 3);
}
// Takes nothing and reports nothing: must end, not spin.
ssize_t takesNothing(int, const void*, size_t) { return 0; }

TEST(PosixWriteAll, WritesEveryByteThroughShortAndInterruptedWritesAndEndsOnAFullDisk) {
  test::TempRoot root;
  const int fd = ::open(root.at("t").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  std::string text;
  for (int i = 0; i < 300; ++i) text += static_cast<char>(i);
  EXPECT_TRUE(posix::writeAll(fd, text, smallInterruptedWrites));
  EXPECT_GT(g_writes, 150);
  g_writes = 0;
  errno = 0;
  EXPECT_FALSE(posix::writeAll(fd, "more text", shortThenDiskFull));
  EXPECT_EQ(errno, ENOSPC);
  errno = 0;
  EXPECT_FALSE(posix::writeAll(fd, "x", takesNothing));
  EXPECT_EQ(errno, ENOSPC);
  ::close(fd);
  EXPECT_EQ(root.read("t"), text + "mor");
  // What the host hears: a full disk or quota is 61, a refusal 70, anything else 75.
  EXPECT_EQ(posix::errorNumberForErrno(ENOSPC), kDiskFull);
  EXPECT_EQ(posix::errorNumberForErrno(EDQUOT), kDiskFull);
  EXPECT_EQ(posix::errorNumberForErrno(EACCES), kPermissionDenied);
  EXPECT_EQ(posix::errorNumberForErrno(EIO), kPathFileAccessError);
}

}  // namespace
}  // namespace qmx
