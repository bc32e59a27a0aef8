#include <gtest/gtest.h>

#include <tuple>

#include "base/automation_error.h"
#include "base/xml_text.h"
#include "store/rowset_merge.h"
#include "support/error_of.h"

namespace qmx {
namespace {

std::string mergedText(const std::string& local, const std::string& reply) {
  XmlDocument localDoc = parseXmlDocument(local);
  XmlDocument replyDoc = parseXmlDocument(reply);
  mergeRowset(*localDoc, *replyDoc, "C:\\Data\\1\\c.xml");
  // Consuming the reply as it goes merges the very same rows.
  XmlDocument consumedInto = parseXmlDocument(local);
  XmlDocument consumed = parseXmlDocument(reply);
  mergeRowsetConsumingReply(*consumedInto, *consumed, "C:\\Data\\1\\c.xml");
  EXPECT_EQ(xmlText(*consumedInto), xmlText(*localDoc));
  // Only the rows that held rows stay in the reply.
  EXPECT_EQ(consumed->select_nodes("//z:row").size(), replyDoc->select_nodes("//z:row[.//z:row]").size());
  return xmlText(*localDoc);
}

std::string reply(const std::string& modTime, const std::string& rows) {
  return "<xml><status>Success</status><TimeStamp ModTime=\"" + modTime + "\"/><rs:data>" + rows +
         "</rs:data></xml>";
}

TEST(RowsetMerge, ReplacesFirstMatchingRowInPlaceAndAppendsNewRowsToFirstData) {
  const std::string local =
      "<xml><TimeStamp ModTime=\"t1\"/><s:Schema/>"
      "<rs:data><z:row iKey=\"1\" a=\"one\"/><z:row iKey=\"2\" a=\"two\"/><z:row iKey=\"2\" a=\"dup\"/>"
      "<z:row iKey=\"3\" a=\"three\"/></rs:data>"
      "<rs:data><z:row iKey=\"9\" a=\"nine\"/></rs:data></xml>";
  const std::string out = mergedText(
      local, reply("t2", "<z:row iKey=\"2\" a=\"TWO\" b=\"x\"/><z:row iKey=\"5\" a=\"five\"/>"
                         "<z:row iKey=\"9\" a=\"NINE\"/>"));
  // Key 2: only the first of the two rows is replaced, at its own position, with
  // every attribute of the reply row; 5 goes to the end of the first rs:data; 9 is
  // replaced inside the second rs:data.
  EXPECT_EQ(out,
            "<xml><TimeStamp ModTime=\"t2\"/><s:Schema/>"
            "<rs:data><z:row iKey=\"1\" a=\"one\"/><z:row iKey=\"2\" a=\"TWO\" b=\"x\"/>"
            "<z:row iKey=\"2\" a=\"dup\"/><z:row iKey=\"3\" a=\"three\"/><z:row iKey=\"5\" a=\"five\"/></rs:data>"
            "<rs:data><z:row iKey=\"9\" a=\"NINE\"/></rs:data></xml>");
}

TEST(RowsetMerge, LaterReplyRowsSeeWhatEarlierOnesAddedAndRemoved) {
  // A new key arriving twice is appended once and then replaced; a key replaced
  // twice ends with the last version at the first row's place.
  const std::string out = mergedText(
      "<xml><TimeStamp ModTime=\"t\"/><rs:data><z:row iKey=\"1\" a=\"old\"/><z:row iKey=\"2\"/></rs:data></xml>",
      reply("u", "<z:row iKey=\"7\" a=\"first\"/><z:row iKey=\"1\" a=\"mid\"/><z:row iKey=\"7\" a=\"second\"/>"
                 "<z:row iKey=\"1\" a=\"last\"/>"));
  EXPECT_EQ(out,
            "<xml><TimeStamp ModTime=\"u\"/><rs:data><z:row iKey=\"1\" a=\"last\"/><z:row iKey=\"2\"/>"
            "<z:row iKey=\"7\" a=\"second\"/></rs:data></xml>");

  // The inner row of key 2 goes with its outer row, so the second reply row
  // replaces the remaining row of key 2 (and never touches freed memory).
  EXPECT_EQ(mergedText("<xml><TimeStamp ModTime=\"t\"/><rs:data><z:row iKey=\"1\"><z:row iKey=\"2\" a=\"in\"/></z:row>"
                       "<z:row iKey=\"2\" a=\"out\"/></rs:data></xml>",
                       reply("t", "<z:row iKey=\"1\" a=\"new\"/><z:row iKey=\"2\" a=\"X\"/>")),
            "<xml><TimeStamp ModTime=\"t\"/><rs:data><z:row iKey=\"1\" a=\"new\"/><z:row iKey=\"2\" a=\"X\"/>"
            "</rs:data></xml>");

  // A reply row holding a row: the inner one is merged after its outer one.
  EXPECT_EQ(mergedText("<xml><TimeStamp ModTime=\"t\"/><rs:data><z:row iKey=\"2\"/></rs:data></xml>",
                       reply("t", "<z:row iKey=\"1\"><z:row iKey=\"2\" a=\"in\"/></z:row>")),
            "<xml><TimeStamp ModTime=\"t\"/><rs:data><z:row iKey=\"2\" a=\"in\"/>"
            "<z:row iKey=\"1\"><z:row iKey=\"2\" a=\"in\"/></z:row></rs:data></xml>");

  // The first rs:data sits in row 1, which the reply replaces: a new row must go
  // to the rs:data that is first afterwards, never into the removed row.
  const std::string receiverInRow =
      "<xml><TimeStamp ModTime=\"t\"/><z:row iKey=\"1\"><rs:data/></z:row><rs:data><z:row iKey=\"5\"/></rs:data></xml>";
  EXPECT_EQ(mergedText(receiverInRow, reply("u", "<z:row iKey=\"1\" a=\"new\"/><z:row iKey=\"2\" a=\"two\"/>")),
            "<xml><TimeStamp ModTime=\"u\"/><z:row iKey=\"1\" a=\"new\"/><rs:data><z:row iKey=\"5\"/>"
            "<z:row iKey=\"2\" a=\"two\"/></rs:data></xml>");
}

TEST(RowsetMerge, KeysCompareAsNumbers) {
  const std::string out = mergedText(
      "<xml><TimeStamp ModTime=\"t\"/><rs:data><z:row iKey=\"07\" a=\"a\"/><z:row iKey=\" 8 \" a=\"b\"/>"
      "<z:row iKey=\"x9\" a=\"c\"/><z:row iKey=\"-0\" a=\"d\"/><z:row iKey=\"\" a=\"e\"/></rs:data></xml>",
      reply("t", "<z:row iKey=\"7.0\" a=\"A\"/><z:row iKey=\"8\" a=\"B\"/><z:row iKey=\"9\" a=\"C\"/>"
                 "<z:row iKey=\"0\" a=\"D\"/>"));
  // "07" = 7.0, " 8 " = 8, -0 = 0; a local key that is not a number never
  // matches, so 9 is new.
  EXPECT_EQ(out,
            "<xml><TimeStamp ModTime=\"t\"/><rs:data><z:row iKey=\"7.0\" a=\"A\"/><z:row iKey=\"8\" a=\"B\"/>"
            "<z:row iKey=\"x9\" a=\"c\"/><z:row iKey=\"0\" a=\"D\"/><z:row iKey=\"\" a=\"e\"/>"
            "<z:row iKey=\"9\" a=\"C\"/></rs:data></xml>");

  EXPECT_EQ(rowKeyNumber(".5"), 0.5);
  // Whole numbers past 15 digits still give the nearest double.
  EXPECT_EQ(rowKeyNumber("9007199254740993"), 9007199254740992.0);
  for (const char* notANumber : {"", "+4", "1e3", "0x10", "--4", "1.2.3"}) {
    EXPECT_FALSE(rowKeyNumber(notANumber).has_value()) << notANumber;
  }
}

TEST(RowsetMerge, EmptyModTimeKeepsTheLocalOneAndNoRowsStillChangesTheTime) {
  const std::string local = "<xml><TimeStamp ModTime=\"old\"/><rs:data><z:row iKey=\"1\"/></rs:data></xml>";
  EXPECT_EQ(mergedText(local, reply("", "<z:row iKey=\"2\"/>")),
            "<xml><TimeStamp ModTime=\"old\"/><rs:data><z:row iKey=\"1\"/><z:row iKey=\"2\"/></rs:data></xml>");
  EXPECT_EQ(mergedText(local, reply("new", "")),
            "<xml><TimeStamp ModTime=\"new\"/><rs:data><z:row iKey=\"1\"/></rs:data></xml>");
}

TEST(RowsetMerge, BadReplyFailsBeforeAnythingChanges) {
  const std::string local =
      "<xml><TimeStamp ModTime=\"old\"/><rs:data><z:row iKey=\"1\" a=\"x\"/></rs:data></xml>";
  const std::tuple<std::string, std::string, std::int32_t> cases[] = {
      // The good first row must not be merged when a later one is bad.
      {local, reply("new", "<z:row iKey=\"1\" a=\"y\"/><z:row a=\"no key\"/>"), kObjectNotSet},
      {local, reply("new", "<z:row iKey=\"1\" a=\"y\"/><z:row iKey=\"1; drop\"/>"), kTypeMismatch},
      {local, "<xml><status>Success</status><rs:data><z:row iKey=\"1\"/></rs:data></xml>", kObjectNotSet},
      {"<xml><TimeStamp ModTime=\"old\"/></xml>", reply("new", "<z:row iKey=\"1\"/>"), kObjectNotSet},
      // The only rs:data sits in a row the reply replaces: row 2 has nowhere to go.
      {"<xml><TimeStamp ModTime=\"t\"/><z:row iKey=\"1\"><rs:data/></z:row></xml>",
       reply("u", "<z:row iKey=\"1\" a=\"new\"/><z:row iKey=\"2\"/>"), kObjectNotSet},
  };
  for (const auto& [localText, replyText, number] : cases) {
    SCOPED_TRACE(replyText);
    XmlDocument localDoc = parseXmlDocument(localText);
    XmlDocument replyDoc = parseXmlDocument(replyText);
    const AutomationError e = test::errorOf([&] { mergeRowset(*localDoc, *replyDoc, "C:\\Data\\1\\c.xml"); });
    EXPECT_EQ(e.number(), number);
    EXPECT_NE(e.description().find("C:\\Data\\1\\c.xml"), std::string::npos) << e.description();
    EXPECT_EQ(xmlText(*localDoc), localText);
  }
}

}  // namespace
}  // namespace qmx
