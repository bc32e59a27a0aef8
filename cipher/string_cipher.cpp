#include "cipher/string_cipher.h"

#include <vector>

#include "base/automation_error.h"
#include "base/codepage.h"
#include "cipher/basic_random.h"

namespace qmx {
namespace {

unsigned code(char c) { return static_cast<unsigned char>(c); }

void skipDraws(BasicRandom& rng, std::uint32_t n, Stepping stepping) {
  if (stepping == Stepping::Jump) {
    rng.skip(n);
  } else {
    for (std::uint32_t i = 0; i < n; ++i) rng.draw();
  }
}

}  // namespace

std::string resolveEscapePairs(std::string_view scrambled) {
  std::string out;
  out.reserve(scrambled.size());
  for (std::size_t i = 0; i < scrambled.size(); ++i) {
    if (scrambled[i] != kEscapeMarker) {
      out.push_back(scrambled[i]);
      continue;
    }
    // The marker's piece must start with a character of code 10 or more.
    if (i + 1 == scrambled.size() || scrambled[i + 1] == kEscapeMarker || code(scrambled[i + 1]) < 10) {
      throw AutomationError(kInvalidProcedureCall);
    }
    out.push_back(static_cast<char>(code(scrambled[i + 1]) - 10));
    ++i;
  }
  return out;
}

std::string scrambleCodes(std::string_view text, std::string_view key, Stepping stepping) {
  if (text.empty()) return {};
  // Failing at the first key lookup, after one character, delivers no result
  // either; failing up front is the same to a caller.
  if (key.empty()) throw AutomationError(kInvalidProcedureCall);

  BasicRandom rng;
  rng.resetWith(-1.0f);
  rng.reseed(static_cast<double>(key.size() + text.size()));

  // Mix in the key: each character draws its code's worth, and the bit of its
  // last draw reseeds. Code 0 draws nothing and keeps the previous bit.
  int bit = 0;
  for (char k : key) {
    const std::uint32_t draws = code(k);
    if (draws != 0) {
      skipDraws(rng, draws - 1, stepping);
      bit = BasicRandom::bit(rng.draw());
    }
    rng.reseed(bit);
  }

  std::string out;
  out.reserve(text.size() + text.size() / 64 + 8);
  auto emit = [&out](unsigned x) {
    if (x <= 1) {
      out.push_back(kEscapeMarker);
      x += 10;
    }
    out.push_back(static_cast<char>(x));
  };

  if (stepping == Stepping::OneByOne) {
    std::size_t p = 0;
    for (char t : text) {
      emit(code(t) ^ BasicRandom::keyByte(rng.draw()));
      p = p == key.size() ? 1 : p + 1;
      skipDraws(rng, 2 * code(key[p - 1]), stepping);
    }
    return out;
  }

  // After character i the keystream skips twice the code of key character
  // i mod K, then draws for the next character: one precomputed step per key
  // position covers both.
  std::vector<BasicRandom::Jump> stepAfter(key.size());
  for (std::size_t i = 0; i < key.size(); ++i) stepAfter[i] = BasicRandom::jumpOf(2 * code(key[i]) + 1);
  std::uint32_t state = rng.draw();
  std::size_t q = 0;
  for (std::size_t i = 0;; ++i) {
    emit(code(text[i]) ^ BasicRandom::keyByte(state));
    if (i + 1 == text.size()) break;
    state = rng.apply(stepAfter[q]);
    q = q + 1 == key.size() ? 0 : q + 1;
  }
  return out;
}

std::string fileEncodeAndDecode(std::string& inputString, const std::string& passwordKey) {
  const std::string keyBytes = utf8ToSingleByte(passwordKey);
  const std::string text = resolveEscapePairs(utf8ToSingleByte(inputString));
  inputString = singleByteToUtf8(text);
  return singleByteToUtf8(scrambleCodes(text, keyBytes));
}

}  // namespace qmx
