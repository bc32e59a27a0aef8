#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "control/xmlload.h"
#include "platform/forwarding_platform.h"
#include "platform/posix/posix_platform.h"
#include "store/data_directory.h"
#include "support/error_of.h"
#include "support/fake_platform.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

// Remembers which folders were created, in order.
class RecordingPlatform : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  void createFolder(const std::string& path) override {
    created.push_back(path);
    ForwardingPlatform::createFolder(path);
  }
  std::vector<std::string> created;
};

// A control over a temporary machine root whose DataPath is C:\Data\12.
struct StoreWorld {
  test::TempRoot root;
  PosixPlatform machine{root.path(), [](const std::string&) {}};
  RecordingPlatform platform{machine};
  XMLLoad control{platform};

  StoreWorld() {
    root.makeFolder("drive_c/Data/12");
    control.put_DataPath("C:\\Data\\12");
  }
  static std::string at(const std::string& relative) { return "drive_c/Data/12/" + relative; }
};

using test::errorNumberOf;

TEST(SaveLocal, FreshDataDirectoryGetsSavedFilesThenDataThenStyleThenTheFile) {
  StoreWorld w;
  // "é" and "€" travel as their Windows-1252 bytes.
  w.control.SaveLocal("<xml>\xC3\xA9\xE2\x82\xAC</xml>", "t1.xml");
  // The hidden ".ids" folder keeps the identities of transactions waiting to go up.
  EXPECT_EQ(w.platform.created,
            (std::vector<std::string>{"C:\\Data\\12\\SavedFiles", "C:\\Data\\12\\SavedFiles\\data",
                                      "C:\\Data\\12\\SavedFiles\\style", "C:\\Data\\12\\SavedFiles\\.ids"}));
  EXPECT_EQ(w.root.read(StoreWorld::at("SavedFiles/t1.xml")), "<xml>\xE9\x80</xml>");

  // A second save with the same name leaves only the second text; no folder is made again.
  w.platform.created.clear();
  w.control.SaveLocal("second", "t1.xml");
  EXPECT_TRUE(w.platform.created.empty());
  EXPECT_EQ(w.root.read(StoreWorld::at("SavedFiles/t1.xml")), "second");
}

TEST(SaveLocal, MissingDataDirectoryOrUnknownSubfolderFailsWithPathNotFound) {
  StoreWorld w;
  w.control.put_DataPath("C:\\Data\\99");
  EXPECT_EQ(errorNumberOf([&] { w.control.SaveLocal("x", "a.xml"); }), kPathNotFound);
  EXPECT_FALSE(w.root.exists("drive_c/Data/99"));

  w.control.put_DataPath("C:\\Data\\12");
  EXPECT_EQ(errorNumberOf([&] { w.control.SaveLocal("x", "other\\a.xml"); }), kPathNotFound);
  EXPECT_TRUE(w.root.exists(StoreWorld::at("SavedFiles/style")));  // folders made first stay
}

TEST(SaveLocal, CharacterOutsideTheCodePageFailsAndKeepsThePreviousFile) {
  StoreWorld w;
  const std::string omega = "<xml>\xCE\xA9</xml>";
  const AutomationError e = test::errorOf([&] { w.control.SaveLocal(omega, "new.xml"); });
  EXPECT_EQ(e.number(), kInvalidProcedureCall);
  EXPECT_NE(e.description().find("C:\\Data\\12\\SavedFiles\\new.xml"), std::string::npos);
  // The write is whole or nothing: no empty file is left created.
  EXPECT_FALSE(w.root.exists(StoreWorld::at("SavedFiles/new.xml")));

  w.control.SaveLocal("kept", "old.xml");
  EXPECT_EQ(errorNumberOf([&] { w.control.SaveLocal(omega, "old.xml"); }), kInvalidProcedureCall);
  EXPECT_EQ(w.root.read(StoreWorld::at("SavedFiles/old.xml")), "kept");
}

