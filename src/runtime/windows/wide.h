#pragma once
// Names cross between the portable code (UTF-8) and Win32 (UTF-16). Shared by
// the Windows implementation files only.

#include <string>
#include <string_view>

namespace quillmote::rt::windows {

// UTF-16 to UTF-8. NTFS names may hold unpaired surrogates, which no UTF-8
// string can express: they are encoded as their own three bytes (WTF-8), so
// that Utf16FromUtf8 gives back exactly the name the user gave.
std::string Utf8FromUtf16(std::wstring_view text);

// The inverse of Utf8FromUtf16. A byte that begins no sequence becomes
// U+FFFD; such a name cannot have come from the command line.
std::wstring Utf16FromUtf8(std::string_view text);

// `name` as Win32 file functions take it: UTF-16, and made absolute with the
// \\?\ prefix when it is too long for the MAX_PATH limit of older systems.
std::wstring Win32Path(std::string_view name);

}  // namespace quillmote::rt::windows
