// Not-well-formed XML is never taken as a document: the check itself, and what
// the control does with a server page that appends an error text to a good
// envelope (nothing deleted, nothing written, error 91).
#include <gtest/gtest.h>

#include <cstring>

#include "base/xml_text.h"
#include "base/xml_wellformed.h"
#include "support/sync_world.h"

namespace qmx {
namespace {

using test::PeerReply;
using test::SyncWorld;

const std::string kTrailingText = "<xml><status>Success</status></xml>Microsoft VBScript runtime error '800a000d'";

TEST(StrictXml, RefusesWhatAConformingParserRefuses) {
  const char* const broken[] = {
      "<a/>text after the root",
      "<a>x & y</a>",
      "<a x=\"1\" x=\"2\"/>",
      "<a>\x01</a>",
      "<a><b></a></b>",
      "",
      "<!DOCTYPE a [<!ENTITY e \"boom\">]><a>&e;</a>",
      "<!DOCTYPE a><a/>",
  };
  for (const char* text : broken) {
    std::string problem;
    EXPECT_FALSE(isWellFormedXml(text, &problem)) << text;
    EXPECT_FALSE(problem.empty()) << text;
    pugi::xml_document doc;
    EXPECT_FALSE(parseXml(doc, text)) << text;
    EXPECT_FALSE(doc.first_child()) << text;
    // Parsed where it lies (a large file's text) or copied first, the same verdict.
    XmlTextBuffer buffer(std::strlen(text));
    std::memcpy(buffer.data(), text, buffer.size());
    EXPECT_FALSE(parseXmlInPlace(doc, std::move(buffer))) << text;
    EXPECT_FALSE(doc.first_child()) << text;
  }
  const char* const good[] = {
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><!-- c --><a x='&lt;&amp;'>caf\xC3\xA9 &#233;</a><?pi x?> ",
      "<rs:data xmlns:z=\"#R\"><z:row iKey=\"1\"/><undeclared:prefix/></rs:data>",
      "<a><![CDATA[ <&> ]]></a>",
  };
  for (const char* text : good) {
    EXPECT_TRUE(isWellFormedXml(text)) << text;
    pugi::xml_document doc;
    EXPECT_TRUE(parseXml(doc, text)) << text;
    const std::string copied = xmlText(doc);
    XmlTextBuffer buffer(std::strlen(text));
    std::memcpy(buffer.data(), text, buffer.size());
    EXPECT_TRUE(parseXmlInPlace(doc, std::move(buffer))) << text;
    EXPECT_EQ(xmlText(doc), copied);
  }
}

TEST(StrictXml, TextAfterAGoodEnvelopeLosesAndWritesNothing) {
  SyncWorld w;
  w.peer.setDefault(PeerReply::xml(kTrailingText));

  // Upload: the saved transaction stays and the user hears 91.
  const std::string saved = "<xml><rs:data Screen=\"S\"><z:row a=\"1\"/></rs:data></xml>";
  w.putDataFile("SavedFiles/t.xml", saved);
  w.control->BackOnline();
  EXPECT_EQ(w.messages, std::vector<std::string>{"Error Updating Offline Files - 91"});
  EXPECT_EQ(w.readDataFile("SavedFiles/t.xml"), saved);

  // Login: refused, no credential record.
  EXPECT_FALSE(w.control->Login("u", "p"));
  EXPECT_EQ(w.control->get_ErrorNumber(), 91);
  EXPECT_FALSE(w.control->get_Authenticated());
  EXPECT_FALSE(w.root.exists("drive_c/123.xml"));

  // First download: no cached data file.
  w.control->put_Authenticated(true);
  std::string page = w.page();
  const XmlDocument first = w.control->XMLLoad_(page, "new.xml");
  ASSERT_TRUE(first);
  EXPECT_FALSE(first->first_child());
  EXPECT_EQ(w.control->get_ErrorNumber(), 91);
  EXPECT_FALSE(w.hasDataFile("new.xml"));
}

}  // namespace
}  // namespace qmx
