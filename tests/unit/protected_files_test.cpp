// Files the host cannot overwrite or hide: a read-only target refuses every
// writer with 70 and keeps its bytes, and a name shaped like a write's temporary
// is refused before anything is written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "control/xmlload.h"
#include "platform/posix/posix_platform.h"
#include "support/fake_platform.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

using test::errorNumberOf;
using Names = std::vector<std::string>;

// A control over a temporary machine root: DataPath C:\Data\12, and the desktop
// client's inbox at C:\QMX\Inbox.
struct FilesWorld {
  test::TempRoot root;
  std::vector<std::string> messages;
  PosixPlatform platform{root.path(), [this](const std::string& text) { messages.push_back(text); }};
  XMLLoad control{platform};

  FilesWorld() {
    root.writeRegistryUtf16("Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Velmora Solutions, LLC\\QMX Client\\Settings]\n"
                            "\"Inbox\"=\"C:\\\\QMX\\\\Inbox\"\n");
    root.makeFolder("drive_c/Data/12");
    root.makeFolder("drive_c/QMX/Inbox");
    control.put_DataPath("C:\\Data\\12");
  }
  // Writes a file and takes its owner's write permission away.
  void putReadOnly(const std::string& relative, const std::string& bytes) const {
    root.write(relative, bytes);
    ASSERT_EQ(::chmod(root.at(relative).c_str(), 0444), 0);
  }
  mode_t modeOf(const std::string& relative) const {
    struct stat st {};
    EXPECT_EQ(::stat(root.at(relative).c_str(), &st), 0);
    return st.st_mode & 07777;
  }
};

TEST(ProtectedFiles, ReadOnlyTargetRefusesSaveLocalKeyLogAndPurchaseOrder) {
  FilesWorld w;
  w.control.SaveLocal("<xml>first</xml>", "t.xml");
  const std::string saved = "drive_c/Data/12/SavedFiles/t.xml";
  ASSERT_EQ(::chmod(w.root.at(saved).c_str(), 0444), 0);
  try {
    w.control.SaveLocal("<xml>second</xml>", "t.xml");
    ADD_FAILURE() << "read-only saved file replaced";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), kPermissionDenied);
    EXPECT_NE(e.description().find("C:\\Data\\12\\SavedFiles\\t.xml"), std::string::npos);
  }
  EXPECT_EQ(w.root.read(saved), "<xml>first</xml>");
  EXPECT_EQ(w.modeOf(saved), 0444u);

  const std::string log = "drive_c/Data/12/log/log.xml";
  w.putReadOnly(log, "<xml><logEvent TempKey=\"4\"/></xml>");
  EXPECT_EQ(errorNumberOf([&] { w.control.getKey(); }), kPermissionDenied);
  EXPECT_EQ(w.root.read(log), "<xml><logEvent TempKey=\"4\"/></xml>");

  const std::string order = "drive_c/QMX/Inbox/PO00000042.POD";
  w.putReadOnly(order, "first order");
  EXPECT_FALSE(w.control.SaveElectronicPurchaseOrder("42", "second order"));
  EXPECT_EQ(w.messages, Names{"The local file, \r\n\r\nC:\\QMX\\Inbox\\PO00000042.POD\r\n\r\n, could not be "
                              "created.  Please contact Technicl Support."});
  EXPECT_EQ(w.root.read(order), "first order");
}

TEST(ProtectedFiles, NameShapedLikeATemporaryIsRefusedBeforeAnythingIsWritten) {
  FilesWorld w;
  for (const char* name : {".order.tmp1_1", "style\\.s.xsl.tmp22_0", "data/.x.xml.tmp0_0"}) {
    try {
      w.control.SaveLocal("<xml/>", name);
      ADD_FAILURE() << "accepted " << name;
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), kPathFileAccessError) << name;
      EXPECT_NE(e.description().find(std::string("C:\\Data\\12\\SavedFiles\\") + name), std::string::npos)
          << e.description();
    }
    EXPECT_EQ(errorNumberOf([&] { w.control.GetXSL(Variant(name)); }), kPathFileAccessError) << name;
  }
  EXPECT_FALSE(w.root.exists("drive_c/Data/12/SavedFiles"));

  // Names that only resemble one are saved, and the folder lists every one of them.
  const Names lookalikes{".order.tmp1_", ".order.TMP1_1", ".order.tmp1_1.xml", ".order.tmp1_1x",
                         ".tmp1_1",      "order.tmp1_1"};
  for (const std::string& name : lookalikes) w.control.SaveLocal("<xml/>", name);
  EXPECT_EQ(w.platform.listFiles("C:\\Data\\12\\SavedFiles"), lookalikes);
}

}  // namespace
}  // namespace qmx
