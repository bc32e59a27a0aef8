// The qmxhost program end to end: start-up output over a registry export, exit
// statuses, JSON events, message boxes, the registry check, and a session
// against the reference server.
#include <gtest/gtest.h>

#include <sstream>

#include "support/server_process.h"
#include "support/temp_root.h"

namespace qmx::test {
namespace {

constexpr const char* kInstallA = "{6B29FC40-CA47-1067-B31D-00DD010662DA}";

std::string installation(const std::string& id, const std::string& company, const std::string& location) {
  const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora Solutions\\Velmora.Net\\" + id;
  return key + "]\n@=\"" + company + "\"\n\n" +                        //
         key + "\\fkLocationID]\n@=\"" + location + "\"\n\n" +         //
         key + "\\iKey]\n@=\"7\"\n\n" +                                //
         key + "\\InvoicePreprint]\n@=\"True\"\n\n" +                  //
         key + "\\DataPath]\n@=\"C:\\\\QMXData\"\n\n";
}

std::string registryWith(const std::string& installations) {
  return "Windows Registry Editor Version 5.00\n\n" + installations;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

CommandResult runScript(const TempRoot& root, const std::string& script, std::vector<std::string> extra = {}) {
  root.write("script.qmx", script);
  std::vector<std::string> args = {"--root", root.path()};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(root.at("script.qmx"));
  return runProgram(QMXHOST_PATH, args);
}

const std::vector<std::string> kOneInstallStartup = {
    "~ Authenticated", "~ Configured", "~ CompanyID",        "~ Location",
    "~ DataPath",      "~ InvoicePreprint", "~ DataPath",
};

TEST(QmxhostProgram, OneInstallationPrintsTheStartupBeforeTheFirstStatement) {
  TempRoot root;
  root.writeRegistryUtf16(registryWith(installation(kInstallA, kInstallA, "12")));
  const CommandResult r = runScript(root, "# reads\nConfigured\nDataPath\nLocation\n");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> expected = kOneInstallStartup;
  expected.insert(expected.end(), {"= \"True\"", R"(= "C:\\QMXData\\12")", "= 12"});
  EXPECT_EQ(linesOf(r.out), expected);
  EXPECT_EQ(r.err, "");
}

TEST(QmxhostProgram, ExitStatusTellsSuccessFailureAndAScriptThatCannotRun) {
  TempRoot root;
  root.writeRegistryUtf16(registryWith(installation(kInstallA, kInstallA, "12")));

  EXPECT_EQ(runScript(root, "ServerBase\n").exitCode, 0);

  // A failed statement does not stop the script, but the status tells of it.
  const CommandResult failed = runScript(root, "NoSuch\nServerBase\n");
  EXPECT_EQ(failed.exitCode, 1);
  const auto lines = linesOf(failed.out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].rfind("! error 438 ", 0), 0u);
  EXPECT_EQ(lines.back(), "= \"http://127.0.0.1:8631/\"");

  // A parse error anywhere means nothing runs, not even the start-up.
  const CommandResult unparsable = runScript(root, "ServerBase\n\nLogin demo \"pw\"\n");
  EXPECT_EQ(unparsable.exitCode, 2);
  EXPECT_EQ(unparsable.out, "");
  EXPECT_NE(unparsable.err.find("script.qmx:3:"), std::string::npos) << unparsable.err;

  const CommandResult missing = runProgram(QMXHOST_PATH, {"--root", root.path(), root.at("nothing.qmx")});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("nothing.qmx"), std::string::npos);
}

TEST(QmxhostProgram, StartupErrorIsPrintedBeforeTheFirstStatementAndFailsTheRun) {
  TempRoot root;
  root.writeRegistryUtf16(registryWith(installation(kInstallA, kInstallA, "twelve")));
  const CommandResult r = runScript(root, "Configured\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(linesOf(r.out), (std::vector<std::string>{"~ Authenticated", "~ Configured", "~ CompanyID",
                                                      "! error 13 \"Type mismatch\"", "= \"True\""}));
}

TEST(QmxhostProgram, MessageBoxesAndJsonEventsComeInTheOrderTheyHappen) {
  TempRoot root;  // no registry: no installation and no inbox setting
  const std::string script = "SaveElectronicPurchaseOrder \"1234\" \"data\"\n";
  const CommandResult json = runScript(root, script + "$x = \"a\\tb\"\nprint $x\nnosuch\n", {"--json"});
  EXPECT_EQ(json.exitCode, 1);
  const auto events = linesOf(json.out);
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events.front(), R"({"event":"notify","name":"Authenticated"})");
  EXPECT_EQ(events[events.size() - 4].rfind(R"({"event":"msgbox","text":"Cannot download ePO data)", 0), 0u);
  EXPECT_EQ(events[events.size() - 3], R"({"event":"result","type":"Boolean","value":false})");
  EXPECT_EQ(events[events.size() - 2], R"({"event":"result","type":"Text","value":"a\tb"})");
  EXPECT_EQ(events.back().rfind(R"({"event":"error","number":438,)", 0), 0u);
  EXPECT_NE(events.back().find(R"("line":4})"), std::string::npos);
}

TEST(QmxhostProgram, RegistryCommandPrintsTheTreeAndWarnsPerBadLine) {
  TempRoot root;
  root.writeRegistryUtf16(registryWith(installation(kInstallA, kInstallA, "12") +
                                       "[HKEY_LOCAL_MACHINE\\Extra]\n\"bad\"=nonsense\n\"good\"=dword:00000007\n"));
  const CommandResult r = runProgram(QMXHOST_PATH, {"registry", "--root", root.path()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("\\fkLocationID]\n@=\"12\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"good\"=dword:00000007"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\"bad\""), std::string::npos);
  const auto warnings = linesOf(r.err);
  ASSERT_EQ(warnings.size(), 1u) << r.err;
  EXPECT_NE(warnings[0].find("bad"), std::string::npos);

  TempRoot empty;
  EXPECT_EQ(runProgram(QMXHOST_PATH, {"registry", "--root", empty.path()}).exitCode, 1);
}

#ifdef QMX_SERVER_PATH
TEST(QmxhostProgram, LogsInAndLoadsAPageFromTheReferenceServer) {
  ServerProcess server(QMX_SERVER_PATH);
  TempRoot root;
  root.writeRegistryUtf16(registryWith(installation(kInstallA, ServerProcess::kCompanyId, "12")));
  root.makeFolder("drive_c/QMXData");
  const std::string page = server.baseUrl() + "data.asp";
  const CommandResult r = runScript(root, "ServerBase = \"" + server.baseUrl() +
                                              "\"\n"
                                              "Login \"demo\" \"demo123\"\n"
                                              "LevelNum\n"
                                              "$page = \"" + page + "\"\n"
                                              "XMLLoad $page \"customers.xml\"\n"
                                              "print $page\n");
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  // Only the results: Login and XMLLoad also raise notifications on the way.
  std::vector<std::string> lines;
  for (const std::string& line : linesOf(r.out)) {
    if (line.rfind("~ ", 0) != 0) lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_EQ(lines[lines.size() - 4], "= True");
  EXPECT_EQ(lines[lines.size() - 3], "= \"5\"");
  EXPECT_EQ(lines[lines.size() - 2].rfind("= xml \"<xml", 0), 0u);
  // The page address variable was passed by reference and holds the request made.
  EXPECT_EQ(lines.back().rfind("= \"" + page + "?", 0), 0u) << lines.back();
  EXPECT_TRUE(root.exists("drive_c/QMXData/12/customers.xml"));
}
#endif

}  // namespace
}  // namespace qmx::test
