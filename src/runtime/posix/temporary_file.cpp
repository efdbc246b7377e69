#include "runtime/posix/temporary_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "runtime/io_error.h"

namespace quillmote::rt::posix {

namespace {

// Unique among live processes; one left by a killed process is stepped over
// (EEXIST) by trying the next number.
std::string TemporaryName(unsigned& counter) {
  char name[64];
  std::snprintf(name, sizeof name, ".quillmote-%d-%u.tmp", static_cast<int>(::getpid()), ++counter);
  return name;
}

bool DirectoryRefuses(int error) { return error == EACCES || error == EPERM; }

}  // namespace

std::optional<TemporaryFile> TemporaryFile::CreateIn(int directory, const std::string& shown_name) {
  UniqueFd fd(::openat(directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd) return TemporaryFile(directory, std::move(fd), {}, shown_name);
  if (DirectoryRefuses(errno)) return std::nullopt;
  // Older kernels and some file systems have no unnamed files.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) RaiseOsInOutError(errno, shown_name);

  for (unsigned counter = 0;;) {
    std::string name = TemporaryName(counter);
    fd = UniqueFd(::openat(directory, name.c_str(),
                           O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd) return TemporaryFile(directory, std::move(fd), std::move(name), shown_name);
    if (DirectoryRefuses(errno)) return std::nullopt;
    if (errno != EEXIST) RaiseOsInOutError(errno, shown_name);
  }
}

TemporaryFile::TemporaryFile(int directory, UniqueFd fd, std::string name,
                             const std::string& shown_name)
    : directory_(directory), fd_(std::move(fd)), name_(std::move(name)), shown_name_(shown_name) {}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : directory_(other.directory_),
      fd_(std::move(other.fd_)),
      name_(std::exchange(other.name_, {})),
      shown_name_(std::move(other.shown_name_)) {}

TemporaryFile::~TemporaryFile() {
  // Best effort on the way out of an error: the error itself is reported.
  if (!name_.empty()) ::unlinkat(directory_, name_.c_str(), 0);
}

void TemporaryFile::Link() {
  if (!name_.empty()) return;
  char proc_path[64];
  std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd_.Get());
  for (unsigned counter = 0;;) {
    std::string name = TemporaryName(counter);
    int result = ::linkat(AT_FDCWD, proc_path, directory_, name.c_str(), AT_SYMLINK_FOLLOW);
    if (result != 0 && errno == ENOENT) {
      // No /proc: the direct form needs privileges, but may be all we have.
      result = ::linkat(fd_.Get(), "", directory_, name.c_str(), AT_EMPTY_PATH);
    }
    if (result == 0) {
      name_ = std::move(name);
      return;
    }
    if (errno != EEXIST) RaiseOsInOutError(errno, shown_name_);
  }
}

void TemporaryFile::Commit(const std::string& target) {
  Link();
  if (const int error = fd_.Close(); error != 0) RaiseOsInOutError(error, shown_name_);
  if (::renameat(directory_, name_.c_str(), directory_, target.c_str()) != 0) {
    RaiseOsInOutError(errno, shown_name_);
  }
  name_.clear();
}

}  // namespace quillmote::rt::posix
