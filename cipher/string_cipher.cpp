#include "cipher/string_cipher.h"

#include "cipher/basic_random.h"
#include "platform/automation_error.h"
#include "platform/codepage.h"

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
  // The original only fails on its first key lookup, after one character; with
  // no result delivered either way, failing up front is the same to a caller.
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
  std::size_t p = 0;
  for (char t : text) {
    unsigned x = code(t) ^ BasicRandom::keyByte(rng.draw());
    if (x <= 1) {
      out.push_back(kEscapeMarker);
      x += 10;
    }
    out.push_back(static_cast<char>(x));
    p = p == key.size() ? 1 : p + 1;
    skipDraws(rng, 2 * code(key[p - 1]), stepping);
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
