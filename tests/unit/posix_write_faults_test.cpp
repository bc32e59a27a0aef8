// The POSIX backend's whole-file write with each of its system calls failing in
// turn: the error number the host sees, the target's old bytes kept exactly, and
// no temporary left in the folder.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "base/automation_error.h"
#include "platform/posix/file_system_calls.h"
#include "platform/posix/posix_platform.h"
#include "support/fake_platform.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

using posix::FileSystemCalls;
using posix::ScopedFileSystemCalls;

// Function pointers carry no state: the faults count calls here, reset per case.
int g_writes = 0;

const FileSystemCalls& real() { return ScopedFileSystemCalls::real(); }

ssize_t failWith(int err) {
  errno = err;
  return -1;
}

// The first write takes three bytes, every later one finds the disk full.
ssize_t shortThenDiskFull(int fd, const void* buffer, size_t count) {
  if (g_writes++ > 0) return failWith(ENOSPC);
  return real().write(fd, buffer, count < 3 ? count : 3);
}
ssize_t ioErrorOnWrite(int, const void*, size_t) { return failWith(EIO); }
ssize_t diskFullOnWrite(int, const void*, size_t) { return failWith(ENOSPC); }
ssize_t quotaOnSecondWrite(int fd, const void* buffer, size_t count) {
  if (g_writes++ > 0) return failWith(EDQUOT);
  return real().write(fd, buffer, count / 2);
}
// Takes nothing and reports nothing: must end, not spin.
ssize_t takesNothing(int, const void*, size_t) { return 0; }
int ioErrorOnFsync(int) { return static_cast<int>(failWith(EIO)); }
int diskFullOnFsync(int) { return static_cast<int>(failWith(ENOSPC)); }
int ioErrorOnClose(int fd) {
  real().close(fd);
  return static_cast<int>(failWith(EIO));
}
int refusedRename(const char*, const char*) { return static_cast<int>(failWith(EACCES)); }
int ioErrorOnRename(const char*, const char*) { return static_cast<int>(failWith(EIO)); }
int diskFullOnOpen(const char*, int, mode_t) { return static_cast<int>(failWith(ENOSPC)); }

std::string g_lastOpened;
int recordingOpen(const char* path, int flags, mode_t mode) {
  g_lastOpened = path;
  return real().open(path, flags, mode);
}

// Progress in small steps, interrupted now and then: the whole text still lands.
ssize_t smallInterruptedWrites(int fd, const void* buffer, size_t count) {
  if (g_writes++ % 3 == 1) return failWith(EINTR);
  return real().write(fd, buffer, count < 2 ? count : 2);
}

struct Fault {
  const char* name;
  FileSystemCalls calls;
  std::int32_t error;
};

FileSystemCalls withWrite(ssize_t (*write)(int, const void*, size_t)) {
  FileSystemCalls calls = real();
  calls.write = write;
  return calls;
}
FileSystemCalls withFsync(int (*fsync)(int)) {
  FileSystemCalls calls = real();
  calls.fsync = fsync;
  return calls;
}

struct WriteWorld {
  test::TempRoot root;
  PosixPlatform platform{root.path(), [](const std::string&) {}};
  WriteWorld() { root.makeFolder("drive_c/W"); }
  std::set<std::string> entries() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(root.at("drive_c/W"))) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
};

