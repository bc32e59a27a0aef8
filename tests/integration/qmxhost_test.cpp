// The qmxhost program end to end: start-up output over a registry export, exit
// statuses, JSON events, message boxes and the registry check. Its sessions
// against the reference server are in upload_once_test.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "support/recording_peer.h"
#include "support/server_process.h"  // runProgram
#include "support/temp_root.h"

namespace qmx::test {
namespace {

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

CommandResult runScript(const TempRoot& root, const std::string& script, std::vector<std::string> args = {}) {
  root.write("script.qmx", script);
  args.insert(args.end(), {"--root", root.path(), root.at("script.qmx")});
  return runProgram(QMXHOST_PATH, args);
}

TEST(QmxhostProgram, StartupComesBeforeTheFirstStatementAndTheExitStatusTellsHowTheRunWent) {
  TempRoot root;
  root.writeRegistryUtf16(TempRoot::oneInstallation("Co"));
  const CommandResult r = runScript(root, "# reads\nConfigured\nDataPath\nLocation\n");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(linesOf(r.out), (std::vector<std::string>{"~ Authenticated", "~ Configured", "~ CompanyID", "~ Location",
                                                      "~ DataPath", "~ InvoicePreprint", "~ DataPath", "= \"True\"",
                                                      R"(= "C:\\QMXData\\12")", "= 12"}));
  EXPECT_EQ(r.err, "");

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

  // A start-up error is printed where it happened and fails the run.
  root.writeRegistryUtf16(TempRoot::oneInstallation("Co", "twelve"));
  const CommandResult bad = runScript(root, "Configured\n");
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_EQ(linesOf(bad.out), (std::vector<std::string>{"~ Authenticated", "~ Configured", "~ CompanyID",
                                                        "! error 13 \"Type mismatch\"", "= \"True\""}));
}

TEST(QmxhostProgram, MessageBoxesAndJsonEventsComeInTheOrderTheyHappen) {
  TempRoot root;  // no registry: no installation and no inbox setting
  const CommandResult json = runScript(root, "SaveElectronicPurchaseOrder \"1234\" \"data\"\nprint \"a\\tb\"\nnosuch\n", {"--json"});
  EXPECT_EQ(json.exitCode, 1);
  const auto events = linesOf(json.out);
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events.front(), R"({"event":"notify","name":"Authenticated"})");
  EXPECT_EQ(events[events.size() - 4].rfind(R"({"event":"msgbox","text":"Cannot download ePO data)", 0), 0u);
  EXPECT_EQ(events[events.size() - 3], R"({"event":"result","type":"Boolean","value":false})");
  EXPECT_EQ(events[events.size() - 2], R"({"event":"result","type":"Text","value":"a\tb"})");
  EXPECT_EQ(events.back().rfind(R"({"event":"error","number":438,)", 0), 0u);
  EXPECT_NE(events.back().find(R"("line":3})"), std::string::npos);
}

TEST(QmxhostProgram, RequestTimeoutEndsADrippingReplyAndOutOfRangeLimitsAreRefused) {
  TempRoot root;
  RecordingPeer peer;
  PeerReply drip = PeerReply::raw("HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n" + std::string(40, 'x'));
  drip.interval = std::chrono::milliseconds(250);  // alone 10 s; the stall limit could end it at 3 s at the earliest
  peer.enqueue(drip);
  const auto start = std::chrono::steady_clock::now();
  const CommandResult r = runScript(root, "HTTPCall \"\" \"" + peer.base() + "p.asp?a=1\"\nErrorNumber\nErrorDesc\n",
                                    {"--stall-timeout", "3", "--request-timeout", "2"});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(took >= std::chrono::seconds(2) && took < std::chrono::seconds(5));
  EXPECT_NE(r.out.find("\n= -28\n= \"Operation timed out"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(" + peer.base() + "p.asp)\"\n"), std::string::npos) << r.out;
  EXPECT_EQ(runScript(root, "", {"--request-timeout", "0"}).exitCode, 2);
}

TEST(QmxhostProgram, RegistryCommandPrintsTheTreeAndWarnsPerBadLine) {
  TempRoot root;
  root.writeRegistryUtf16(TempRoot::oneInstallation("Co") +
                          "[HKEY_LOCAL_MACHINE\\Extra]\n\"bad\"=nonsense\n\"good\"=dword:00000007\n");
  const CommandResult r = runProgram(QMXHOST_PATH, {"registry", "--root", root.path()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("\"good\"=dword:00000007"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\"bad\""), std::string::npos);
  const auto warnings = linesOf(r.err);
  ASSERT_EQ(warnings.size(), 1u) << r.err;
  EXPECT_NE(warnings[0].find("bad"), std::string::npos);
}

}  // namespace
}  // namespace qmx::test
