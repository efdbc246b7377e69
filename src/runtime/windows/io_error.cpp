#include "runtime/io_error.h"

#include <windows.h>

#include <iterator>

#include "runtime/errors.h"
#include "runtime/windows/wide.h"

namespace quillmote::rt {

namespace {

// The I/O code that has the meaning of `os_error`, or 0. Codes 2 to 5 are
// the Windows codes themselves.
int IoCodeFor(int os_error) {
  switch (os_error) {
    case ERROR_FILE_NOT_FOUND: return static_cast<int>(IoCode::FileNotFound);
    case ERROR_PATH_NOT_FOUND: return static_cast<int>(IoCode::InvalidFileName);
    case ERROR_TOO_MANY_OPEN_FILES: return static_cast<int>(IoCode::TooManyOpenFiles);
    case ERROR_ACCESS_DENIED: return static_cast<int>(IoCode::AccessDenied);
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL: return static_cast<int>(IoCode::DiskFull);
    default: return 0;
  }
}

}  // namespace

std::string OsErrorText(int os_error) {
  wchar_t text[512];
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(os_error), 0, text, static_cast<DWORD>(std::size(text)), nullptr);
  std::wstring_view message(text, length);
  // The system's texts end with a full stop and a line break; ours add their own.
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.remove_suffix(1);
  }
  return windows::Utf8FromUtf16(message);
}

void RaiseOsInOutError(int os_error, std::string_view name) {
  if (const int code = IoCodeFor(os_error); code != 0) RaiseInOutError(code, name);
  RaiseSystemInOutError(os_error, OsErrorText(os_error), name);
}

}  // namespace quillmote::rt