// A name leading out of SavedFiles, or shaped like a write's temporary (which
// listings hide and clean-up removes), is refused before anything is written.
TEST(SaveLocal, NameLeadingOutOfSavedFilesOrLikeATemporaryIsRefusedBeforeAnythingIsCreated) {
  StoreWorld w;
  w.root.write("drive_c/Data/12/log/log.xml", "<xml/>");
  const std::string refused[] = {"..\\log\\log.xml", "style\\..\\..\\x.xml", "../x.xml", "/tmp/x.xml", "C:\\x.xml",
                                 ".order.tmp1_1", "style\\.s.xsl.tmp22_0", "data/.x.xml.tmp0_0"};
  for (const std::string& name : refused) {
    const AutomationError e = test::errorOf([&] { w.control.SaveLocal("<xml/>", name); });
    EXPECT_EQ(e.number(), kPathFileAccessError) << name;
    EXPECT_NE(e.description().find("C:\\Data\\12\\SavedFiles\\"), std::string::npos) << name;
    EXPECT_EQ(errorNumberOf([&] { w.control.GetXSL(Variant(name)); }), kPathFileAccessError) << name;
  }
  EXPECT_TRUE(w.platform.created.empty());
  EXPECT_FALSE(w.root.exists(StoreWorld::at("SavedFiles")));
  EXPECT_EQ(w.root.read("drive_c/Data/12/log/log.xml"), "<xml/>");
  // Names that merely contain dots or resemble a temporary are saved and listed.
  EXPECT_TRUE(staysInsideFolder("data\\b..c.xml"));
  const std::vector<std::string> lookalikes{".order.tmp1_", ".order.tmp1_1.xml", "order.tmp1_1"};
  for (const std::string& name : lookalikes) w.control.SaveLocal("<xml/>", name);
  EXPECT_EQ(w.machine.listFiles("C:\\Data\\12\\SavedFiles"), lookalikes);
}

TEST(GetXSL, ReturnsTheParsedDocumentOfASavedFileOrEmptyText) {
  StoreWorld w;
  w.control.SaveLocal("<xsl:stylesheet  a='\xC3\xA9'>\n  <x/>\n</xsl:stylesheet>", "style\\x.xsl");
  EXPECT_TRUE(w.root.exists(StoreWorld::at("SavedFiles/style/x.xsl")));
  // The parser's serialisation, not the bytes of the file: quotes, spacing and
  // whitespace-only text change; the Windows-1252 byte comes back as UTF-8.
  EXPECT_EQ(w.control.GetXSL(Variant(std::string("style\\x.xsl"))),
            "<xsl:stylesheet a=\"\xC3\xA9\"><x/></xsl:stylesheet>");

  // Missing, malformed or folder names give empty text.
  w.control.SaveLocal("<xml><open></xml>", "bad.xml");
  // Null adds nothing, so the path names the folder itself.
  for (const Variant& name :
       {Variant(std::string("missing.xml")), Variant(std::string("bad.xml")), Variant(NullValue{})}) {
    EXPECT_EQ(w.control.GetXSL(name), "");
  }
}

TEST(DeleteLocalData, RemovesOnlyTheFilesDirectlyInTheDataDirectoryAndCreatesItOneLevelDeep) {
  StoreWorld w;
  const char* const kept[] = {"SavedFiles/t1.xml", "SavedFiles/style/s.xsl", "log/log.xml", "other/deep/f.txt"};
  for (const char* name : kept) w.root.write(StoreWorld::at(name), name);
  w.root.write(StoreWorld::at("Items.xml"), "<xml/>");
  w.control.DeleteLocalData();
  EXPECT_FALSE(w.root.exists(StoreWorld::at("Items.xml")));
  for (const char* name : kept) EXPECT_EQ(w.root.read(StoreWorld::at(name)), name);

  // A missing data directory is created, one level only.
  w.control.put_DataPath("C:\\Data\\13");
  w.control.DeleteLocalData();
  EXPECT_TRUE(w.root.exists("drive_c/Data/13"));
}

TEST(DeleteLocalData, StopsAtTheFirstFileThatCannotBeDeleted) {
  StoreWorld w;
  w.root.write(StoreWorld::at("a.xml"), "a");
  w.root.write(StoreWorld::at("B.xml"), "b");
  w.root.write(StoreWorld::at("c.xml"), "c");
  ASSERT_EQ(::chmod(w.root.at(StoreWorld::at("B.xml")).c_str(), 0444), 0);
  const AutomationError e = test::errorOf([&] { w.control.DeleteLocalData(); });
  EXPECT_EQ(e.number(), kPermissionDenied);
  EXPECT_NE(e.description().find("C:\\Data\\12\\B.xml"), std::string::npos);
  // Listing order is case-insensitive by name: a, B, c.
  EXPECT_FALSE(w.root.exists(StoreWorld::at("a.xml")));
  EXPECT_EQ(w.root.read(StoreWorld::at("c.xml")), "c");
}

}  // namespace
}  // namespace qmx
