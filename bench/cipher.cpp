// Scrambling 1 MiB with a 12-character key: the keystream that jumps over the
// discarded draws against the one that draws each of them (prints the ratio and
// fails when the two outputs differ); then the whole FileEncodeAndDecode on 1 MiB
// of UTF-8 text, conversions included, in MB/s beside the scrambling core alone.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "best_time.h"
#include "base/codepage.h"
#include "cipher/string_cipher.h"

namespace {

using qmx::bench::bestSeconds;


}  // namespace

int main() {
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
  std::printf("note: unoptimised build; measure the ratio in a Release build\n");
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
  std::string input;
  std::string scrambled;
  const double whole = bestSeconds(
      20, [&] { scrambled = qmx::fileEncodeAndDecode(input, key); }, [&] { input = utf8; });
  const double core = bestSeconds(20, [&] { jumped = qmx::scrambleCodes(singleByte, key); });
  std::printf("FileEncodeAndDecode, 1 MiB of text: %6.0f MB/s (target >= 300); the scrambling core alone: %6.0f MB/s\n",
              mb / whole, mb / core);
  input = scrambled;
  if (qmx::fileEncodeAndDecode(input, key) != utf8) {
    std::printf("MISMATCH: scrambling twice does not give the text back\n");
    return 1;
  }
  return 0;
}
