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

  platform.addRegistryKey(kRoot + installId('B'));
  platform.addRegistryKey(kRoot + installId('c'));
  platform.addRegistryKey(kRoot + installId('A'));
  EXPECT_EQ(GetInstallList(platform), installId('A') + ";" + installId('B') + ";" + installId('c'));

  // Shorter names come out at their own length, with nothing left over from a
  // longer name read before them.
  FakePlatform shortNames;
  shortNames.addRegistryKey(kRoot + installId('A'));
  shortNames.addRegistryKey(kRoot + "{Bee}");
  shortNames.addRegistryKey(kRoot + "{Caf\xC3\xA9}");
  EXPECT_EQ(GetInstallList(shortNames), installId('A') + ";{Bee};{Caf\xC3\xA9}");
}

TEST(GetRegKey, ReadsDefaultValuesBelowTheSettingsRootOrTheGivenBaseWithinTheBuffer) {
  FakePlatform platform;
  const std::string id = installId('A');
  platform.setRegistryString(kRoot + id, "", "Caf\xC3\xA9 \xE2\x82\xAC");
  platform.setRegistryString(kRoot + id + "\\Fits", "", std::string(1022, 'x'));
  platform.setRegistryString(kRoot + id + "\\TooLong", "", std::string(1023, 'x'));

  EXPECT_EQ(GetRegKey(platform, id), "Caf\xC3\xA9 \xE2\x82\xAC");  // back to UTF-8
  EXPECT_EQ(GetRegKey(platform, id + "\\Fits"), std::string(1022, 'x'));
  EXPECT_EQ(GetRegKey(platform, id + "\\TooLong"), "");  // 1023 and its terminator do not fit

  // An empty base path becomes the settings root, in the caller's variable too.
  platform.setRegistryString(kRoot + "K\\Sub", "", "sub value");
  platform.setRegistryString("Elsewhere\\K", "", "elsewhere");
  Variant base = EmptyValue{};
  EXPECT_EQ(GetRegKey(platform, "K", "Sub", base), "sub value");
  EXPECT_EQ(base, Variant(kRoot));
  Variant other = std::string("Elsewhere\\");
  EXPECT_EQ(GetRegKey(platform, "K", "", other), "elsewhere");
  EXPECT_EQ(other, Variant(std::string("Elsewhere\\")));
}

TEST(GetRegValue, ConvertsByValueTypeAndReportsEveryFailureAsText) {
  FakePlatform platform;
  const std::string key = "SOFTWARE\\Maker\\Client";
  const std::tuple<const char*, RegistryValue, std::string> cases[] = {
      {"Inbox", {kRegSz, "C:\\Inbox \xE9\0"s}, "C:\\Inbox \xC3\xA9"},
      {"High", {kRegDword, "\0\0\0\x80"s}, "-2147483648"},
      {"Bin", {kRegBinary, "a\0b"s}, "a\0b"s},
      {"ZeroBytes", {kRegSz, ""}, kNotFound},
      {"Expand", {kRegExpandSz, "%TEMP%\0"s}, kNotFound},
      // Longer than the 255-byte buffer: read whole, never cut or overrun.
      {"Long", {kRegSz, std::string(300, 'p') + '\0'}, std::string(300, 'p')},
  };
  for (const auto& [name, value, expected] : cases) {
    platform.setRegistryValue(key, name, value);
    EXPECT_EQ(GetRegValue(platform, kHkeyLocalMachine, key, name), expected) << name;
  }
  EXPECT_EQ(GetRegValue(platform, kHkeyLocalMachine, key + "\\Missing", "Inbox"), kNotFound);
}

}  // namespace
}  // namespace qmx
