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
      "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n");
  PosixPlatform platform(root.path());
  const std::string key = "SOFTWARE\\Velmora Solutions\\Velmora.Net\\{A}";

  EXPECT_EQ(platform.registryValue(key, "")->data, "ACME Caf\xE9\0"s);  // Windows-1252, terminator kept
  EXPECT_EQ(platform.registryValue(key, "Path")->data, "C:\\Data\\\"q\"\0"s);
  const auto count = platform.registryValue(key, "Count");
  EXPECT_EQ(count->type, kRegDword);
  EXPECT_EQ(count->data, "\x0a\0\0\0"s);
  EXPECT_EQ(platform.registryValue(key, "Bin")->data, "\x01\x02\x03\xff"s);
  // String types in hex are UTF-16LE in this format and come out single-byte.
  EXPECT_EQ(platform.registryValue(key, "Exp")->data, "%A\xE9\0"s);
  EXPECT_EQ(platform.registryValue(key, "Multi")->data, "a\0b\0\0"s);

  // Names compare case-insensitively; a missing key or value is a miss.
  EXPECT_TRUE(platform.registryValue("software\\VELMORA SOLUTIONS\\velmora.net\\{a}", "path"));
  EXPECT_FALSE(platform.registryValue(key + "\\Nope", ""));
}

TEST(RegistryFile, Regedit4IsReadAsWindows1252Utf8AsVersion5AndSubkeysInCaseInsensitiveOrder) {
  const auto r = parseRegistryFile(
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xE9]\r\n"
      "@=\"na\xEFve \x80\"\r\n"
      "\"T\"=hex(1):c3,a9,00\r\n");
  EXPECT_TRUE(r.warnings.empty());
  // Letters of the code page compare case-insensitively too.
  EXPECT_EQ(valueData(r, "software\\CAF\xC9", ""), "na\xEFve \x80\0"s);
  // Single-byte already: no UTF-16 conversion, no UTF-8 reading of c3 a9.
  EXPECT_EQ(valueData(r, "SOFTWARE\\Caf\xE9", "T"), "\xC3\xA9\0"s);

  // A UTF-8 export with a byte-order mark is version 5.
  const auto utf8 =
      parseRegistryFile("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n@=\"\xC3\xA9t\"\n");
  EXPECT_EQ(valueData(utf8, "K", ""), "\xE9t\0"s);

  const auto keys = parseRegistryFile("REGEDIT4\n[HKEY_LOCAL_MACHINE\\S\\beta]\n[HKEY_LOCAL_MACHINE\\S\\_x]\n"
                                      "[HKEY_LOCAL_MACHINE\\S\\Alpha]\n[HKEY_LOCAL_MACHINE\\S\\gamma]\n");
  ASSERT_TRUE(keys.tree.find("S"));
  // Byte order would put "Alpha" and "_x" before "beta"; the registry upper-cases first.
  EXPECT_EQ(keys.tree.find("S")->subkeyNames(), (std::vector<std::string>{"Alpha", "beta", "gamma", "_x"}));
}

TEST(RegistryFile, UnreadableLinesAreSkippedWithTheirLineNumbers) {
  const auto r = parseRegistryFile(
      "Windows Registry Editor Version 5.00\n"    // 1
      "\"early\"=\"x\"\n"                          // 2 value before any key
      "[HKEY_LOCAL_MACHINE\\A]\n"                  // 3
      "\"ok\"=\"1\"\n"                             // 4
      "\"bad\"=dword:xyz\n"                        // 5
      "[HKEY_CURRENT_USER\\B]\n"                   // 6
      "\"skipped\"=\"1\"\n"                        // 7 silently: its key was reported
      "[HKEY_LOCAL_MACHINE\\A\n"                   // 8
      "\"after\"=\"2\"\n");                        // 9
  std::vector<std::string> lines;
  for (const auto& w : r.warnings) lines.push_back(w.substr(0, w.find(':')));
  EXPECT_EQ(lines, (std::vector<std::string>{"line 2", "line 5", "line 6", "line 8"}));
  EXPECT_EQ(valueData(r, "A", "ok"), "1\0"s);
  EXPECT_EQ(valueData(r, "A", "after"), "<no value>");
  EXPECT_EQ(r.tree.root().subkeyNames(), std::vector<std::string>{"A"});

  // A key deeper than Windows allows is refused with a warning, not built (its
  // destruction would recurse once per level).
  std::string deep = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 200000; ++i) deep += "\\a";
  ParsedRegistry deepTree = parseRegistryFile(deep + "]\n@=\"x\"\n");
  EXPECT_TRUE(deepTree.tree.root().subkeys().empty());
  EXPECT_FALSE(deepTree.warnings.empty());
}

// Print-parse-print stability is fuzzed; this pins that the print keeps the values.
TEST(RegistryFile, FormattedTreeParsesBackToTheSameTree) {
  const auto first = parseRegistryFile(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xC3\xA9]\n"
      "@=\"C:\\\\Data \\\"x\\\"\"\n"
      "\"N\"=dword:ffffffff\n"
      "\"E\"=hex(2):41,00,e9,00,00,00\n"
      "\"Q\"=hex(b):01,00,00,00,00,00,00,00\n");
  ASSERT_TRUE(first.warnings.empty());
  const auto second = parseRegistryFile(formatRegistry(first));
  const std::string key = "SOFTWARE\\Caf\xE9";
  for (const char* name : {"", "N", "E", "Q"}) {
    EXPECT_EQ(valueData(second, key, name), valueData(first, key, name)) << name;
    EXPECT_EQ(second.tree.find(key)->findValue(name)->type, first.tree.find(key)->findValue(name)->type);
  }
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
}

}  // namespace
}  // namespace qmx
