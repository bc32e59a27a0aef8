// The cipher must match the host runtime bit for bit: scrambled text made by
// other clients has to unscramble here.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "cipher/basic_random.h"
#include "cipher/string_cipher.h"
#include "control/xmlload.h"
#include "platform/automation_error.h"
#include "platform/codepage.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

std::string fromHex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

// Runs the method on single-byte text, as a host holding such text would.
std::string scramble(std::string_view bytes, std::string_view key) {
  std::string input = singleByteToUtf8(bytes);
  return utf8ToSingleByte(fileEncodeAndDecode(input, singleByteToUtf8(key)));
}

int errorOf(std::string& input, const std::string& key) {
  try {
    fileEncodeAndDecode(input, key);
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

TEST(BasicRandom, ResetAndReseedMatchTheRuntime) {
  BasicRandom reset(0x123456);
  reset.resetWith(-1.0f);
  BasicRandom expected(0x8000BF);  // the state built from -1's bit pattern
  EXPECT_EQ(reset.state(), expected.draw());
  EXPECT_EQ(reset.state(), 0x395886u);

  for (auto [value, state] : {std::pair{0.0, 0xEFu}, {1.0, 0x3FF0EFu}, {5.0, 0x4014EFu}}) {
    BasicRandom rng(0xABCDEF);
    rng.reseed(value);
    EXPECT_EQ(rng.state(), state) << "reseed with " << value;
  }

  EXPECT_EQ(BasicRandom::keyByte(0xFF0000), 255);
  EXPECT_EQ(BasicRandom::keyByte(0x00FFFF), 0);
  EXPECT_EQ(BasicRandom::bit(0x800000), 0);  // exactly one half rounds to even
  EXPECT_EQ(BasicRandom::bit(0x800001), 1);
}

TEST(BasicRandom, SkipEqualsDrawingOneByOne) {
  for (std::uint32_t start : {0u, 0x8000BFu, 0xFFFFFFu, 0x5A5A5Au}) {
    BasicRandom drawn(start);
    for (std::uint64_t n = 0; n <= BasicRandom::kTableSkips; ++n) {
      BasicRandom jumped(start);
      jumped.skip(n);
      ASSERT_EQ(jumped.state(), drawn.state()) << "start " << start << " skip " << n;
      drawn.draw();
    }
    // Longer skips go through the doubling path.
    for (std::uint64_t n : {511ull, 1000ull, 123457ull}) {
      BasicRandom one(start), jumped(start);
      for (std::uint64_t i = 0; i < n; ++i) one.draw();
      jumped.skip(n);
      EXPECT_EQ(jumped.state(), one.state()) << "skip " << n;
    }
  }
}

TEST(StringCipher, KnownAnswersFromPlainReference) {
  struct Vector {
    std::string text, key, scrambledHex;
  };
  const Vector vectors[] = {
      {"Hello, World!", "secret", "ce010affbf69103db0bb3b3911a7"},  // starts with an escaped 0
      {"A", "K", "38"},
      {"Purchase order 42", "Velmora#2024", "6029258bad4b382142c98a4f37f1b60232"},
      {"short", "a much longer key than text", "0432594f29"},
  };
  for (const auto& v : vectors) {
    EXPECT_EQ(scramble(v.text, v.key), fromHex(v.scrambledHex)) << v.text;
    EXPECT_EQ(scrambleCodes(v.text, v.key, Stepping::OneByOne), fromHex(v.scrambledHex)) << v.text;
    EXPECT_EQ(scramble(fromHex(v.scrambledHex), v.key), v.text) << v.text;
  }
  // Codes 0 and 1 go in as escape pairs and come back as escape pairs.
  const std::string withLowCodes("\x01\x0a\x01\x0b\x02" "abc\xff");
  EXPECT_EQ(scramble(withLowCodes, "k"), fromHex("c4a677fc27a293"));
}

TEST(StringCipher, RoundTripsRandomTextsAndNeverEmitsBareLowCodes) {
  std::mt19937 gen(20240611);
  std::uniform_int_distribution<int> textCode(2, 255), keyCode(1, 255), length(1, 300);
  for (int round = 0; round < 200; ++round) {
    std::string text, key;
    for (int i = length(gen); i > 0; --i) text.push_back(static_cast<char>(textCode(gen)));
    for (int i = 1 + round % 20; i > 0; --i) key.push_back(static_cast<char>(keyCode(gen)));

    const std::string scrambled = scramble(text, key);
    ASSERT_GE(scrambled.size(), text.size());
    for (std::size_t i = 0; i < scrambled.size(); ++i) {
      ASSERT_NE(scrambled[i], '\0');
      if (scrambled[i] == '\x01') {
        ASSERT_LT(i + 1, scrambled.size());
        ASSERT_TRUE(scrambled[i + 1] == '\x0a' || scrambled[i + 1] == '\x0b');
        ++i;
      }
    }
    ASSERT_EQ(scramble(text, key), scrambled) << "not deterministic";
    ASSERT_EQ(scrambleCodes(text, key, Stepping::OneByOne), scrambled);
    ASSERT_EQ(scramble(scrambled, key), text) << "round " << round;
  }
}

TEST(StringCipher, ResolvesEscapePairsIntoTheByRefInput) {
  // Code 1 then code 75 ("K") is read as the single character of code 65.
  std::string input = "x\x01Ky";
  const std::string out = fileEncodeAndDecode(input, "key");
  EXPECT_EQ(input, "xAy");
  std::string plain = "xAy";
  EXPECT_EQ(out, fileEncodeAndDecode(plain, "key"));

  // The control's member rewrites the host's variable the same way.
  test::FakePlatform fake;
  XMLLoad control(fake);
  std::string hostVariable = "x\x01Ky";
  EXPECT_EQ(control.FileEncodeAndDecode(hostVariable, "key"), out);
  EXPECT_EQ(hostVariable, "xAy");

  std::string empty;
  EXPECT_EQ(fileEncodeAndDecode(empty, "key"), "");
  EXPECT_EQ(fileEncodeAndDecode(empty, ""), "");
}

TEST(StringCipher, MalformedInputOrKeyFailsWithError5) {
  for (std::string bad : {std::string("ab\x01"), std::string("a\x01\x01" "b"), std::string("a\x01\x09" "b")}) {
    std::string input = bad;
    EXPECT_EQ(errorOf(input, "key"), kInvalidProcedureCall);
    EXPECT_EQ(input, bad) << "a failed escape pair must not rewrite the input";
  }

  // An empty key fails only after the input has been rewritten.
  std::string input = "\x01Kz";
  EXPECT_EQ(errorOf(input, ""), kInvalidProcedureCall);
  EXPECT_EQ(input, "Az");

  // Characters without a byte in the code page, in the text or in the key.
  std::string wide = "\x01K\xe4\xb8\xad";  // then U+4E2D
  EXPECT_EQ(errorOf(wide, "key"), kInvalidProcedureCall);
  EXPECT_EQ(wide, "\x01K\xe4\xb8\xad");
  std::string text = "\x01Kabc";
  EXPECT_EQ(errorOf(text, "k\xe4\xb8\xad"), kInvalidProcedureCall);
  EXPECT_EQ(text, "\x01Kabc");
}

TEST(StringCipher, KeyCharactersOfCodeZeroKeepTheLastBit) {
  // A code-0 key character draws nothing; the result must still round-trip and
  // differ from the key without it (it still counts in the seed and the cycle).
  const std::string key("a\0b", 3);
  const std::string scrambled = scramble("some text here", key);
  EXPECT_EQ(scrambled, fromHex("584e3491f14c14d1699c5f0c1550"));
  EXPECT_EQ(scramble(scrambled, key), "some text here");
  EXPECT_NE(scrambled, scramble("some text here", "ab"));
  EXPECT_EQ(scrambleCodes("some text here", key, Stepping::OneByOne), scrambled);
}

}  // namespace
}  // namespace qmx
