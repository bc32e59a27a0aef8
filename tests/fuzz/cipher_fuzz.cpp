// The cipher's jump-ahead must give exactly what drawing every skipped value
// gives, and scrambling the result (escape pairs resolved) with the same key
// must give the text back. Input: one byte choosing the key length (1 to 64),
// the key, then the text. Texts are capped so that the plain reference stays
// quick.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/automation_error.h"
#include "cipher/string_cipher.h"
#include "fuzz_check.h"

namespace {
constexpr std::size_t kMaxKey = 64;
constexpr std::size_t kMaxText = 256;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view rest = qmx::fuzz::asText(data + 1, size - 1);
  const std::size_t keyLength = std::min<std::size_t>(1 + data[0] % kMaxKey, rest.size());
  const std::string_view key = rest.substr(0, keyLength);
  const std::string_view text = rest.substr(keyLength, kMaxText);

  const std::string jumped = qmx::scrambleCodes(text, key, qmx::Stepping::Jump);
  const std::string drawn = qmx::scrambleCodes(text, key, qmx::Stepping::OneByOne);
  if (jumped != drawn) {
    qmx::fuzz::fail("jump and one-by-one differ",
                    {{"key", key}, {"text", text}, {"jump", jumped}, {"one by one", drawn}});
  }
  if (jumped.find('\0') != std::string::npos) qmx::fuzz::fail("scrambled text holds code 0");
  std::string back;
  try {
    back = qmx::resolveEscapePairs(qmx::scrambleCodes(qmx::resolveEscapePairs(jumped), key));
  } catch (const qmx::AutomationError& e) {
    qmx::fuzz::fail("scrambled text does not unscramble: " + std::string(e.what()), {{"scrambled", jumped}});
  }
  if (back != text) {
    qmx::fuzz::fail("unscrambling does not give the text back", {{"key", key}, {"text", text}, {"back", back}});
  }
  return 0;
}
