// Character set conversion through the C library's iconv.
#include <iconv.h>

#include <cerrno>

#include "platform/posix/iconv_charset.h"

namespace qmx::posix {

std::optional<std::string> iconvToUtf8(std::string_view bytes, std::string_view charset) {
  const std::string name(charset);
  iconv_t cd = ::iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;

  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  char buffer[16384];
  char* in = const_cast<char*>(bytes.data());  // iconv's interface is not const-correct
  std::size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* dst = buffer;
    std::size_t dstLeft = sizeof buffer;
    const std::size_t rc = ::iconv(cd, &in, &inLeft, &dst, &dstLeft);
    out.append(buffer, sizeof buffer - dstLeft);
    if (rc != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    out += kReplacement;
    if (errno == EILSEQ) {
      // Skip the byte that cannot start a character and go on after it.
      ++in;
      --inLeft;
    } else {
      break;  // EINVAL: a character cut off by the end of the body
    }
  }
  // Flush any shift state.
  char* dst = buffer;
  std::size_t dstLeft = sizeof buffer;
  ::iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  out.append(buffer, sizeof buffer - dstLeft);
  ::iconv_close(cd);
  return out;
}

}  // namespace qmx::posix
