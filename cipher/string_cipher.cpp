#include "cipher/string_cipher.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "base/automation_error.h"
#include "base/codepage.h"
#include "base/utf8.h"
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
// Keystream positions computed side by side. The generator's step is a
// multiply-add that waits on the one before; positions a stride apart form
// chains of their own, which the CPU runs at once.
constexpr std::size_t kLanes = 8;
static_assert(kPiece % kLanes == 0);

// The key's stream over a text of a given length: the codes of the text XORed
// with the top byte of one draw per character, with twice the code of key
// character i mod K skipped after character i.
class KeyStream {
 public:
  KeyStream(std::string_view key, std::size_t textSize, Stepping stepping) : key_(key), stepping_(stepping) {
    rng_.resetWith(-1.0f);
    rng_.reseed(static_cast<double>(key.size() + textSize));
    // Mix in the key: each character draws its code's worth, and the bit of its
    // last draw reseeds. Code 0 draws nothing and keeps the previous bit.
    int bit = 0;
    for (char k : key) {
      const std::uint32_t draws = code(k);
      if (draws != 0) {
        skipDraws(rng_, draws - 1, stepping);
        bit = BasicRandom::bit(rng_.draw());
      }
      rng_.reseed(bit);
    }
    if (stepping == Stepping::Jump) prepareLanes();
  }

  // XORs the stream's next n bytes over in into out. Every call but the last
  // takes a multiple of kLanes characters.
  void xorOver(const unsigned char* in, std::size_t n, unsigned char* out) {
    if (stepping_ == Stepping::OneByOne) {
      for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<unsigned char>(in[i] ^ BasicRandom::keyByte(rng_.draw()));
        skipDraws(rng_, 2 * code(key_[p_]), stepping_);
        p_ = p_ + 1 == key_.size() ? 0 : p_ + 1;
      }
      return;
    }
    // The states are kept whole: the low 24 bits of a 32-bit multiply-add are
    // those of the 24-bit one, and the key byte is bits 16 to 23.
    std::uint32_t s[kLanes];
    std::copy(lane_, lane_ + kLanes, s);
    std::size_t q = q_;
    std::size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
      const BasicRandom::Jump* step = stride_.data() + q;
      for (std::size_t j = 0; j < kLanes; ++j) {
        out[i + j] = static_cast<unsigned char>(in[i + j] ^ (s[j] >> 16));
        s[j] = step[j].a * s[j] + step[j].c;
      }
      q += kLanes;
      if (q >= period_) q -= period_;
    }
    for (std::size_t j = 0; i < n; ++i, ++j) out[i] = static_cast<unsigned char>(in[i] ^ (s[j] >> 16));
    std::copy(s, s + kLanes, lane_);
    q_ = q;
  }

 private:
  // After character i the stream skips twice the code of key character i mod K,
  // then draws for the next one: one step per key position covers both, and
  // kLanes of them chained carry lane j from character i + j to i + j + kLanes.
  void prepareLanes() {
    const std::size_t k = key_.size();
    std::vector<BasicRandom::Jump> stepAfter(k);
    for (std::size_t i = 0; i < k; ++i) stepAfter[i] = BasicRandom::jumpOf(2 * code(key_[i]) + 1);
    // A whole number of key lengths, at least kLanes, so that the position
    // wraps with one subtraction.
    period_ = k * ((kLanes + k - 1) / k);
    stride_.resize(period_ + kLanes - 1);
    for (std::size_t q = 0; q < stride_.size(); ++q) {
      BasicRandom::Jump step;
      for (std::size_t t = 0; t < kLanes; ++t) step = BasicRandom::chain(step, stepAfter[(q + t) % k]);
      stride_[q] = step;
    }
    lane_[0] = rng_.draw();
    for (std::size_t j = 1; j < kLanes; ++j) {
      const BasicRandom::Jump step = stepAfter[(j - 1) % k];
      lane_[j] = (step.a * lane_[j - 1] + step.c) & BasicRandom::kMask;
    }
  }

  std::string_view key_;
  Stepping stepping_;
  BasicRandom rng_;
  std::size_t p_ = 0;  // the key position of the next skip, one by one
  std::vector<BasicRandom::Jump> stride_;
  std::size_t period_ = 0;
  std::size_t q_ = 0;
  std::uint32_t lane_[kLanes] = {};
};

