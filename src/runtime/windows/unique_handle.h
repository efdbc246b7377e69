#pragma once
// Owns a Win32 handle. Shared by the Windows implementation files only.

#include <windows.h>

#include <utility>

#include "runtime/file.h"

namespace quillmote::rt::windows {

inline HANDLE ToHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }
inline NativeHandle ToNative(HANDLE handle) { return reinterpret_cast<NativeHandle>(handle); }

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle == nullptr ? INVALID_HANDLE_VALUE : handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }

  HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

  // Closes the handle; returns the error of a failed CloseHandle, else 0.
  // Only handles we wrote through need their close checked.
  DWORD Close() {
    if (handle_ == INVALID_HANDLE_VALUE) return 0;
    return ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) ? 0 : ::GetLastError();
  }

 private:
  void Reset() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace quillmote::rt::windows
