#include <gtest/gtest.h>

#include <tuple>

#include "settings/reg_main.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

using namespace std::string_literals;
using test::FakePlatform;
using test::kSettingsRootPath;

const std::string kRoot(kSettingsRootPath);
const std::string kNotFound(kKeyNotFoundText);

// A 38-character installation identifier that sorts by its letter.
std::string installId(char letter) { return "{" + std::string(36, letter) + "}"; }

TEST(GetInstallList, ListsIdentifiersInEnumerationOrderUntilANameTooLongForTheBuffer) {
  FakePlatform platform;
  EXPECT_EQ(GetInstallList(platform), "");  // no settings root at all
  platform.addRegistryKey(kRoot);
  EXPECT_EQ(GetInstallList(platform), "");  // a root without installations

  platform.addRegistryKey(kRoot + installId('B'));
  EXPECT_EQ(GetInstallList(platform), installId('B'));
  platform.addRegistryKey(kRoot + installId('c'));
  platform.addRegistryKey(kRoot + installId('A'));
  EXPECT_EQ(GetInstallList(platform), installId('A') + ";" + installId('B') + ";" + installId('c'));

  // A name too long for the buffer ends the enumeration.
  FakePlatform longName;
  longName.addRegistryKey(kRoot + installId('A'));
  longName.addRegistryKey(kRoot + "{" + std::string(37, 'B') + "}");  // 39 characters
  longName.addRegistryKey(kRoot + installId('C'));
  EXPECT_EQ(GetInstallList(longName), installId('A'));

  // Shorter names come out at their own length, with nothing left over from a
  // longer name read before them.
  FakePlatform shortNames;
  shortNames.addRegistryKey(kRoot + installId('A'));
  shortNames.addRegistryKey(kRoot + "{Bee}");
  shortNames.addRegistryKey(kRoot + "{Caf\xC3\xA9}");
  EXPECT_EQ(GetInstallList(shortNames), installId('A') + ";{Bee};{Caf\xC3\xA9}");
}

TEST(GetRegKey, ReadsDefaultValuesBelowTheSettingsRootWithinTheBuffer) {
  FakePlatform platform;
  const std::string id = installId('A');
  platform.setRegistryString(kRoot + id, "", "Caf\xC3\xA9 \xE2\x82\xAC");
  platform.addRegistryKey(kRoot + id + "\\NoDefault");
  platform.setRegistryString(kRoot + id + "\\Fits", "", std::string(1022, 'x'));
  platform.setRegistryString(kRoot + id + "\\TooLong", "", std::string(1023, 'x'));
  platform.setRegistryDword(kRoot + id + "\\Number", "", 7);

  EXPECT_EQ(GetRegKey(platform, id), "Caf\xC3\xA9 \xE2\x82\xAC");  // back to UTF-8
  EXPECT_EQ(GetRegKey(platform, installId('a')), "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(GetRegKey(platform, id + "\\NoDefault"), "");
  EXPECT_EQ(GetRegKey(platform, id + "\\Missing"), "");
  EXPECT_EQ(GetRegKey(platform, id + "\\Fits"), std::string(1022, 'x'));
  EXPECT_EQ(GetRegKey(platform, id + "\\TooLong"), "");  // 1023 and its terminator do not fit
  EXPECT_EQ(GetRegKey(platform, id + "\\Number"), "");
  // The key path ends at its first NUL, as the ANSI functions read it.
  EXPECT_EQ(GetRegKey(platform, id + "\0\\Fits"s), "Caf\xC3\xA9 \xE2\x82\xAC");
}

TEST(GetRegKey, EmptyBasePathBecomesTheSettingsRootInTheCallersVariable) {
  FakePlatform platform;
  platform.setRegistryString(kRoot + "K\\Sub", "", "sub value");
  platform.setRegistryString("Elsewhere\\K", "", "elsewhere");
  Variant base = EmptyValue{};
  EXPECT_EQ(GetRegKey(platform, "K", "Sub", base), "sub value");
  EXPECT_EQ(base, Variant(kRoot));
  // An empty key path opens the settings root itself, whose final "\" the
  // subkey name then follows directly.
  EXPECT_EQ(GetRegKey(platform, "", "K\\Sub", base), "sub value");
  Variant other = std::string("Elsewhere\\");
  EXPECT_EQ(GetRegKey(platform, "K", "", other), "elsewhere");
  EXPECT_EQ(other, Variant(std::string("Elsewhere\\")));
}

TEST(GetRegValue, ConvertsByValueTypeAndReportsEveryFailureAsText) {
  FakePlatform platform;
  const std::string key = "SOFTWARE\\Maker\\Client";
  const std::tuple<const char*, RegistryValue, std::string> cases[] = {
      {"Inbox", {kRegSz, "C:\\Inbox \xE9\0"s}, "C:\\Inbox \xC3\xA9"},
      {"Seven", {kRegDword, "\x07\0\0\0"s}, "7"},
      {"AllOnes", {kRegDword, "\xFF\xFF\xFF\xFF"s}, "-1"},
      {"High", {kRegDword, "\0\0\0\x80"s}, "-2147483648"},
      {"Bin", {kRegBinary, "a\0b"s}, "a\0b"s},
      {"ZeroBytes", {kRegSz, ""}, kNotFound},
      {"LoneNul", {kRegSz, "\0"s}, ""},
      {"Expand", {kRegExpandSz, "%TEMP%\0"s}, kNotFound},
      {"Multi", {kRegMultiSz, "a\0\0"s}, kNotFound},
      {"EmptyMulti", {kRegMultiSz, ""}, ""},
      // Longer than the 255-byte buffer: read whole, never cut or overrun.
      {"Long", {kRegSz, std::string(300, 'p') + '\0'}, std::string(300, 'p')},
  };
  for (const auto& [name, value, expected] : cases) {
    platform.setRegistryValue(key, name, value);
    EXPECT_EQ(GetRegValue(platform, kHkeyLocalMachine, key, name), expected) << name;
  }
  EXPECT_EQ(GetRegValue(platform, kHkeyLocalMachine, key, "inbox"), "C:\\Inbox \xC3\xA9");
  EXPECT_EQ(GetRegValue(platform, kHkeyLocalMachine, key, "Missing"), kNotFound);
  EXPECT_EQ(GetRegValue(platform, kHkeyLocalMachine, key + "\\Missing", "Inbox"), kNotFound);
  EXPECT_EQ(GetRegValue(platform, 0x80000001u, key, "Inbox"), kNotFound);  // another root
}

}  // namespace
}  // namespace qmx
