#include "runtime/module.h"

#include <windows.h>

#include "runtime/windows/wide.h"

namespace quillmote::rt {

namespace {

std::string BaseName(const std::wstring& path) {
  const auto separator = path.find_last_of(L"\\/");
  return windows::Utf8FromUtf16(separator == std::wstring::npos ? path : path.substr(separator + 1));
}

std::wstring ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return L"quillmote.exe";
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // cut short: try again with more room
  }
}

}  // namespace

CodeLocation LocateCode(const void* address) {
  HMODULE module = nullptr;
  if (address != nullptr &&
      ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCWSTR>(address), &module)) {
    // A module's handle is its load address.
    return {BaseName(ModulePath(module)),
            reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(module)};
  }
  return {BaseName(ModulePath(nullptr)), 0};
}

}  // namespace quillmote::rt
