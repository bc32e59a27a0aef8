// Calling the control from a script: argument conversion, dispatch errors, the
// events each statement prints, and by-reference write-back into variables.
#include <gtest/gtest.h>

#include <sstream>

#include "cipher/string_cipher.h"
#include "control/dispatch.h"
#include "control/xmlload.h"
#include "host/interpreter.h"
#include "host/script.h"
#include "support/fake_platform.h"

namespace qmx::host {
namespace {

// One control over an empty fake machine, with a script's output captured.
class ScriptWorld {
 public:
  ScriptWorld() : events_(out_, OutputFormat::Text), interpreter_(control_, events_) {}

  // Runs a script; returns the number of statements that failed.
  int run(const std::string& script) {
    out_.str("");
    return interpreter_.runAll(parseScript(script));
  }
  std::string output() const { return out_.str(); }
  Variant variable(const std::string& name) const { return interpreter_.variable(name); }

 private:
  test::FakePlatform platform_;
  std::ostringstream out_;
  EventWriter events_;
  XMLLoad control_{platform_, [this](const std::string& name) { events_.notify(name); }};
  Interpreter interpreter_;
};

TEST(QmxhostDispatch, ByReferenceVariableReceivesTheMembersRewrite) {
  ScriptWorld w;
  EXPECT_EQ(w.run("$s = \"a\\x01Kb\"\n"
                  "$k = 12345\n"
                  "$r = FileEncodeAndDecode $s $k\n"
                  "$t = \"p\\x01Kq\"\n"
                  "$t = FileEncodeAndDecode $t \"key\"\n"
                  "$bad = \"x\\x01Ky\"\n"
                  "$t = FileEncodeAndDecode $bad \"\"\n"),
            1);
  // Assignments print nothing; the failed call prints its error.
  EXPECT_EQ(w.output().rfind("! error 5 ", 0), 0u) << w.output();
  // The escape pair was resolved into the caller's variable.
  EXPECT_EQ(w.variable("s"), Variant(std::string("aAb")));
  // A by-reference argument the member left alone keeps its own type.
  EXPECT_EQ(w.variable("k"), Variant(std::int16_t{12345}));
  std::string plain = "aAb";
  EXPECT_EQ(w.variable("r"), Variant(fileEncodeAndDecode(plain, "12345")));
  // When the result goes to the same variable, the result wins over the write-back.
  plain = "pAq";
  EXPECT_EQ(w.variable("t"), Variant(fileEncodeAndDecode(plain, "key")));  // kept when the next call failed
  EXPECT_EQ(w.variable("bad"), Variant(std::string("xAy")));  // a failing call still writes back
}

TEST(QmxhostDispatch, DispatchErrorsAreReportedAndTheScriptGoesOn) {
  ScriptWorld w;
  EXPECT_EQ(w.run("nosuch\n"
                  "FileEncodeAndDecode \"a\"\n"
                  "LevelNum = \"3\"\n"
                  "ChooseInstall Null\n"
                  "levelnum\n"),
            4);
  EXPECT_EQ(w.output(),
            "! error 438 \"Object doesn't support this property or method: 'nosuch'\"\n"
            "! error 450 \"Wrong number of arguments or invalid property assignment: 'FileEncodeAndDecode'\"\n"
            "! error 383 \"Property 'LevelNum' is read-only\"\n"
            "! error 94 \"Invalid use of Null\"\n"
            "= \"0\"\n");
}

TEST(QmxhostDispatch, PropertyWritesConvertTheValueAndPrintOnlyNotifications) {
  ScriptWorld w;
  EXPECT_EQ(w.run("errornumber = 2.5\n"
                  "ErrorNumber\n"
                  "ErrorNumber = 40000\n"
                  "Authenticated = -7\n"
                  "Authenticated\n"
                  "Location = \"5\"\n"
                  "DataPath\n"
                  "SetOffline 1\n"
                  "getOffline\n"),
            1);
  EXPECT_EQ(w.output(),
            "~ ErrorNumber\n"
            "= 2\n"  // half to even
            "! error 6 \"Overflow\"\n"
            "~ Authenticated\n"
            "= True\n"
            "~ Location\n"
            "~ DataPath\n"
            "= \"\\\\5\"\n"
            "= Empty\n"
            "= True\n");
}

TEST(QmxhostDispatch, ArgumentConversionsFollowTheRuntime) {
  EXPECT_EQ(toTextArgument(EmptyValue{}), "");
  EXPECT_EQ(toTextArgument(false), "False");
  EXPECT_EQ(toTextArgument(1e20), "1E+20");
  EXPECT_EQ(toTextArgument(-0.0), "0");
  EXPECT_THROW(toTextArgument(XmlDocument{}), AutomationError);

  EXPECT_EQ(toIntegerArgument(true), -1);

  using test::errorNumberOf;
  EXPECT_EQ(errorNumberOf([] { toBooleanArgument(NullValue{}); }), 94);
  EXPECT_EQ(errorNumberOf([] { toIntegerArgument(-32768.5); }), 0);  // rounds to -32768
  EXPECT_EQ(errorNumberOf([] { toIntegerArgument(-32769.0); }), 6);
  EXPECT_EQ(errorNumberOf([] { toIntegerArgument(XmlDocument{}); }), 13);
}

}  // namespace
}  // namespace qmx::host
