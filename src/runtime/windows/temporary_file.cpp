#include "runtime/windows/temporary_file.h"

#include <utility>

#include "runtime/io_error.h"

namespace quillmote::rt::windows {

namespace {

// Unique among live processes; one left by a killed process is stepped over
// by trying the next number.
std::wstring TemporaryName(unsigned& counter) {
  return L".quillmote-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L".tmp";
}

bool MarkForDeletion(HANDLE handle, bool mark) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = mark ? TRUE : FALSE;
  return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

}  // namespace

std::optional<TemporaryFile> TemporaryFile::CreateIn(const std::wstring& directory, const std::string& shown_name) {
  for (unsigned counter = 0;;) {
    std::wstring path = directory + L"\\" + TemporaryName(counter);
    UniqueHandle handle(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC, 0,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (handle) {
      // Where the file system cannot mark it, the destructor removes it by name.
      const bool delete_pending = MarkForDeletion(handle.Get(), true);
      return TemporaryFile(std::move(handle), std::move(path), delete_pending, shown_name);
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED) return std::nullopt;
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      RaiseOsInOutError(static_cast<int>(error), shown_name);
    }
  }
}

TemporaryFile::TemporaryFile(UniqueHandle handle, std::wstring path, bool delete_pending,
                             const std::string& shown_name)
    : handle_(std::move(handle)), path_(std::move(path)), delete_pending_(delete_pending), shown_name_(shown_name) {}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : handle_(std::move(other.handle_)),
      path_(std::exchange(other.path_, {})),
      delete_pending_(other.delete_pending_),
      shown_name_(std::move(other.shown_name_)) {}

TemporaryFile::~TemporaryFile() {
  // Best effort on the way out of an error: the error itself is reported.
  if (handle_ && delete_pending_) return;  // closing the handle removes it
  handle_.Close();
  if (!path_.empty()) ::DeleteFileW(path_.c_str());
}

void TemporaryFile::Close() {
  if (delete_pending_) {
    if (!MarkForDeletion(handle_.Get(), false)) RaiseOsInOutError(static_cast<int>(::GetLastError()), shown_name_);
    delete_pending_ = false;
  }
  if (const DWORD error = handle_.Close(); error != 0) RaiseOsInOutError(static_cast<int>(error), shown_name_);
}

}  // namespace quillmote::rt::windows
