#include "runtime/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "runtime/errors.h"
#include "runtime/io_error.h"
#include "runtime/posix/unique_fd.h"

namespace quillmote::rt {

namespace {

// Errors of open(2) that mean the name designates no file: silently skipped.
bool MeansAbsent(int error) { return error == ENOENT || error == ENOTDIR || error == ELOOP; }

// Only asked when the open failed: a device that refuses to open (ENXIO,
// EACCES) is skipped like any other special file.
bool MayBeRegularFile(const std::string& name) {
  struct stat status;
  return ::stat(name.c_str(), &status) != 0 || S_ISREG(status.st_mode);
}

// Errors of flock(2) from file systems that have no such locks; there the
// file is handled unlocked rather than not at all.
bool MeansNoLocking(int error) { return error == ENOLCK || error == EOPNOTSUPP || error == EINVAL; }

}  // namespace

std::optional<File> File::OpenExistingForReading(const std::string& name) {
  // O_NONBLOCK: a FIFO or a device must not hang us before fstat tells us
  // what it is. It changes nothing for a regular file.
  posix::UniqueFd fd(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    const int error = errno;
    if (MeansAbsent(error) || !MayBeRegularFile(name)) return std::nullopt;
    RaiseFOpenError(name, OsErrorText(error));
  }
  struct stat status;
  if (::fstat(fd.Get(), &status) != 0) RaiseFOpenError(name, OsErrorText(errno));
  if (!S_ISREG(status.st_mode)) return std::nullopt;

  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      RaiseFOpenError(name, "The file is in use by another process");
    }
    if (!MeansNoLocking(errno)) RaiseFOpenError(name, OsErrorText(errno));
  }
  return File(name, fd.Release(), status.st_size);
}

File::File(std::string name, NativeHandle handle, ByteCount size)
    : name_(std::move(name)), handle_(handle), size_(size) {}

File::File(File&& other) noexcept
    : name_(std::move(other.name_)), handle_(std::exchange(other.handle_, -1)), size_(other.size_) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    posix::UniqueFd(static_cast<int>(std::exchange(handle_, std::exchange(other.handle_, -1))));
    name_ = std::move(other.name_);
    size_ = other.size_;
  }
  return *this;
}

// Nothing was written through this descriptor, so a failing close loses
// nothing; the lock goes with it.
File::~File() { posix::UniqueFd closer(static_cast<int>(handle_)); }

std::size_t File::ReadAt(std::span<std::byte> buffer, ByteCount offset) const {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t count = ::pread(static_cast<int>(handle_), buffer.data() + done,
                                  buffer.size() - done, offset + static_cast<ByteCount>(done));
    if (count < 0) {
      if (errno == EINTR) continue;
      RaiseOsInOutError(errno, name_);
    }
    if (count == 0) break;
    done += static_cast<std::size_t>(count);
  }
  return done;
}

}  // namespace quillmote::rt
