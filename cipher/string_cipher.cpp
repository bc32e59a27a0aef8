#include "cipher/string_cipher.h"

#include <cstring>
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
  std::size_t i = 0;
  while (i < scrambled.size()) {
    // Text without markers is copied in runs.
    const void* marker = std::memchr(scrambled.data() + i, kEscapeMarker, scrambled.size() - i);
    const std::size_t end = marker ? static_cast<std::size_t>(static_cast<const char*>(marker) - scrambled.data())
                                   : scrambled.size();
    out.append(scrambled, i, end - i);
    if (end == scrambled.size()) break;
    // The marker's piece must start with a character of code 10 or more.
    if (end + 1 == scrambled.size() || scrambled[end + 1] == kEscapeMarker || code(scrambled[end + 1]) < 10) {
      throw AutomationError(kInvalidProcedureCall);
    }
    out.push_back(static_cast<char>(code(scrambled[end + 1]) - 10));
    i = end + 2;
  }
  return out;
}

namespace {

// Characters scrambled at a time, through buffers on the stack.
constexpr std::size_t kPiece = 4096;

// Scrambles text with key, handing the escaped single-byte result to onPiece a
// few kilobytes at a time.
template <typename OnPiece>
void scrambleInPieces(std::string_view text, std::string_view key, Stepping stepping, OnPiece&& onPiece) {
  if (text.empty()) return;
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

  // A piece of text, every character of it escaped at worst.
  char buffer[2 * kPiece];
  char* end = buffer;
  auto emit = [&end](unsigned x) {
    if (x <= 1) {
      *end++ = kEscapeMarker;
      x += 10;
    }
    *end++ = static_cast<char>(x);
  };
  auto flushEvery = [&](std::size_t i) {
    if ((i + 1) % kPiece == 0 || i + 1 == text.size()) {
      onPiece(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
      end = buffer;
    }
  };

  if (stepping == Stepping::OneByOne) {
    std::size_t p = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      emit(code(text[i]) ^ BasicRandom::keyByte(rng.draw()));
      flushEvery(i);
      p = p == key.size() ? 1 : p + 1;
      skipDraws(rng, 2 * code(key[p - 1]), stepping);
    }
    return;
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
    flushEvery(i);
    if (i + 1 == text.size()) break;
    state = rng.apply(stepAfter[q]);
    q = q + 1 == key.size() ? 0 : q + 1;
  }
}

}  // namespace

std::string scrambleCodes(std::string_view text, std::string_view key, Stepping stepping) {
  std::string out;
  out.reserve(text.size() + text.size() / 64 + 8);
  scrambleInPieces(text, key, stepping, [&out](std::string_view piece) { out.append(piece); });
  return out;
}

std::string fileEncodeAndDecode(std::string& inputString, const std::string& passwordKey) {
  const std::string keyBytes = utf8ToSingleByte(passwordKey);
  std::string text = utf8ToSingleByte(inputString);
  // Without an escape pair the input's text is already what it would be
  // rewritten to, so it is left as it is.
  if (text.find(kEscapeMarker) != std::string::npos) {
    text = resolveEscapePairs(text);
    inputString = singleByteToUtf8(text);
  }
  // Scrambled and turned into UTF-8 piece by piece, with no single-byte copy of
  // the whole result in between.
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  char utf8[3 * 2 * kPiece + kUtf8WriteSlack];  // a piece escaped at worst, three bytes a character
  scrambleInPieces(text, keyBytes, Stepping::Jump, [&](std::string_view piece) {
    out.append(utf8, static_cast<std::size_t>(writeSingleByteAsUtf8(piece, utf8) - utf8));
  });
  return out;
}

}  // namespace qmx
