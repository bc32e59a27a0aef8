#include "cipher/basic_random.h"

#include <array>
#include <bit>

namespace qmx {
namespace {

using Jump = BasicRandom::Jump;

// first ∘ second: make second's step, then first's.
constexpr Jump compose(Jump first, Jump second) {
  return {(first.a * second.a) & BasicRandom::kMask,
          (first.a * second.c + first.c) & BasicRandom::kMask};
}

constexpr Jump kOneDraw{BasicRandom::kMultiplier & BasicRandom::kMask, BasicRandom::kIncrement};

constexpr std::array<Jump, BasicRandom::kTableSkips + 1> makeJumpTable() {
  std::array<Jump, BasicRandom::kTableSkips + 1> table{};
  for (std::size_t n = 1; n < table.size(); ++n) table[n] = compose(kOneDraw, table[n - 1]);
  return table;
}

// Covers every skip the cipher makes (twice a byte code at most).
constexpr auto kJumpTable = makeJumpTable();

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

BasicRandom::Jump BasicRandom::jumpOf(std::uint64_t n) {
  if (n <= kTableSkips) return kJumpTable[n];
  // Square and multiply for the rare long skip.
  Jump result;
  for (Jump power = kOneDraw; n != 0; n >>= 1) {
    if (n & 1) result = compose(power, result);
    power = compose(power, power);
  }
  return result;
}

}  // namespace qmx
