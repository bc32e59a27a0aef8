// Temporaries that a killed write leaves behind: the POSIX backend removes those
// of dead writers when the folder is next written or listed, and never a live
// writer's.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/posix_platform.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

using Names = std::vector<std::string>;

// The pid of a process that has exited and been reaped, so no process has it.
pid_t pidOfAnExitedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
  return child;
}

struct TemporaryWorld {
  test::TempRoot root;
  PosixPlatform platform{root.path(), [](const std::string&) {}};
  const std::string dead = std::to_string(pidOfAnExitedProcess());
  const std::string deadTemp = ".a.xml.tmp" + dead + "_0";
  const std::string liveTemp = ".b.xml.tmp" + std::to_string(::getpid()) + "_0";
  // pid_t is 32 bits: this number would wrap onto the dead writer's pid.
  const std::string wrappedTemp = ".c.xml.tmp" + std::to_string((std::uint64_t{1} << 32) + std::stoull(dead)) + "_0";

  TemporaryWorld() { root.makeFolder("drive_c/W/sub"); }
  static std::string at(const std::string& name) { return "drive_c/W/" + name; }
  void leaveTemporaries() const {
    root.write(at(deadTemp), std::string(4096, 'x'));
    root.write(at(liveTemp), "live");
    root.write(at(wrappedTemp), "wrapped");
    root.write(at("sub/" + deadTemp), "in a subfolder");
  }
  // Everything in the folder, temporaries included.
  std::set<std::string> entries() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(root.at("drive_c/W"))) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  void expectOnlyDeadWritersTemporaryGone() const {
    EXPECT_FALSE(root.exists(at(deadTemp)));
    EXPECT_EQ(root.read(at(liveTemp)), "live");
    EXPECT_EQ(root.read(at(wrappedTemp)), "wrapped");
    // Only the folder written or listed is cleared.
    EXPECT_EQ(root.read(at("sub/" + deadTemp)), "in a subfolder");
  }
};

TEST(LeftoverTemporaries, DeadWritersTemporaryGoesOnTheNextWriteOrListing) {
  TemporaryWorld w;
  w.leaveTemporaries();
  w.platform.replaceFile("C:\\W\\c.xml", "c", FileAccess::Everyone);
  w.expectOnlyDeadWritersTemporaryGone();
  // The write's own temporary went into place.
  EXPECT_EQ(w.entries(), (std::set<std::string>{"c.xml", "sub", w.liveTemp, w.wrappedTemp}));
  EXPECT_EQ(w.root.read(TemporaryWorld::at("c.xml")), "c");

  w.leaveTemporaries();
  EXPECT_EQ(w.platform.listFiles("C:\\W"), Names{"c.xml"});
  w.expectOnlyDeadWritersTemporaryGone();

  // A folder carrying a temporary's name is nobody's leftover.
  w.root.makeFolder(TemporaryWorld::at(w.deadTemp));
  w.platform.replaceFile("C:\\W\\c.xml", "c2", FileAccess::Everyone);
  EXPECT_EQ(w.platform.listFiles("C:\\W"), Names{"c.xml"});
  EXPECT_TRUE(w.platform.folderExists("C:\\W\\" + w.deadTemp));
}

}  // namespace
}  // namespace qmx
