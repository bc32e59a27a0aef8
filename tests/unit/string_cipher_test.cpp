// The cipher must match the host runtime bit for bit: scrambled text made by
// other clients has to unscramble here. Expected bytes come from a separate
// plain reference that draws every value.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "base/automation_error.h"
#include "base/codepage.h"
#include "cipher/basic_random.h"
#include "cipher/string_cipher.h"
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

// The cipher written again from its rules, as plainly as possible and with none
// of the library's code: the 24-bit generator with every draw made, the four
// phases one after the other. Input is single-byte text.
class ReferenceCipher {
 public:
  static std::string scramble(std::string_view input, std::string_view key) {
    // Phase 1: each escape pair stands for the code after the marker minus 10.
    std::string text;
    for (std::size_t i = 0; i < input.size(); ++i) {
      if (input[i] == '\x01') text.push_back(static_cast<char>(static_cast<unsigned char>(input[++i]) - 10));
      else text.push_back(input[i]);
    }
    // Phase 2: reset with -1 (its single-precision bits), one draw, reseed with K + N.
    ReferenceCipher r;
    const std::uint32_t minusOne = 0xBF800000u;
    r.state_ = (minusOne + (minusOne >> 24)) % kModulus;
    r.draw();
    r.reseed(static_cast<double>(key.size() + text.size()));
    // Phase 3: draw each key code's number of times, reseed with the last bit.
    int bit = 0;
    for (const unsigned char k : key) {
      for (int i = 0; i < k; ++i) {
        r.draw();
        bit = r.state_ > 0x800000u ? 1 : 0;
      }
      r.reseed(bit);
    }
    // Phase 4: XOR with the top byte of one draw, escape 0 and 1, skip twice the
    // next key code.
    std::string out;
    std::size_t p = 0;
    for (const unsigned char t : text) {
      r.draw();
      unsigned x = t ^ (r.state_ >> 16);
      if (x <= 1) {
        out.push_back('\x01');
        x += 10;
      }
      out.push_back(static_cast<char>(x));
      p = p + 1 > key.size() ? 1 : p + 1;
      for (int i = 0; i < 2 * static_cast<unsigned char>(key[p - 1]); ++i) r.draw();
    }
    return out;
  }

 private:
  static constexpr std::uint64_t kModulus = 16777216;
  void draw() { state_ = static_cast<std::uint32_t>((state_ * 1140671485ull + 12820163ull) % kModulus); }
  void reseed(double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    const auto high = static_cast<std::uint32_t>(bits >> 32);
    state_ = (state_ & 0xFFu) | (((high & 0xFFFFu) ^ (high >> 16)) << 8);
  }
  std::uint32_t state_ = 0;
};

int errorOf(std::string& input, const std::string& key) {
  return test::errorNumberOf([&] { fileEncodeAndDecode(input, key); });
}

TEST(StringCipher, MatchesKnownAnswersBothWays) {
  const std::tuple<std::string, std::string, std::string> vectors[] = {
      {"Hello, World!", "secret", "ce010affbf69103db0bb3b3911a7"},  // starts with an escaped 0
      {"Purchase order 42", "Velmora#2024", "6029258bad4b382142c98a4f37f1b60232"},
      {"some text here", std::string("a\0b", 3), "584e3491f14c14d1699c5f0c1550"},  // code-0 key character
      {"\x01\x0a\x01\x0b\x02" "abc\xff", "k", "c4a677fc27a293"},  // codes 0 and 1 as escape pairs
  };
  for (const auto& [text, key, hex] : vectors) {
    EXPECT_EQ(ReferenceCipher::scramble(text, key), fromHex(hex)) << text;
    EXPECT_EQ(scramble(text, key), fromHex(hex)) << text;
    EXPECT_EQ(scramble(fromHex(hex), key), text) << text;
  }
  // The bit drawn for each key character: exactly one half rounds to even (the
  // random texts below almost never reach it).
  EXPECT_EQ(BasicRandom::bit(0x800000), 0);
  EXPECT_EQ(BasicRandom::bit(0x800001), 1);
}

TEST(StringCipher, AgreesWithAPlainReferenceAndRoundTrips) {
  std::mt19937 gen(7);
  std::uniform_int_distribution<int> code(0, 255), length(0, 64);
  for (int round = 0; round < 300; ++round) {
    std::string text, key;
    for (int i = length(gen); i > 0; --i) text.push_back(static_cast<char>(code(gen)));
    for (int i = 1 + length(gen) % 9; i > 0; --i) key.push_back(static_cast<char>(code(gen)));
    // Codes 0 and 1 enter as the escape pairs that stand for them.
    std::string escaped;
    for (const char c : text) {
      if (c == '\0' || c == '\x01') escaped += {'\x01', static_cast<char>(c + 10)};
      else escaped.push_back(c);
    }
    const std::string scrambled = scramble(escaped, key);
    ASSERT_EQ(scrambled, ReferenceCipher::scramble(escaped, key)) << "round " << round;
    ASSERT_EQ(scramble(scrambled, key), escaped) << "round " << round;
  }
  // Longer than the pieces the text is scrambled in, with keys shorter and longer
  // than the keystream's side-by-side chains.
  std::string text(10007, ' ');
  for (char& c : text) c = static_cast<char>(code(gen) | 2);
  for (const std::string key : {"\xFF", "\x80\x03\xFE", "Velmora#2024"}) {
    EXPECT_EQ(scramble(text, key), ReferenceCipher::scramble(text, key)) << key.size();
  }
}

TEST(StringCipher, MalformedInputOrKeyFailsWithError5) {
  // Broken escape pairs and characters outside the code page leave the input as it was.
  for (std::string bad : {"ab\x01", "a\x01\x09" "b", "\x01K\xe4\xb8\xad"}) {
    std::string input = bad;
    EXPECT_EQ(errorOf(input, "key"), kInvalidProcedureCall) << bad;
    EXPECT_EQ(input, bad);
  }
  std::string text = "\x01Kabc";
  EXPECT_EQ(errorOf(text, "k\xe4\xb8\xad"), kInvalidProcedureCall);
  EXPECT_EQ(text, "\x01Kabc");
}

}  // namespace
}  // namespace qmx
