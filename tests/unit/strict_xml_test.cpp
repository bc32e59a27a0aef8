// Not-well-formed XML is never taken as a document: the check itself, and what
// the control does with a server page that appends an error text to a good
// envelope (nothing deleted, nothing written, error 91).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/xml_text.h"
#include "base/codepage.h"
#include "base/xml_wellformed.h"
#include "store/xml_file_text.h"
#include "support/fake_platform.h"
#include "support/sync_world.h"

namespace qmx {
namespace {

using test::PeerReply;
using test::SyncWorld;

const std::string kTrailingText = "<xml><status>Success</status></xml>Microsoft VBScript runtime error '800a000d'";

// Each way a document is parsed: copied first, where it lies, and where it lies
// with the check reading its own copy from a source (whole, or in pieces that go
// as they are read). Refused, the document is empty; taken, it is the same
// whichever way.
std::vector<bool> parsedEachWay(std::string_view text) {
  pugi::xml_document doc;
  std::vector<bool> verdicts{parseXml(doc, text)};
  const std::string copied = xmlText(doc);
  verdicts.push_back(parseXmlInPlace(doc, xmlTextBufferOf(text)));
  EXPECT_EQ(xmlText(doc), copied);
  verdicts.push_back(parseXmlInPlace(doc, xmlTextBufferOf(text), xmlTextSourceOwning(std::string(text))));
  EXPECT_EQ(xmlText(doc), copied);
  verdicts.push_back(parseXmlInPlace(doc, xmlTextBufferOf(text), xmlTextSourceInPieces(text)));
  EXPECT_EQ(xmlText(doc), copied);
  return verdicts;
}

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
  const char* const good[] = {
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><!-- c --><a x='&lt;&amp;'>caf\xC3\xA9 &#233;</a><?pi x?> ",
      "<rs:data xmlns:z=\"#R\"><z:row iKey=\"1\"/><undeclared:prefix/></rs:data>",
      "<a><![CDATA[ <&> ]]></a>",
  };
  // Padded with blanks after the root, large enough to be checked on a thread of
  // its own while pugixml parses: the same verdicts.
  for (const std::string& pad : {std::string(), std::string(100000, ' ')}) {
    for (const char* text : broken) {
      std::string problem;
      EXPECT_FALSE(isWellFormedXml(text + pad, &problem)) << text;
      EXPECT_FALSE(problem.empty()) << text;
      EXPECT_EQ(parsedEachWay(text + pad), std::vector<bool>(4, false)) << text;
    }
    for (const char* text : good) {
      EXPECT_TRUE(isWellFormedXml(text + pad)) << text;
      EXPECT_EQ(parsedEachWay(text + pad), std::vector<bool>(4, true)) << text;
    }
  }
  // A large cached data file in the code page, its flaw deep inside: the check
  // reads the file's own bytes, converted piece by piece.
  std::string rows;
  for (int i = 0; i < 3000; ++i) rows += "<z:row iKey=\"" + std::to_string(i) + "\" sCity=\"Lyon \xE9t\xE9\"/>";
  test::FakePlatform platform;
  for (const std::string& flaw : {std::string(), std::string("<z:row a=\"<\"/>")}) {
    const std::string bytes = "<rs:data>" + rows + flaw + rows + "</rs:data>";
    XmlFileTextToParse text = xmlFileTextToParse(platform, bytes);
    pugi::xml_document doc;
    EXPECT_EQ(parseXmlInPlace(doc, std::move(text.text), std::move(text.sameText)), flaw.empty());
    EXPECT_EQ(xmlText(doc), flaw.empty() ? singleByteToUtf8(bytes) : "");
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
