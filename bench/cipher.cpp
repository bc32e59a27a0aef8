// Scrambling 1 MiB with a 12-character key: the keystream that jumps over the
// discarded draws against the one that draws each of them (prints the ratio and
// fails when the two outputs differ); then the whole FileEncodeAndDecode on 1 MiB
// of UTF-8 text, conversions included, against a plain keystream XOR over the
// same text in the same run (x = x * 1103515245 + 12345; out = in ^ (x >> 24)),
// for a key of low codes and one of high codes. The ratios carry from one CPU
// to another; the rates are for reference.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "best_time.h"
#include "machine.h"
#include "base/codepage.h"
#include "cipher/string_cipher.h"

namespace {

using qmx::bench::bestSeconds;

// The yardstick: the plainest keystream there is, one multiply-add per byte.
void plainKeystream(const std::string& in, std::string& out) {
  std::uint32_t x = 1;
  const auto* src = reinterpret_cast<const unsigned char*>(in.data());
  auto* dst = reinterpret_cast<unsigned char*>(out.data());
  for (std::size_t i = 0; i < in.size(); ++i) {
    x = x * 1103515245u + 12345u;
    dst[i] = static_cast<unsigned char>(src[i] ^ (x >> 24));
  }
}

}  // namespace

int main() {
  qmx::bench::printMachine();
  std::mt19937 gen(7);
  std::uniform_int_distribution<int> code(32, 255);
  std::string text(1 << 20, ' ');
  for (char& c : text) c = static_cast<char>(code(gen));
  const std::string key = "Velmora#2024";

  std::string jumped, drawn;
  const double jumpSeconds = bestSeconds(5, [&] { jumped = qmx::scrambleCodes(text, key, qmx::Stepping::Jump); });
  const double drawSeconds =
      bestSeconds(2, [&] { drawn = qmx::scrambleCodes(text, key, qmx::Stepping::OneByOne); });

  std::printf("text %zu bytes, key %zu characters\n", text.size(), key.size());
  std::printf("one by one: %8.2f ms\n", drawSeconds * 1e3);
  std::printf("jumping:    %8.2f ms\n", jumpSeconds * 1e3);
  std::printf("ratio:      %8.1f (target >= 30)\n", drawSeconds / jumpSeconds);
#ifndef NDEBUG
  std::printf("note: unoptimised build; measure the ratios in a Release build\n");
#endif
  if (jumped != drawn) {
    std::printf("MISMATCH: the two keystreams differ\n");
    return 1;
  }
  std::printf("outputs identical\n");

  // Text as hosts scramble it: words, with an accented letter now and then.
  std::string singleByte;
  while (singleByte.size() < (1u << 20)) {
    singleByte += std::string(1 + gen() % 9, static_cast<char>('a' + gen() % 26));
    singleByte += gen() % 8 == 0 ? "\xE9 " : " ";
  }
  singleByte.resize(1u << 20);
  const std::string utf8 = qmx::singleByteToUtf8(singleByte);
  const double mb = singleByte.size() / 1e6;
  // Codes 35-118, and codes 240-255 (twice as many skipped draws per character).
  const struct {
    const char* name;
    std::string key;
  } keys[] = {{"low-code key", key}, {"high-code key", qmx::singleByteToUtf8("\xFF\xFE\xFD\xFC\xFB\xFA\xF9\xF8\xF7\xF6\xF5\xF0")}};
  int status = 0;
  for (const auto& [name, k] : keys) {
    std::string input;
    std::string scrambled;
    std::string yardstick(utf8.size(), '\0');
    // Interleaved, best of each, so that other work on the machine weighs on both alike.
    double whole = 1e99, plain = 1e99;
    for (int i = 0; i < 10; ++i) {
      whole = std::min(whole, bestSeconds(
                                  2, [&] { scrambled = qmx::fileEncodeAndDecode(input, k); }, [&] { input = utf8; }));
      plain = std::min(plain, bestSeconds(2, [&] { plainKeystream(utf8, yardstick); }));
    }
    std::printf("FileEncodeAndDecode / keystream XOR, %-13s %5.2fx  (target >= 0.5; %.0f MB/s / %.0f MB/s)\n",
                std::string(name).append(":").c_str(), plain / whole, mb / whole, utf8.size() / 1e6 / plain);
    input = scrambled;
    if (qmx::fileEncodeAndDecode(input, k) != utf8) {
      std::printf("MISMATCH: scrambling twice does not give the text back\n");
      status = 1;
    }
    if (yardstick.empty() || yardstick[0] == utf8[0] - 1) std::printf(" ");  // keeps the yardstick's output used
  }
  const double core = bestSeconds(20, [&] { jumped = qmx::scrambleCodes(singleByte, key); });
  std::printf("the scrambling core alone (escaped single-byte output): %.0f MB/s\n", mb / core);
  qmx::bench::printLoad();
  return status;
}