TEST(PosixWriteFaults, EachFailedStepKeepsTheOldBytesAndLeavesNoTemporary) {
  FileSystemCalls closeFails = real();
  closeFails.close = ioErrorOnClose;
  FileSystemCalls renameRefused = real();
  renameRefused.rename = refusedRename;
  FileSystemCalls renameFails = real();
  renameFails.rename = ioErrorOnRename;
  FileSystemCalls openFails = real();
  openFails.open = diskFullOnOpen;
  const Fault faults[] = {
      {"short write, then a full disk", withWrite(shortThenDiskFull), kDiskFull},
      {"short write, then over quota", withWrite(quotaOnSecondWrite), kDiskFull},
      {"EIO on write", withWrite(ioErrorOnWrite), kPathFileAccessError},
      {"ENOSPC on write", withWrite(diskFullOnWrite), kDiskFull},
      {"write that takes nothing", withWrite(takesNothing), kDiskFull},
      {"EIO on fsync", withFsync(ioErrorOnFsync), kPathFileAccessError},
      {"ENOSPC on fsync", withFsync(diskFullOnFsync), kDiskFull},
      {"EIO on close", closeFails, kPathFileAccessError},
      {"rename refused", renameRefused, kPermissionDenied},
      {"EIO on rename", renameFails, kPathFileAccessError},
      {"full disk on open", openFails, kDiskFull},
  };
  const std::string old("old bytes\0\xFF kept exactly", 23);
  const std::string text(10000, 'n');
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    WriteWorld w;
    w.root.write("drive_c/W/t.xml", old);
    g_writes = 0;
    {
      ScopedFileSystemCalls swap(fault.calls);
      try {
        w.platform.replaceFile("C:\\W\\t.xml", text, FileAccess::Everyone);
        ADD_FAILURE() << "no error";
      } catch (const AutomationError& e) {
        EXPECT_EQ(e.number(), fault.error);
        EXPECT_NE(e.description().find("C:\\W\\t.xml"), std::string::npos) << e.description();
      }
      // A new file fails the same way and leaves nothing at all.
      g_writes = 0;
      EXPECT_EQ(test::errorNumberOf([&] { w.platform.replaceFile("C:\\W\\n.xml", text, FileAccess::OwnerOnly); }),
                fault.error);
      // Written in pieces as they are made, the same.
      g_writes = 0;
      EXPECT_EQ(test::errorNumberOf([&] {
                  w.platform.replaceFileStreamed(
                      "C:\\W\\t.xml",
                      [&](const Platform::ContentSink& sink) {
                        for (int k = 0; k < 3; ++k) sink(text);
                      },
                      FileAccess::Everyone);
                }),
                fault.error);
    }
    EXPECT_EQ(w.root.read("drive_c/W/t.xml"), old);
    EXPECT_EQ(w.entries(), std::set<std::string>{"t.xml"});
  }
}

TEST(PosixWriteFaults, ContentThatCannotBeMadeHalfwayKeepsTheOldBytesAndPassesTheErrorOn) {
  WriteWorld w;
  w.root.write("drive_c/W/t.xml", "old");
  const auto halfThenFail = [](const Platform::ContentSink& sink) {
    sink(std::string(300000, 'a'));
    throw AutomationError(kInvalidProcedureCall, "no byte for this character");
  };
  try {
    w.platform.replaceFileStreamed("C:\\W\\t.xml", halfThenFail, FileAccess::Everyone);
    ADD_FAILURE() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), kInvalidProcedureCall);
    EXPECT_EQ(e.description(), "no byte for this character");
  }
  EXPECT_EQ(w.root.read("drive_c/W/t.xml"), "old");
  EXPECT_EQ(w.entries(), std::set<std::string>{"t.xml"});

  w.platform.replaceFileStreamed(
      "C:\\W\\t.xml", [](const Platform::ContentSink& sink) { sink("new "), sink(""), sink("bytes"); },
      FileAccess::Everyone);
  EXPECT_EQ(w.root.read("drive_c/W/t.xml"), "new bytes");
  EXPECT_EQ(w.entries(), std::set<std::string>{"t.xml"});
}

TEST(PosixWriteFaults, ShortAndInterruptedWritesStillWriteEveryByte) {
  WriteWorld w;
  w.root.write("drive_c/W/t.xml", "old");
  std::string text;
  for (int i = 0; i < 300; ++i) text += static_cast<char>(i);
  g_writes = 0;
  {
    ScopedFileSystemCalls swap(withWrite(smallInterruptedWrites));
    w.platform.replaceFile("C:\\W\\t.xml", text, FileAccess::Everyone);
  }
  EXPECT_GT(g_writes, 150);
  EXPECT_EQ(w.root.read("drive_c/W/t.xml"), text);
  EXPECT_EQ(w.entries(), std::set<std::string>{"t.xml"});
}

TEST(PosixWriteFaults, TemporaryNamesLeftByAnEarlierProcessWithThisPidArePassedOver) {
  WriteWorld w;
  FileSystemCalls recording = real();
  recording.open = recordingOpen;
  ScopedFileSystemCalls swap(recording);
  w.platform.replaceFile("C:\\W\\t.xml", "first", FileAccess::Everyone);
  // The names the next writes would take, already there.
  const std::size_t underscore = g_lastOpened.rfind('_');
  ASSERT_NE(underscore, std::string::npos) << g_lastOpened;
  const std::string stem = g_lastOpened.substr(0, underscore + 1);
  const unsigned long next = std::stoul(g_lastOpened.substr(underscore + 1)) + 1;
  for (unsigned long n = next; n < next + 3; ++n) {
    std::ofstream(stem + std::to_string(n)) << "left by a dead process";
  }

  w.platform.replaceFile("C:\\W\\t.xml", "second", FileAccess::Everyone);
  EXPECT_EQ(w.root.read("drive_c/W/t.xml"), "second");
  EXPECT_EQ(g_lastOpened, stem + std::to_string(next + 3));
  EXPECT_EQ(w.platform.listFiles("C:\\W"), std::vector<std::string>{"t.xml"});
}

}  // namespace
}  // namespace qmx
