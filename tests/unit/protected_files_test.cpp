// A name shaped like a write's temporary would be hidden from listings and
// removed as a leftover: every writer refuses it before anything is written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/xmlload.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

using test::errorNumberOf;
using Names = std::vector<std::string>;

TEST(ProtectedFiles, NameShapedLikeATemporaryIsRefusedBeforeAnythingIsWritten) {
  test::FakePlatform fake;
  fake.addFolder("C:\\Data\\12");
  XMLLoad control(fake);
  control.put_DataPath("C:\\Data\\12");
  for (const char* name : {".order.tmp1_1", "style\\.s.xsl.tmp22_0", "data/.x.xml.tmp0_0"}) {
    try {
      control.SaveLocal("<xml/>", name);
      ADD_FAILURE() << "accepted " << name;
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), kPathFileAccessError) << name;
      EXPECT_NE(e.description().find(std::string("C:\\Data\\12\\SavedFiles\\") + name), std::string::npos)
          << e.description();
    }
    EXPECT_EQ(errorNumberOf([&] { control.GetXSL(Variant(name)); }), kPathFileAccessError) << name;
  }
  EXPECT_FALSE(fake.folderExists("C:\\Data\\12\\SavedFiles"));

  // Names that only resemble one are saved, and the folder lists every one of them.
  const Names lookalikes{".order.tmp1_", ".order.tmp1_1.xml", "order.tmp1_1"};
  for (const std::string& name : lookalikes) control.SaveLocal("<xml/>", name);
  EXPECT_EQ(fake.listFiles("C:\\Data\\12\\SavedFiles"), lookalikes);
}

}  // namespace
}  // namespace qmx