// Scrambles text with key, handing each piece of raw codes (not yet escaped) to
// onPiece a few kilobytes at a time.
template <typename OnPiece>
void scrambleInPieces(std::string_view text, std::string_view key, Stepping stepping, OnPiece&& onPiece) {
  if (text.empty()) return;
  // Failing at the first key lookup, after one character, delivers no result
  // either; failing up front is the same to a caller.
  if (key.empty()) throw AutomationError(kInvalidProcedureCall);
  KeyStream stream(key, text.size(), stepping);
  unsigned char raw[kPiece];
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size(); i += kPiece) {
    const std::size_t n = std::min(kPiece, text.size() - i);
    stream.xorOver(in + i, n, raw);
    onPiece(raw, n);
  }
}

// Codes 0 and 1 become an escape pair: the marker and the code plus 10.
char* escapeCodes(const unsigned char* raw, std::size_t n, char* out) {
  for (std::size_t i = 0; i < n; ++i) {
    unsigned x = raw[i];
    if (x <= 1) {
      *out++ = kEscapeMarker;
      x += 10;
    }
    *out++ = static_cast<char>(x);
  }
  return out;
}

// The UTF-8 of each scrambled code, escaped: at most three bytes, so that one
// four-byte copy moves any of them.
struct EscapedUtf8 {
  char bytes[3] = {};
  unsigned char size = 0;
};

const std::array<EscapedUtf8, 256>& escapedUtf8() {
  static const std::array<EscapedUtf8, 256> table = [] {
    std::array<EscapedUtf8, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
      const unsigned char code = static_cast<unsigned char>(b);
      char single[2];
      const std::size_t n = static_cast<std::size_t>(escapeCodes(&code, 1, single) - single);
      std::string utf8;
      for (std::size_t i = 0; i < n; ++i) appendUtf8(utf8, singleByteToCodePoint(static_cast<unsigned char>(single[i])));
      t[b].size = static_cast<unsigned char>(utf8.size());
      std::memcpy(t[b].bytes, utf8.data(), utf8.size());
    }
    return t;
  }();
  return table;
}

}  // namespace

std::string scrambleCodes(std::string_view text, std::string_view key, Stepping stepping) {
  std::string out;
  out.reserve(text.size() + text.size() / 64 + 8);
  char escaped[2 * kPiece];
  scrambleInPieces(text, key, stepping, [&](const unsigned char* raw, std::size_t n) {
    out.append(escaped, static_cast<std::size_t>(escapeCodes(raw, n, escaped) - escaped));
  });
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
  // Scrambled, escaped and turned into UTF-8 piece by piece, with no
  // single-byte copy of the whole result in between. Scrambled codes are
  // spread evenly: about 1.6 bytes of UTF-8 each.
  std::string out;
  out.reserve(text.size() + text.size() * 3 / 4 + 16);
  const auto& table = escapedUtf8();
  char utf8[3 * kPiece + 1];  // three bytes a character at worst, and the fourth of the last copy
  scrambleInPieces(text, keyBytes, Stepping::Jump, [&](const unsigned char* raw, std::size_t n) {
    char* end = utf8;
    for (std::size_t i = 0; i < n; ++i) {
      const EscapedUtf8& entry = table[raw[i]];
      std::memcpy(end, &entry, 4);
      end += entry.size;
    }
    out.append(utf8, static_cast<std::size_t>(end - utf8));
  });
  return out;
}

}  // namespace qmx
