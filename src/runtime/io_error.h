#pragma once

#include <string>
#include <string_view>

namespace quillmote::rt {

// Raises EInOutError for the operating system's error code `os_error` (errno
// or a Win32 code), mapped onto the I/O codes; `name` is the file involved,
// empty when there is none.
[[noreturn]] void RaiseOsInOutError(int os_error, std::string_view name = {});

// The system's own description of `os_error`.
std::string OsErrorText(int os_error);

}  // namespace quillmote::rt
