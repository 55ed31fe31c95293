#pragma once
// Between Windows' wide strings (UTF-16) and the UTF-8 the engine keeps its texts, arguments
// and device paths in. Windows lets a name hold a surrogate without its partner; such a unit is
// carried as the three bytes generalised UTF-8 gives it, so that any wide string comes back
// unchanged from WideToUtf8 followed by Utf8ToWide (a device path the system listed is opened
// under exactly that name).
//
// Pure, and built on every system so that its tests run on both: each wchar_t holds one UTF-16
// code unit, as it does on Windows.

#include <string>
#include <string_view>

namespace tarvex {

std::string WideToUtf8(std::wstring_view wide);

// A byte that starts no well-formed sequence (a stray continuation byte, an overlong form, a
// value past U+10FFFF, a sequence cut short) becomes U+FFFD, one for each such byte.
std::wstring Utf8ToWide(std::string_view utf8);

}  // namespace tarvex
