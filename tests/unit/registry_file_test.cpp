#include <gtest/gtest.h>

#include <cstdio>

#include "platform/posix/posix_platform.h"
#include "platform/posix/registry_file.h"
#include "support/temp_root.h"

namespace qmx {
namespace {

using namespace std::string_literals;

std::string valueData(const ParsedRegistry& r, std::string_view key, std::string_view name) {
  const RegistryKey* k = r.tree.find(key);
  if (!k) return "<no key>";
  const RegistryValue* v = k->findValue(name);
  return v ? v->data : "<no value>";
}

TEST(RegistryFile, Version5Utf16ExportReadsEveryValueKindThroughThePlatform) {
  test::TempRoot root;
  root.writeRegistryUtf16(
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "; exported from a workstation\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora Solutions\\Velmora.Net\\{A}]\n"
      "@=\"ACME Caf\xC3\xA9\"\n"
      "\"Path\"=\"C:\\\\Data\\\\\\\"q\\\"\"\n"
      "\"Count\"=dword:0000000a\n"
      "\"Bin\"=hex:01,02,\\\n"
      "  03,ff\n"
      "\"Exp\"=hex(2):25,00,41,00,e9,00,00,00\n"
      "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
      "\"Euro\"=\"\xE2\x82\xAC \xCE\xA9\"\n");
  PosixPlatform platform(root.path());
  const std::string key = "SOFTWARE\\Velmora Solutions\\Velmora.Net\\{A}";

  const auto def = platform.registryValue(key, "");
  ASSERT_TRUE(def);
  EXPECT_EQ(def->type, kRegSz);
  EXPECT_EQ(def->data, "ACME Caf\xE9\0"s);  // Windows-1252, terminator kept
  EXPECT_EQ(platform.registryValue(key, "Path")->data, "C:\\Data\\\"q\"\0"s);
  const auto count = platform.registryValue(key, "Count");
  EXPECT_EQ(count->type, kRegDword);
  EXPECT_EQ(count->data, "\x0a\0\0\0"s);
  EXPECT_EQ(platform.registryValue(key, "Bin")->data, "\x01\x02\x03\xff"s);
  // String types in hex are UTF-16LE in this format and come out single-byte.
  EXPECT_EQ(platform.registryValue(key, "Exp")->data, "%A\xE9\0"s);
  EXPECT_EQ(platform.registryValue(key, "Multi")->type, kRegMultiSz);
  EXPECT_EQ(platform.registryValue(key, "Multi")->data, "a\0b\0\0"s);
  // The euro sign has a byte; omega has none and becomes '?' as the ANSI functions do.
  EXPECT_EQ(platform.registryValue(key, "Euro")->data, "\x80 ?\0"s);

  // Names compare case-insensitively; a missing key or value is a miss.
  EXPECT_TRUE(platform.registryValue("software\\VELMORA SOLUTIONS\\velmora.net\\{a}", "path"));
  EXPECT_FALSE(platform.registryValue(key, "Nope"));
  EXPECT_FALSE(platform.registryValue(key + "\\Nope", ""));
  EXPECT_FALSE(platform.registrySubkeys("SOFTWARE\\Nope"));
}

TEST(RegistryFile, SubkeysEnumerateInCaseInsensitiveOrder) {
  const auto r = parseRegistryFile(
      "Windows Registry Editor Version 5.00\r\n"
      "[HKEY_LOCAL_MACHINE\\S\\beta]\r\n"
      "[HKEY_LOCAL_MACHINE\\S\\_x]\r\n"
      "[HKEY_LOCAL_MACHINE\\S\\Alpha]\r\n"
      "[HKEY_LOCAL_MACHINE\\S\\gamma]\r\n"
      "[HKEY_LOCAL_MACHINE\\s\\BETA\\child]\r\n");
  ASSERT_TRUE(r.tree.find("S"));
  // Byte order would put "Alpha" and "_x" before "beta"; the registry upper-cases first.
  EXPECT_EQ(r.tree.find("S")->subkeyNames(), (std::vector<std::string>{"Alpha", "beta", "gamma", "_x"}));
  EXPECT_TRUE(r.tree.find("S\\Beta\\CHILD"));
  EXPECT_TRUE(r.warnings.empty());
}

TEST(RegistryFile, Regedit4IsReadAsWindows1252AndUtf8AsVersion5) {
  const auto r = parseRegistryFile(
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xE9]\r\n"
      "@=\"na\xEFve \x80\"\r\n"
      "\"S\"=hex(2):41,42,00\r\n"
      "\"T\"=hex(1):c3,a9,00\r\n");
  EXPECT_TRUE(r.warnings.empty());
  // Letters of the code page compare case-insensitively too.
  EXPECT_EQ(valueData(r, "software\\CAF\xC9", ""), "na\xEFve \x80\0"s);
  // Single-byte already: no UTF-16 conversion, no UTF-8 reading of c3 a9.
  EXPECT_EQ(valueData(r, "SOFTWARE\\Caf\xE9", "S"), "AB\0"s);
  EXPECT_EQ(valueData(r, "SOFTWARE\\Caf\xE9", "T"), "\xC3\xA9\0"s);

  // A UTF-8 export, with or without a byte-order mark, is version 5.
  const std::string body =
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_LOCAL_MACHINE\\K]\n"
      "@=\"\xC3\xA9t\xC3\xA9\"\n";
  for (const std::string& bytes : {body, "\xEF\xBB\xBF" + body}) {
    const auto utf8 = parseRegistryFile(bytes);
    EXPECT_EQ(valueData(utf8, "K", ""), "\xE9t\xE9\0"s);
    EXPECT_TRUE(utf8.warnings.empty());
  }
}

