#include "runtime/file.h"

#include <windows.h>

#include <utility>

#include "runtime/errors.h"
#include "runtime/io_error.h"
#include "runtime/windows/handle_io.h"
#include "runtime/windows/unique_handle.h"
#include "runtime/windows/wide.h"

namespace quillmote::rt {

namespace {

using windows::ToHandle;
using windows::UniqueHandle;

// Errors of CreateFileW that mean the name designates no file: silently skipped.
bool MeansAbsent(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:  // wildcards and other characters no name can hold
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:  // a drive without a disk
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_CANT_RESOLVE_FILENAME:  // a loop of symbolic links
      return true;
    default:
      return false;
  }
}

// Reserved names (NUL, CON, COM1, ...) resolve into the device namespace.
// They are skipped without being opened: opening a device can do things of
// its own, such as connecting to the server of a named pipe.
bool NamesDevice(const std::wstring& path) {
  wchar_t full[MAX_PATH];
  const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return false;  // too long to be a device name
  const std::wstring_view resolved(full, length);
  if (!resolved.starts_with(L"\\\\.\\")) return false;
  // \\.\C:\dir\file is a file, reached through the device namespace.
  const std::wstring_view rest = resolved.substr(4);
  return !(rest.size() > 2 && rest[1] == L':' && rest[2] == L'\\');
}

// Only asked when the open failed: a directory cannot be opened as a file.
bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

std::optional<File> File::OpenExistingForReading(const std::string& name) {
  const std::wstring path = windows::Win32Path(name);
  if (NamesDevice(path)) return std::nullopt;
  // No sharing: while we hold the file nobody else can open it, and a file
  // that another process holds open is refused to us.
  UniqueHandle handle(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) {
    const DWORD error = ::GetLastError();
    if (MeansAbsent(error) || IsDirectory(path)) return std::nullopt;
    RaiseFOpenError(name, OsErrorText(static_cast<int>(error)));
  }
  // Whatever the name, the handle tells: pipes, consoles and devices are skipped.
  if (::GetFileType(handle.Get()) != FILE_TYPE_DISK) return std::nullopt;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(handle.Get(), &size)) RaiseFOpenError(name, OsErrorText(static_cast<int>(::GetLastError())));
  return File(name, windows::ToNative(handle.Release()), size.QuadPart);
}

File::File(std::string name, NativeHandle handle, ByteCount size)
    : name_(std::move(name)), handle_(handle), size_(size) {}

File::File(File&& other) noexcept
    : name_(std::move(other.name_)),
      handle_(std::exchange(other.handle_, windows::ToNative(INVALID_HANDLE_VALUE))),
      size_(other.size_) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    UniqueHandle(ToHandle(std::exchange(handle_, std::exchange(other.handle_, windows::ToNative(INVALID_HANDLE_VALUE)))));
    name_ = std::move(other.name_);
    size_ = other.size_;
  }
  return *this;
}

// Nothing was written through this handle, so a failing close loses nothing.
File::~File() { UniqueHandle closer(ToHandle(handle_)); }

std::size_t File::ReadAt(std::span<std::byte> buffer, ByteCount offset) const {
  return windows::ReadAt(ToHandle(handle_), buffer, offset, name_);
}

}  // namespace quillmote::rt
