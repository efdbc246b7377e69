#include "runtime/posix/copy_tail.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "runtime/errors.h"
#include "runtime/io_error.h"

namespace quillmote::rt::posix {

namespace {

// Plain reads and writes through a buffer that stays in the CPU's cache.
// copy_file_range cannot share blocks across a 3-byte shift, so it only
// copies in the kernel instead; on ext4 that measured some 25% slower than
// this loop, copy and flush together, and larger buffers slower still.
constexpr std::size_t BufferSize = 256 << 10;

// Every this many bytes the disk is set to work on what has been written, so
// that the final flush has less left to wait for.
constexpr ByteCount WritebackStep = ByteCount{32} << 20;

void WriteAll(int fd, std::span<const std::byte> bytes, const std::string& shown_name) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      RaiseOsInOutError(errno, shown_name);
    }
    if (written == 0) RaiseOsInOutError(ENOSPC, shown_name);
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
}

}  // namespace

void CopyTail(const File& file, ByteCount offset, int out, const HeldSignals& signals) {
  std::vector<std::byte> buffer(static_cast<std::size_t>(
      std::min<ByteCount>(BufferSize, std::max<ByteCount>(file.Size() - offset, 1))));
  ByteCount written_back = 0;  // bytes of `out` handed to the disk so far
  for (ByteCount at = offset; at < file.Size();) {
    // Every 64 MiB or so: the copy can simply be thrown away.
    if ((at - offset) % (ByteCount{256} * BufferSize) == 0 && signals.StopRequested()) {
      RaiseSystemInOutError(EINTR, std::strerror(EINTR), file.Name());
    }
    const auto wanted = static_cast<std::size_t>(std::min<ByteCount>(buffer.size(), file.Size() - at));
    const std::size_t count = file.ReadAt(std::span(buffer).first(wanted), at);
    // Shorter than it was when we looked: someone cut it.
    if (count == 0) RaiseInOutError(static_cast<int>(IoCode::ReadBeyondEnd), file.Name());
    WriteAll(out, std::span(buffer).first(count), file.Name());
    at += static_cast<ByteCount>(count);
    if (const ByteCount written = at - offset; written - written_back >= WritebackStep) {
      if (::sync_file_range(out, written_back, written - written_back, SYNC_FILE_RANGE_WRITE) != 0) {
        RaiseOsInOutError(errno, file.Name());
      }
      written_back = written;
    }
  }
}

}  // namespace quillmote::rt::posix
