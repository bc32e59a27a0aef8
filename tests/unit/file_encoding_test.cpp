// XML files are read by their encoding (byte-order mark, declaration, else UTF-8
// when valid, else the code page), and nothing the control writes or sends
// declares an encoding other than its bytes'.
#include <gtest/gtest.h>

#include "base/codepage.h"
#include "base/xml_text.h"
#include "support/sync_world.h"

namespace qmx {
namespace {

using test::PeerReply;
using test::SyncWorld;

std::string utf16le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (const char c : ascii) out += std::string{c, '\0'};
  return out;
}

TEST(FileEncoding, GetXslReadsUtf8Utf16AndCodePageFiles) {
  SyncWorld w;
  const auto getXsl = [&](const std::string& name) { return w.control->GetXSL(Variant(name)); };
  w.putDataFile("SavedFiles/u8.xsl", "<a>caf\xC3\xA9</a>");
  w.putDataFile("SavedFiles/cp.xsl", "<a>caf\xE9 \x80</a>");
  w.putDataFile("SavedFiles/latin.xsl", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9</a>");
  std::string u16 = utf16le("<a>caf");
  u16 += std::string("\xE9\0", 2);
  u16 += utf16le("</a>").substr(2);
  w.putDataFile("SavedFiles/u16.xsl", u16);
  EXPECT_EQ(getXsl("u8.xsl"), "<a>caf\xC3\xA9</a>");
  EXPECT_EQ(getXsl("cp.xsl"), "<a>caf\xC3\xA9 \xE2\x82\xAC</a>");
  EXPECT_EQ(getXsl("u16.xsl"), "<a>caf\xC3\xA9</a>");
  EXPECT_EQ(getXsl("latin.xsl"), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xC3\xA9</a>");

  // What SaveLocal writes reads back as the host gave it.
  w.control->SaveLocal("<a>Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC</a>", "saved.xsl");
  EXPECT_EQ(getXsl("saved.xsl"), "<a>Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC</a>");
}

TEST(FileEncoding, UploadSendsUtf8ThatSaysSo) {
  SyncWorld w;
  w.putDataFile("SavedFiles/a.xml", "\xEF\xBB\xBF<xml><rs:data Screen=\"S\"><z:row v=\"caf\xC3\xA9\"/></rs:data></xml>");
  w.putDataFile("SavedFiles/b.xml",
                "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><xml><rs:data Screen=\"S\"><z:row v=\"caf\xE9\"/>"
                "</rs:data></xml>");
  w.peer.setDefault(PeerReply::xml("<xml><status>Success</status></xml>"));
  w.control->BackOnline();
  const auto requests = w.peer.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].body, "<xml><rs:data Screen=\"S\"><z:row v=\"caf\xC3\xA9\"/></rs:data></xml>");
  EXPECT_EQ(requests[1].body,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><xml><rs:data Screen=\"S\"><z:row v=\"caf\xC3\xA9\"/>"
            "</rs:data></xml>");
  EXPECT_TRUE(w.messages.empty());
}

// A cached file from a UTF-8 reply declares its code page. A large one is
// converted and written as it is serialised, in pieces that split characters
// and references: the bytes are those of the whole text.
TEST(FileEncoding, LargeCachedFileDeclaresItsCodePageAndHasTheBytesOfItsWholeText) {
  SyncWorld w;
  w.control->put_Authenticated(true);
  std::string reply =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><xml><status>Success</status><TimeStamp ModTime=\"t1\"/>"
      "<rs:data>";
  for (int k = 0; k < 30000; ++k) {
    reply += "<z:row iKey=\"" + std::to_string(k) + "\" sName=\"Caf\xC3\xA9 \xCE\xA9" + std::string(k % 7, 'x') +
             "\">\xE2\x82\xAC\xCE\xA9</z:row>";
  }
  reply += "</rs:data></xml>";
  w.peer.setDefault(PeerReply::xml(reply, "text/xml; charset=utf-8"));
  std::string page = w.page();
  ASSERT_TRUE(w.control->XMLLoad_(page, "big.xml", "new"));

  std::string whole = xmlText(*parseXmlDocument(reply));
  replaceDeclaredEncoding(whole, "windows-1252");
  const std::string expected = xmlUtf8ToSingleByte(whole);
  ASSERT_GT(expected.size(), 1000000u);
  const std::string bytes = w.readDataFile("big.xml");
  EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"windows-1252\"?><xml><status>Success</status>", 0), 0u);
  EXPECT_NE(bytes.find("sName=\"Caf\xE9 &#937;\">\x80&#937;</z:row>"), std::string::npos);
  EXPECT_EQ(bytes, expected);
}

}  // namespace
}  // namespace qmx
