#include "runtime/writable_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/errors.h"
#include "runtime/io_error.h"
#include "runtime/posix/unique_fd.h"

namespace quillmote::rt {

namespace {
int Fd(NativeHandle handle) { return static_cast<int>(handle); }
}  // namespace

WritableFile::WritableFile(NativeHandle handle, std::string name)
    : handle_(handle), name_(std::move(name)) {}

WritableFile::~WritableFile() { posix::UniqueFd closer(Fd(handle_)); }

ByteCount WritableFile::CurrentSize() const {
  struct stat status;
  if (::fstat(Fd(handle_), &status) != 0) RaiseOsInOutError(errno, name_);
  return status.st_size;
}

void WritableFile::ReadExactAt(std::span<std::byte> buffer, ByteCount offset) const {
  while (!buffer.empty()) {
    const ssize_t count = ::pread(Fd(handle_), buffer.data(), buffer.size(), offset);
    if (count < 0) {
      if (errno == EINTR) continue;
      RaiseOsInOutError(errno, name_);
    }
    if (count == 0) RaiseInOutError(static_cast<int>(IoCode::ReadBeyondEnd), name_);
    buffer = buffer.subspan(static_cast<std::size_t>(count));
    offset += count;
  }
}

std::size_t WritableFile::WriteSomeAt(std::span<const std::byte> bytes, ByteCount offset) {
  for (;;) {
    const ssize_t count = ::pwrite(Fd(handle_), bytes.data(), bytes.size(), offset);
    if (count > 0) return static_cast<std::size_t>(count);
    if (count == 0) RaiseOsInOutError(ENOSPC, name_);
    if (errno != EINTR) RaiseOsInOutError(errno, name_);
  }
}

void WritableFile::Truncate(ByteCount size) {
  while (::ftruncate(Fd(handle_), size) != 0) {
    if (errno != EINTR) RaiseOsInOutError(errno, name_);
  }
}

void WritableFile::FlushData() {
  if (::fdatasync(Fd(handle_)) != 0) RaiseOsInOutError(errno, name_);
}

void WritableFile::Close() {
  posix::UniqueFd fd(Fd(std::exchange(handle_, -1)));
  if (const int error = fd.Close(); error != 0) RaiseOsInOutError(error, name_);
}

}  // namespace quillmote::rt
