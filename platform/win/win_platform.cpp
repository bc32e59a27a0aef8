// The connected state, message boxes, character sets and password hashes of
// the Windows platform. Files are in win_files.cpp, the registry in
// win_registry.cpp, HTTP in winhttp_session.cpp.
#include "platform/win/win_platform.h"

#include <windows.h>
#include <wininet.h>

#include <charconv>

#include "base/ascii_text.h"
#include "password/password_hash.h"
#include "platform/win/win_text.h"

namespace qmx {
namespace {

// The code page of a character set name, as the IANA names and the usual
// aliases spell it; 0 when unknown here.
UINT codePageOf(std::string_view charset) {
  const std::string name = lowerAscii(trimmed(charset));
  struct Alias {
    const char* name;
    UINT codePage;
  };
  static constexpr Alias kAliases[] = {
      {"us-ascii", 20127},    {"ascii", 20127},       {"iso-8859-1", 28591}, {"latin1", 28591},
      {"iso-8859-2", 28592},  {"iso-8859-3", 28593},  {"iso-8859-4", 28594}, {"iso-8859-5", 28595},
      {"iso-8859-6", 28596},  {"iso-8859-7", 28597},  {"iso-8859-8", 28598}, {"iso-8859-9", 28599},
      {"iso-8859-13", 28603}, {"iso-8859-15", 28605}, {"koi8-r", 20866},     {"koi8-u", 21866},
      {"shift_jis", 932},     {"shift-jis", 932},     {"sjis", 932},         {"euc-jp", 20932},
      {"iso-2022-jp", 50220}, {"gb2312", 936},        {"gbk", 936},          {"gb18030", 54936},
      {"big5", 950},          {"euc-kr", 949},        {"ks_c_5601-1987", 949}, {"utf-7", 65000},
      {"macintosh", 10000},   {"ibm437", 437},        {"ibm850", 850},       {"ibm866", 866},
  };
  for (const Alias& a : kAliases)
    if (name == a.name) return a.codePage;
  // "windows-1251", "cp1251", "ibm852", "x-cp1250": the number is the code page.
  for (std::string_view prefix : {"windows-", "x-cp", "cp", "ibm"}) {
    if (name.rfind(prefix, 0) != 0) continue;
    UINT number = 0;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    const auto [end, ec] = std::from_chars(first, last, number);
    if (ec == std::errc() && end == last && first != last) return number;
  }
  return 0;
}

}  // namespace

WinPlatform::WinPlatform(MessageHandler onMessage) : onMessage_(std::move(onMessage)) {}

std::optional<std::uint32_t> WinPlatform::queryConnectedState() {
  INTERNET_CONNECTED_INFO info{};
  DWORD size = sizeof info;
  if (!::InternetQueryOptionA(nullptr, INTERNET_OPTION_CONNECTED_STATE, &info, &size)) return std::nullopt;
  return info.dwConnectedState;
}

bool WinPlatform::setConnectedState(std::uint32_t state, std::uint32_t flags) {
  INTERNET_CONNECTED_INFO info{state, flags};
  return ::InternetSetOptionA(nullptr, INTERNET_OPTION_CONNECTED_STATE, &info, sizeof info) != FALSE;
}

void WinPlatform::messageBox(const std::string& text) {
  struct Shown {
    int& count;
    explicit Shown(int& c) : count(++c) {}
    ~Shown() { --count; }
  } shown(messagesShown_);
  if (onMessage_) {
    onMessage_(text);
    return;
  }
  const HWND owner = ownerWindow_ ? ownerWindow_() : nullptr;
  // No caption and no icon, OK only: the text is all the user is told.
  ::MessageBoxW(owner, win::widen(text).c_str(), nullptr, MB_OK | (owner ? 0u : MB_TASKMODAL));
}

std::optional<std::string> WinPlatform::decodeCharset(std::string_view bytes, std::string_view charset) {
  const UINT codePage = codePageOf(charset);
  if (codePage == 0 || !::IsValidCodePage(codePage)) return std::nullopt;
  if (bytes.empty()) return std::string();
  // Without MB_ERR_INVALID_CHARS an undecodable byte becomes U+FFFD (or the
  // code page's own default character) instead of failing the whole text.
  const int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  return win::narrow(wide);
}

std::string WinPlatform::hashPassword(std::string_view password) { return password::hashPassword(password); }

bool WinPlatform::isPasswordHash(std::string_view text) { return password::isPasswordHash(text); }

bool WinPlatform::passwordMatchesHash(std::string_view password, std::string_view storedHash) {
  return password::passwordMatchesHash(password, storedHash);
}

}  // namespace qmx
