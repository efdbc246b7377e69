#include "runtime/console.h"

#include <windows.h>

#include <algorithm>

#include "runtime/io_error.h"
#include "runtime/windows/wide.h"

namespace quillmote::rt {

namespace {

[[noreturn]] void RaiseLastError() { RaiseOsInOutError(static_cast<int>(::GetLastError())); }

HANDLE StandardHandle(DWORD which) {
  const HANDLE handle = ::GetStdHandle(which);
  if (handle == INVALID_HANDLE_VALUE) RaiseLastError();
  // A process started without this handle at all.
  if (handle == nullptr) RaiseOsInOutError(ERROR_INVALID_HANDLE);
  return handle;
}

// A console shows UTF-16; its code page may not hold the names we show.
void WriteToConsole(HANDLE console, std::string_view text) {
  const std::wstring wide = windows::Utf16FromUtf8(text);
  std::wstring_view rest = wide;
  while (!rest.empty()) {
    // Old consoles take at most 64 KiB per call; a pair of surrogates stays whole.
    std::size_t chunk = std::min<std::size_t>(rest.size(), 8192);
    if (chunk < rest.size() && rest[chunk - 1] >= 0xD800 && rest[chunk - 1] <= 0xDBFF) --chunk;
    DWORD written = 0;
    if (!::WriteConsoleW(console, rest.data(), static_cast<DWORD>(chunk), &written, nullptr)) RaiseLastError();
    if (written == 0) RaiseOsInOutError(ERROR_WRITE_FAULT);
    rest.remove_prefix(written);
  }
}

void WriteBytes(HANDLE out, std::string_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 20));
    if (!::WriteFile(out, text.data(), chunk, &written, nullptr)) RaiseLastError();
    if (written == 0) RaiseOsInOutError(ERROR_HANDLE_DISK_FULL);
    text.remove_prefix(written);
  }
}

// Reads one byte; false at the end of the input.
bool ReadByte(HANDLE in, char& byte) {
  DWORD count = 0;
  if (!::ReadFile(in, &byte, 1, &count, nullptr)) {
    const DWORD error = ::GetLastError();
    // The writing end of a pipe has gone: that is the end of the input.
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return false;
    RaiseOsInOutError(static_cast<int>(error));
  }
  return count == 1;
}

}  // namespace

void WriteToStandardOutput(std::string_view text) {
  const HANDLE out = StandardHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  if (::GetConsoleMode(out, &mode)) {
    WriteToConsole(out, text);
  } else {
    WriteBytes(out, text);
  }
}

void ReadLineFromStandardInput() {
  const HANDLE in = StandardHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  const bool console = ::GetConsoleMode(in, &mode) != 0;
  // A console in line mode hands over Enter as CR LF, the whole line at
  // once, so the LF can be read without waiting. Without line input Enter is
  // a lone CR, and looking for an LF would wait for the next key.
  const bool look_for_lf = !console || (mode & ENABLE_LINE_INPUT) != 0;
  constexpr char CtrlZ = 0x1A;
  char byte;
  while (ReadByte(in, byte)) {
    if (byte == CtrlZ) return;
    if (byte != '\r') continue;
    if (!look_for_lf || !ReadByte(in, byte) || byte == '\n') return;
    // Not an LF: hand it back where the input can be rewound (a file). A
    // pipe or a console cannot take it back, so there it stays consumed.
    if (::GetFileType(in) == FILE_TYPE_DISK) {
      LARGE_INTEGER back;
      back.QuadPart = -1;
      if (!::SetFilePointerEx(in, back, nullptr, FILE_CURRENT)) RaiseLastError();
    }
    return;
  }
}

}  // namespace quillmote::rt
