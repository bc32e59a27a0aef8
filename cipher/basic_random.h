// The host runtime's 24-bit random-number generator, reproduced bit for bit so
// that scrambled text made elsewhere unscrambles here, plus an O(1) jump ahead
// that skips many draws at once with exactly the same outcome.
#pragma once

#include <cstdint>

namespace qmx {

class BasicRandom {
 public:
  static constexpr std::uint32_t kMultiplier = 1140671485u;
  static constexpr std::uint32_t kIncrement = 12820163u;
  static constexpr std::uint32_t kMask = 0xFFFFFFu;  // the state is 24 bits
  // Largest skip answered from the precomputed table; longer ones compose it.
  static constexpr std::uint32_t kTableSkips = 510;

  explicit BasicRandom(std::uint32_t state = 0) : state_(state & kMask) {}

  std::uint32_t state() const { return state_; }
  void setState(std::uint32_t state) { state_ = state & kMask; }

  // One step of the generator; returns the new state (the drawn value is
  // state / 2^24).
  std::uint32_t draw() {
    state_ = (state_ * kMultiplier + kIncrement) & kMask;
    return state_;
  }

  // The runtime's reset with a negative number: the state is rebuilt from the
  // single-precision bit pattern of the number, then one draw follows.
  void resetWith(float negative);
  // The runtime's reseed: the upper 32 bits of the number as a double replace
  // the top 16 bits of the state; the low 8 bits survive.
  void reseed(double value);

  // n draws as one affine step: S becomes (a·S + c) mod 2^24.
  struct Jump {
    std::uint32_t a = 1;
    std::uint32_t c = 0;
  };
  // The step that n draws make; O(1) up to kTableSkips, O(log n) beyond.
  static Jump jumpOf(std::uint64_t n);
  // The step `first` then `then` make together.
  static Jump chain(Jump first, Jump then) {
    return {(then.a * first.a) & kMask, (then.a * first.c + then.c) & kMask};
  }
  // Makes a precomputed step; returns the new state.
  std::uint32_t apply(Jump jump) {
    // Unsigned arithmetic wraps modulo 2^32, which the mask reduces correctly.
    state_ = (jump.a * state_ + jump.c) & kMask;
    return state_;
  }
  // Advances by n draws at once; same state as drawing n times.
  void skip(std::uint64_t n) { apply(jumpOf(n)); }

  // The whole part of (drawn value × 256): the top byte of the state.
  static std::uint8_t keyByte(std::uint32_t state) { return static_cast<std::uint8_t>(state >> 16); }
  // The drawn value rounded half to even: 1 above one half, else 0.
  static int bit(std::uint32_t state) { return state > 0x800000u ? 1 : 0; }

 private:
  std::uint32_t state_;
};

}  // namespace qmx
