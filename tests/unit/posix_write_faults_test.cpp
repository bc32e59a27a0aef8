// What only the POSIX write primitive does itself: write(2) taking part of a
// buffer, being interrupted, or taking nothing on a full disk, and the numbers
// errno values become. The policy's faults (a failed create, flush, close,
// rename) are FaultReplay's and FaultyPlatform's, for every backend.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/automation_error.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/write_all.h"
#include "support/fake_platform.h"
#include "support/temp_root.h"

// This program's fsync stands in for the C library's (the library is linked in
// statically): it counts the calls and fails them with g_fsyncError when set.
int g_fsyncCalls = 0;
int g_fsyncError = 0;
extern "C" int fsync(int fd) {
  ++g_fsyncCalls;
  if (g_fsyncError == 0) return static_cast<int>(::syscall(SYS_fsync, fd));
  errno = g_fsyncError;
  return -1;
}

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

// The file and then its folder are flushed; a failed flush of the file keeps
// the old bytes, leaves no temporary, and reaches the host as its number.
TEST(PosixWriteAll, FlushesTheFileAndItsFolderAndReportsAFailedFlush) {
  test::TempRoot root;
  root.write("drive_c/W/t.xml", "old");
  PosixPlatform platform(root.path(), [](const std::string&) {});
  g_fsyncCalls = 0;
  platform.replaceFile("C:\\W\\t.xml", "new", FileAccess::Everyone);
  EXPECT_EQ(g_fsyncCalls, 2);
  g_fsyncError = ENOSPC;
  EXPECT_EQ(test::errorNumberOf([&] { platform.replaceFile("C:\\W\\t.xml", "lost", FileAccess::Everyone); }),
            kDiskFull);
  g_fsyncError = 0;
  EXPECT_EQ(root.read("drive_c/W/t.xml"), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.at("drive_c/W")), {}), 1);
}

}  // namespace
}  // namespace qmx