TEST(RegistryFile, UnreadableLinesAreSkippedWithTheirLineNumbersAndGarbageGivesNothing) {
  const auto r = parseRegistryFile(
      "Windows Registry Editor Version 5.00\n"    // 1
      "\"early\"=\"x\"\n"                          // 2 value before any key
      "[HKEY_LOCAL_MACHINE\\A]\n"                  // 3
      "\"ok\"=\"1\"\n"                             // 4
      "\"bad\"=dword:xyz\n"                        // 5
      "\"open\"=\"abc\n"                           // 6
      "garbage line\n"                             // 7
      "\"h\"=hex:01,0g\n"                          // 8
      "\"gone\"=-\n"                               // 9
      "[HKEY_CURRENT_USER\\B]\n"                   // 10
      "\"skipped\"=\"1\"\n"                        // 11 silently: its key was reported
      "[-HKEY_LOCAL_MACHINE\\A]\n"                 // 12
      "[HKEY_LOCAL_MACHINE\\A\\\\C]\n"             // 13 empty key name
      "[HKEY_LOCAL_MACHINE\\A\n"                   // 14
      "\"after\"=\"2\"\n"                          // 15
      "[HKEY_LOCAL_MACHINE\\A]\n"                  // 16
      "\"late\"=\"3\"\n");                         // 17
  std::vector<std::string> lines;
  for (const auto& w : r.warnings) lines.push_back(w.substr(0, w.find(':')));
  EXPECT_EQ(lines, (std::vector<std::string>{"line 2", "line 5", "line 6", "line 7", "line 8", "line 9",
                                             "line 10", "line 12", "line 13", "line 14"}));
  EXPECT_EQ(valueData(r, "A", "ok"), "1\0"s);
  EXPECT_EQ(valueData(r, "A", "late"), "3\0"s);
  EXPECT_EQ(valueData(r, "A", "bad"), "<no value>");
  EXPECT_EQ(valueData(r, "A", "after"), "<no value>");
  EXPECT_FALSE(r.tree.find("B"));
  EXPECT_EQ(r.tree.root().subkeyNames(), std::vector<std::string>{"A"});

  // Garbage gives an empty tree.
  EXPECT_TRUE(parseRegistryFile("").tree.root().subkeys().empty());
  // A key deeper than Windows allows is refused with a warning, not built (its
  // destruction would recurse once per level).
  std::string deep = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 200000; ++i) deep += "\\a";
  ParsedRegistry deepTree = parseRegistryFile(deep + "]\n@=\"x\"\n");
  EXPECT_TRUE(deepTree.tree.root().subkeys().empty());
  EXPECT_FALSE(deepTree.warnings.empty());
  for (const std::string& bytes : {"\xFF\xFE\x41"s, "[\n@\n\"\n"s}) {
    EXPECT_TRUE(parseRegistryFile(bytes).tree.root().values().empty());
  }
}

TEST(RegistryFile, FormattedTreeParsesBackToTheSameTree) {
  std::string longHex = "\"Long\"=hex:";
  for (int i = 0; i < 60; ++i) longHex += (i ? ",ab" : "ab");
  const auto first = parseRegistryFile(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_LOCAL_MACHINE]\n"
      "\"AtRoot\"=\"r\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xC3\xA9]\n"
      "@=\"C:\\\\Data \\\"x\\\"\"\n"
      "\"N\"=dword:ffffffff\n" +
      longHex +
      "\n"
      "\"E\"=hex(2):41,00,e9,00,00,00\n"
      "\"NoTerm\"=hex(1):41,00\n"
      "\"Q\"=hex(b):01,00,00,00,00,00,00,00\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xC3\xA9\\Empty]\n");
  ASSERT_TRUE(first.warnings.empty());
  const std::string dump = formatRegistry(first);
  EXPECT_NE(dump.find("@=\"C:\\\\Data \\\"x\\\"\"\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("\"N\"=dword:ffffffff\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xC3\xA9\\Empty]"), std::string::npos) << dump;
  const auto second = parseRegistryFile(dump);
  const std::string key = "SOFTWARE\\Caf\xE9";
  for (const char* name : {"", "N", "Long", "E", "NoTerm", "Q"}) {
    EXPECT_EQ(valueData(second, key, name), valueData(first, key, name)) << name;
    EXPECT_EQ(second.tree.find(key)->findValue(name)->type, first.tree.find(key)->findValue(name)->type);
  }
  EXPECT_EQ(valueData(second, "", "AtRoot"), "r\0"s);
}

TEST(RegistryFile, EveryReadReflectsTheFileAsItIsNow) {
  test::TempRoot root;
  PosixPlatform platform(root.path());
  EXPECT_FALSE(platform.registryValue("K", ""));  // no file: an empty registry
  root.write("registry.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n@=\"one\"\n");
  EXPECT_EQ(platform.registryValue("K", "")->data, "one\0"s);
  // Same size, possibly the same second: the cache must still see the change.
  root.write("registry.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n@=\"two\"\n");
  EXPECT_EQ(platform.registryValue("K", "")->data, "two\0"s);
  std::remove(root.at("registry.reg").c_str());
  EXPECT_FALSE(platform.registryValue("K", ""));
  root.makeFolder("registry.reg");  // unreadable: still just an empty registry
  ASSERT_TRUE(platform.registrySubkeys(""));
  EXPECT_TRUE(platform.registrySubkeys("")->empty());
}

}  // namespace
}  // namespace qmx
