#include "runtime/replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "runtime/errors.h"
#include "runtime/io_error.h"
#include "runtime/posix/unique_fd.h"

namespace quillmote::rt {

namespace {

using posix::UniqueFd;

// Big enough that each call moves a lot, small enough to keep memory flat.
constexpr std::size_t CopyBufferSize = 1 << 20;
constexpr ByteCount CopyChunk = ByteCount{64} << 20;

// Where the file really lives: symbolic links resolved, so that the link
// stays a link and the new content lands beside the file it points to.
struct Location {
  UniqueFd directory;
  std::string base;
};

Location Locate(const File& file) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(
      ::realpath(file.Name().c_str(), nullptr), &std::free);
  if (!resolved) RaiseOsInOutError(errno, file.Name());
  std::string path = resolved.get();
  const auto slash = path.find_last_of('/');
  const std::string directory = slash == 0 ? "/" : path.substr(0, slash);
  Location location{UniqueFd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
                    path.substr(slash + 1)};
  if (!location.directory) RaiseOsInOutError(errno, file.Name());
  return location;
}

struct stat StatusOf(int fd, const std::string& name) {
  struct stat status;
  if (::fstat(fd, &status) != 0) RaiseOsInOutError(errno, name);
  return status;
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Another process wrote to the file or put another file under its name.
[[noreturn]] void RaiseChanged(const std::string& name) {
  RaiseInOutError(EBUSY, "the file was changed by another process while it was rewritten", name);
}

void CheckUnchanged(const struct stat& before, const struct stat& now, const std::string& name) {
  if (before.st_dev != now.st_dev || before.st_ino != now.st_ino ||
      before.st_size != now.st_size || !SameTime(before.st_mtim, now.st_mtim) ||
      !SameTime(before.st_ctim, now.st_ctim)) {
    RaiseChanged(name);
  }
}

// Opening the file for writing is how we learn that we may change it: a file
// the user cannot write is never replaced, even in a writable directory.
UniqueFd OpenForWriting(const Location& location, const File& file, const struct stat& expected) {
  UniqueFd fd(::openat(location.directory.Get(), location.base.c_str(),
                       O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) RaiseOsInOutError(errno, file.Name());
  const struct stat status = StatusOf(fd.Get(), file.Name());
  if (status.st_dev != expected.st_dev || status.st_ino != expected.st_ino) {
    RaiseChanged(file.Name());
  }
  return fd;
}

// Unique among live processes; one left by a killed process is stepped over
// (EEXIST) by trying the next number.
std::string TemporaryName() {
  static unsigned counter = 0;
  char name[64];
  std::snprintf(name, sizeof name, ".quillmote-%d-%u.tmp", static_cast<int>(::getpid()), ++counter);
  return name;
}

// The new content, in the same directory as the file so that a rename can
// put it in place. Unnamed (O_TMPFILE) where the file system allows, so that
// nothing is left behind whatever happens to the process; otherwise a hidden
// name, removed again on every way out but a kill.
class TemporaryFile {
 public:
  explicit TemporaryFile(const Location& location) : directory_(location.directory.Get()) {
    fd_ = UniqueFd(::openat(directory_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd_) return;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      RaiseOsInOutError(errno, location.base);
    }
    for (;;) {
      std::string name = TemporaryName();
      fd_ = UniqueFd(::openat(directory_, name.c_str(),
                              O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (fd_) {
        name_ = std::move(name);
        return;
      }
      if (errno != EEXIST) RaiseOsInOutError(errno, location.base);
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!name_.empty()) ::unlinkat(directory_, name_.c_str(), 0);
  }

  int Fd() const { return fd_.Get(); }

  // Gives an unnamed file a name in the directory, so it can be renamed.
  void Link(const std::string& shown_name) {
    if (!name_.empty()) return;
    char proc_path[64];
    std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd_.Get());
    for (;;) {
      std::string name = TemporaryName();
      int result = ::linkat(AT_FDCWD, proc_path, directory_, name.c_str(), AT_SYMLINK_FOLLOW);
      if (result != 0 && errno == ENOENT) {
        // No /proc: the direct form needs privileges, but may be all we have.
        result = ::linkat(fd_.Get(), "", directory_, name.c_str(), AT_EMPTY_PATH);
      }
      if (result == 0) {
        name_ = std::move(name);
        return;
      }
      if (errno != EEXIST) RaiseOsInOutError(errno, shown_name);
    }
  }

  void Close(const std::string& shown_name) {
    if (const int error = fd_.Close(); error != 0) RaiseOsInOutError(error, shown_name);
  }

  void RenameOver(const Location& location, const std::string& shown_name) {
    if (::renameat(directory_, name_.c_str(), directory_, location.base.c_str()) != 0) {
      RaiseOsInOutError(errno, shown_name);
    }
    name_.clear();
  }

 private:
  int directory_;
  UniqueFd fd_;
  std::string name_;  // empty while unnamed, and after the rename
};

void WriteAll(int fd, const std::byte* data, std::size_t size, const std::string& name) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      RaiseOsInOutError(errno, name);
    }
    if (written == 0) RaiseOsInOutError(ENOSPC, name);
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

// copy_file_range refuses some pairs of files (other file systems, special
// file systems, old kernels); plain reads and writes do the rest.
bool CopyRangeUnsupported(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
         error == EBADF;
}

// Copies the bytes of `file` from `offset` to its end to the start of `out`.
void CopyTail(const File& file, ByteCount offset, int out) {
  const int in = static_cast<int>(file.Handle());
  loff_t in_offset = offset;
  loff_t out_offset = 0;
  bool copy_range = true;
  std::vector<std::byte> buffer;
  while (in_offset < file.Size()) {
    const ByteCount wanted = std::min(file.Size() - in_offset, CopyChunk);
    if (copy_range) {
      const ssize_t copied =
          ::copy_file_range(in, &in_offset, out, &out_offset, static_cast<std::size_t>(wanted), 0);
      if (copied > 0) continue;
      if (copied == 0) RaiseInOutError(static_cast<int>(IoCode::ReadBeyondEnd), {}, file.Name());
      if (errno == EINTR) continue;
      if (!CopyRangeUnsupported(errno)) RaiseOsInOutError(errno, file.Name());
      copy_range = false;
      if (::lseek(out, out_offset, SEEK_SET) < 0) RaiseOsInOutError(errno, file.Name());
    }
    if (buffer.empty()) buffer.resize(CopyBufferSize);
    const std::size_t count = file.ReadAt(
        std::span(buffer).first(static_cast<std::size_t>(std::min<ByteCount>(wanted, CopyBufferSize))),
        in_offset);
    if (count == 0) RaiseInOutError(static_cast<int>(IoCode::ReadBeyondEnd), {}, file.Name());
    WriteAll(out, buffer.data(), count, file.Name());
    in_offset += static_cast<loff_t>(count);
    out_offset += static_cast<loff_t>(count);
  }
}

// The new file takes the old one's owner, group and permission bits; the
// bits come last because a change of owner clears set-user-ID.
void CopyOwnerAndMode(int fd, const struct stat& original, const std::string& name) {
  const struct stat current = StatusOf(fd, name);
  if ((current.st_uid != original.st_uid || current.st_gid != original.st_gid) &&
      ::fchown(fd, original.st_uid, original.st_gid) != 0 && errno != EPERM) {
    RaiseOsInOutError(errno, name);
  }
  if (::fchmod(fd, original.st_mode & 07777) != 0) RaiseOsInOutError(errno, name);
}

}  // namespace

void ReplaceWithTail(const File& file, ByteCount offset) {
  const std::string& name = file.Name();
  const struct stat original = StatusOf(static_cast<int>(file.Handle()), name);
  const Location location = Locate(file);
  const UniqueFd writer = OpenForWriting(location, file, original);

  TemporaryFile temporary(location);
  CopyTail(file, offset, temporary.Fd());
  CopyOwnerAndMode(temporary.Fd(), original, name);
  if (::fsync(temporary.Fd()) != 0) RaiseOsInOutError(errno, name);

  CheckUnchanged(original, StatusOf(writer.Get(), name), name);
  temporary.Link(name);
  temporary.Close(name);
  temporary.RenameOver(location, name);
  // The rename itself must survive a power cut too.
  if (::fsync(location.directory.Get()) != 0) RaiseOsInOutError(errno, name);
}

}  // namespace quillmote::rt
