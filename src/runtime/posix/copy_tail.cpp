#include "runtime/posix/copy_tail.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "runtime/errors.h"
#include "runtime/io_error.h"

namespace quillmote::rt::posix {

namespace {

constexpr std::size_t BufferSize = 1 << 20;
// How much one call may move before a stop signal is looked for.
constexpr ByteCount Chunk = ByteCount{64} << 20;

// copy_file_range refuses some pairs of files (other file systems, special
// file systems, old kernels); plain reads and writes do the rest.
bool CopyRangeUnsupported(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
         error == EBADF;
}

void WriteAll(int fd, const std::byte* data, std::size_t size, const std::string& shown_name) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      RaiseOsInOutError(errno, shown_name);
    }
    if (written == 0) RaiseOsInOutError(ENOSPC, shown_name);
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

[[noreturn]] void RaiseFileCut(const File& file) {
  RaiseInOutError(static_cast<int>(IoCode::ReadBeyondEnd), file.Name());
}

}  // namespace

void CopyTail(const File& file, ByteCount offset, int out, const HeldSignals& signals) {
  const int in = static_cast<int>(file.Handle());
  loff_t in_offset = offset;
  loff_t out_offset = 0;
  bool copy_range = true;
  std::vector<std::byte> buffer;
  while (in_offset < file.Size()) {
    if (signals.StopRequested()) RaiseSystemInOutError(EINTR, std::strerror(EINTR), file.Name());
    const ByteCount wanted = std::min(file.Size() - in_offset, Chunk);
    if (copy_range) {
      const ssize_t copied =
          ::copy_file_range(in, &in_offset, out, &out_offset, static_cast<std::size_t>(wanted), 0);
      if (copied > 0) continue;
      if (copied == 0) RaiseFileCut(file);
      if (errno == EINTR) continue;
      if (!CopyRangeUnsupported(errno)) RaiseOsInOutError(errno, file.Name());
      copy_range = false;
      if (::lseek(out, out_offset, SEEK_SET) < 0) RaiseOsInOutError(errno, file.Name());
    }
    if (buffer.empty()) buffer.resize(BufferSize);
    const auto size = static_cast<std::size_t>(std::min<ByteCount>(wanted, BufferSize));
    const std::size_t count = file.ReadAt(std::span(buffer).first(size), in_offset);
    if (count == 0) RaiseFileCut(file);
    WriteAll(out, buffer.data(), count, file.Name());
    in_offset += static_cast<loff_t>(count);
    out_offset += static_cast<loff_t>(count);
  }
}

}  // namespace quillmote::rt::posix
