#include "runtime/replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "runtime/errors.h"
#include "runtime/io_error.h"
#include "runtime/posix/copy_tail.h"
#include "runtime/posix/held_signals.h"
#include "runtime/posix/metadata.h"
#include "runtime/posix/temporary_file.h"
#include "runtime/posix/unique_fd.h"
#include "runtime/shift_in_place.h"
#include "runtime/writable_file.h"

namespace quillmote::rt {

namespace {

using posix::HeldSignals;
using posix::TemporaryFile;
using posix::UniqueFd;

// Where the file really lives: a symbolic link is followed, so that it stays
// a link and the new content lands beside the file it points to.
struct Location {
  UniqueFd directory;
  std::string base;
};

std::string FinalPath(const std::string& name) {
  struct stat status;
  if (::lstat(name.c_str(), &status) != 0) RaiseOsInOutError(errno, name);
  if (!S_ISLNK(status.st_mode)) return name;  // the common case: no need to resolve
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(name.c_str(), nullptr),
                                                              &std::free);
  if (!resolved) RaiseOsInOutError(errno, name);
  return resolved.get();
}

Location Locate(const File& file) {
  const std::string path = FinalPath(file.Name());
  const auto slash = path.find_last_of('/');
  const std::string directory =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  Location location{UniqueFd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
                    slash == std::string::npos ? path : path.substr(slash + 1)};
  if (!location.directory) RaiseOsInOutError(errno, file.Name());
  return location;
}

struct stat StatusOf(int fd, const std::string& shown_name) {
  struct stat status;
  if (::fstat(fd, &status) != 0) RaiseOsInOutError(errno, shown_name);
  return status;
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A writer that ignores our lock still leaves its mark on these.
void CheckUnchanged(const struct stat& before, int fd, const std::string& shown_name) {
  const struct stat now = StatusOf(fd, shown_name);
  if (!SameFile(before, now) || before.st_size != now.st_size ||
      !SameTime(before.st_mtim, now.st_mtim) || !SameTime(before.st_ctim, now.st_ctim)) {
    RaiseFileChanged(shown_name);
  }
}

// Opening the file for writing is how we learn that we may change it: a file
// the user cannot write is never replaced, even in a writable directory.
UniqueFd OpenForWriting(const Location& location, const struct stat& expected,
                        const std::string& shown_name) {
  UniqueFd fd(::openat(location.directory.Get(), location.base.c_str(),
                       O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) RaiseOsInOutError(errno, shown_name);
  if (!SameFile(StatusOf(fd.Get(), shown_name), expected)) RaiseFileChanged(shown_name);
  return fd;
}

// The crash-safe way: the new content goes to a new file that is renamed
// over the name. False when that would not keep the file what it was (the
// directory refuses new files, or the owner, group or an attribute cannot
// be reproduced); nothing has been changed then. The directory still has to
// be flushed for the rename to last.
bool ReplaceByRename(const File& file, ByteCount offset, const Location& location,
                     const struct stat& original, int writer, const HeldSignals& signals) {
  const std::string& name = file.Name();
  std::optional<TemporaryFile> temporary = TemporaryFile::CreateIn(location.directory.Get(), name);
  if (!temporary || !posix::TakeOwnerAndGroup(temporary->Fd(), original, name)) return false;
  posix::CopyTail(file, offset, temporary->Fd(), signals);
  if (!posix::TakeAttributesAndMode(static_cast<int>(file.Handle()), original, temporary->Fd(), name)) {
    return false;
  }
  if (::fsync(temporary->Fd()) != 0) RaiseOsInOutError(errno, name);
  CheckUnchanged(original, writer, name);
  temporary->Commit(location.base);
  return true;
}

}  // namespace

// The directory of the last renames, not yet flushed, and the file whose
// rename it holds last (named in an error).
struct Replacements::Pending {
  UniqueFd directory;
  dev_t device = 0;
  ino_t inode = 0;
  std::string shown_name;

  void Flush() {
    if (!directory) return;
    const int fd = directory.Get();
    const UniqueFd closer = std::move(directory);
    if (::fsync(fd) != 0) RaiseOsInOutError(errno, shown_name);
  }
};

Replacements::Replacements() : pending_(std::make_unique<Pending>()) {}

Replacements::~Replacements() {
  try {
    pending_->Flush();
  } catch (const Error&) {
    // An error is on its way out already; it is the one to report.
  }
}

void Replacements::Finish() { pending_->Flush(); }

void Replacements::ReplaceWithTail(File file, ByteCount offset) {
  // First in, last out: the stop signals wait until the file is whole again.
  const HeldSignals signals;
  const std::string& name = file.Name();
  const struct stat original = StatusOf(static_cast<int>(file.Handle()), name);
  Location location = Locate(file);
  // Moving on to another directory: the renames in the last one are made to
  // last before anything else changes.
  const struct stat directory = StatusOf(location.directory.Get(), name);
  if (pending_->directory && (pending_->device != directory.st_dev || pending_->inode != directory.st_ino)) {
    pending_->Flush();
  }
  UniqueFd writer = OpenForWriting(location, original, name);

  // A rename would split hard links: such a file is changed where it lies.
  if (original.st_nlink == 1 &&
      ReplaceByRename(file, offset, location, original, writer.Get(), signals)) {
    if (!pending_->directory) {
      *pending_ = Pending{std::move(location.directory), directory.st_dev, directory.st_ino, {}};
    }
    pending_->shown_name = name;
    return;
  }
  // Kept to put back should the shift fail midway.
  std::vector<std::byte> prefix(static_cast<std::size_t>(offset));
  if (file.ReadAt(prefix, 0) != prefix.size()) {
    RaiseInOutError(static_cast<int>(IoCode::ReadBeyondEnd), name);
  }
  CheckUnchanged(original, writer.Get(), name);
  WritableFile in_place(writer.Release(), name);
  ShiftDownInPlace(in_place, original.st_size, prefix);
  in_place.Close();
}

}  // namespace quillmote::rt
