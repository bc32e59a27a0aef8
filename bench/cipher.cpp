// Scrambling 1 MiB with a 12-character key: the keystream that jumps over the
// discarded draws against the one that draws each of them. Prints the ratio and
// fails when the two outputs differ.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "best_time.h"
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
  return 0;
}
