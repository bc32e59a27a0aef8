// Conversions between the control's UTF-8 text and the UTF-16 of the wide
// Windows calls, and the text of a Windows error code. Internal to the backend.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qmx::win {

// UTF-16 for a wide call; an invalid UTF-8 sequence becomes U+FFFD. Never fails.
std::wstring widen(std::string_view utf8);
// UTF-8 of UTF-16 text; an unpaired surrogate becomes U+FFFD. Never fails.
std::string narrow(std::wstring_view utf16);
// The system's message for an error code, from the module when one is named
// (WinHTTP's codes live in winhttp.dll), without the trailing line break;
// "error N" when there is none. Never fails.
std::string systemMessage(std::uint32_t code, const wchar_t* module = nullptr);

}  // namespace qmx::win
