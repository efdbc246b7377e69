#include "runtime/writable_file.h"

#include <windows.h>

#include "runtime/errors.h"
#include "runtime/io_error.h"
#include "runtime/windows/handle_io.h"
#include "runtime/windows/unique_handle.h"

namespace quillmote::rt {

namespace {

using windows::ToHandle;

[[noreturn]] void RaiseLastError(const std::string& name) {
  RaiseOsInOutError(static_cast<int>(::GetLastError()), name);
}

}  // namespace

WritableFile::WritableFile(NativeHandle handle, std::string name)
    : handle_(handle), name_(std::move(name)) {}

WritableFile::~WritableFile() { windows::UniqueHandle closer(ToHandle(handle_)); }

ByteCount WritableFile::CurrentSize() const { return windows::SizeOf(ToHandle(handle_), name_); }

void WritableFile::ReadExactAt(std::span<std::byte> buffer, ByteCount offset) const {
  if (windows::ReadAt(ToHandle(handle_), buffer, offset, name_) != buffer.size()) {
    RaiseInOutError(static_cast<int>(IoCode::ReadBeyondEnd), name_);
  }
}

std::size_t WritableFile::WriteSomeAt(std::span<const std::byte> bytes, ByteCount offset) {
  return windows::WriteSomeAt(ToHandle(handle_), bytes, offset, name_);
}

void WritableFile::Truncate(ByteCount size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = size;
  if (!::SetFileInformationByHandle(ToHandle(handle_), FileEndOfFileInfo, &end, sizeof end)) {
    RaiseLastError(name_);
  }
}

void WritableFile::FlushData() {
  if (!::FlushFileBuffers(ToHandle(handle_))) RaiseLastError(name_);
}

void WritableFile::Close() {
  windows::UniqueHandle handle(ToHandle(std::exchange(handle_, windows::ToNative(INVALID_HANDLE_VALUE))));
  if (const DWORD error = handle.Close(); error != 0) RaiseOsInOutError(static_cast<int>(error), name_);
}

}  // namespace quillmote::rt
