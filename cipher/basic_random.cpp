#include "cipher/basic_random.h"

#include <array>
#include <bit>

namespace qmx {
namespace {

// n draws form one affine map S -> (A·S + C) mod 2^24, since each draw does.
struct Affine {
  std::uint32_t a;
  std::uint32_t c;
};

// first ∘ second: apply second, then first. Unsigned arithmetic wraps modulo
// 2^32, which the 24-bit mask then reduces correctly.
constexpr Affine compose(Affine first, Affine second) {
  return {(first.a * second.a) & BasicRandom::kMask,
          (first.a * second.c + first.c) & BasicRandom::kMask};
}

constexpr std::array<Affine, BasicRandom::kTableSkips + 1> makeSkipTable() {
  std::array<Affine, BasicRandom::kTableSkips + 1> table{};
  table[0] = {1, 0};
  const Affine step{BasicRandom::kMultiplier & BasicRandom::kMask, BasicRandom::kIncrement};
  for (std::size_t n = 1; n < table.size(); ++n) table[n] = compose(step, table[n - 1]);
  return table;
}

// Covers every skip the cipher makes (twice a byte code at most).
constexpr auto kSkipTable = makeSkipTable();

}  // namespace

void BasicRandom::resetWith(float negative) {
  const std::uint32_t pattern = std::bit_cast<std::uint32_t>(negative);
  state_ = (pattern + (pattern >> 24)) & kMask;
  draw();
}

void BasicRandom::reseed(double value) {
  const auto high = static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(value) >> 32);
  state_ = (state_ & 0xFFu) | ((((high & 0xFFFFu) ^ (high >> 16))) << 8);
}

void BasicRandom::skip(std::uint64_t n) {
  Affine map{1, 0};
  if (n <= kTableSkips) {
    map = kSkipTable[n];
  } else {
    // Square and multiply for the rare long skip.
    Affine power{kMultiplier & kMask, kIncrement};
    for (; n != 0; n >>= 1) {
      if (n & 1) map = compose(power, map);
      power = compose(power, power);
    }
  }
  state_ = (map.a * state_ + map.c) & kMask;
}

}  // namespace qmx
