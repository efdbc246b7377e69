#include "support/windows/system.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

namespace support {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (length == 0) throw std::runtime_error("not UTF-8: " + std::string(utf8));
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length, nullptr, nullptr);
  return utf8;
}

std::string SystemMessage(unsigned long code) {
  wchar_t text[512];
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, static_cast<DWORD>(std::size(text)), nullptr);
  std::wstring_view message(text, length);
  while (!message.empty() && std::wstring_view(L"\r\n .").find(message.back()) != std::wstring_view::npos) {
    message.remove_suffix(1);
  }
  return Utf8(message);
}

std::string HostPath(std::string_view build_path) {
  using DosFileName = WCHAR*(CDECL*)(LPCSTR);
  const auto dos_file_name = reinterpret_cast<DosFileName>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (build_path.starts_with('/') && dos_file_name != nullptr) {
    WCHAR* dos = dos_file_name(std::string(build_path).c_str());
    if (dos == nullptr) throw std::runtime_error("no DOS name for " + std::string(build_path));
    const std::string path = Utf8(dos);
    ::HeapFree(::GetProcessHeap(), 0, dos);
    return path;
  }
  std::string path(build_path);
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

}  // namespace support
