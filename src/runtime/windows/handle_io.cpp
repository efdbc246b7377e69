#include "runtime/windows/handle_io.h"

#include <algorithm>

#include "runtime/io_error.h"

namespace quillmote::rt::windows {

namespace {

// One call moves at most this much: the counts are 32-bit.
constexpr std::size_t MaxTransfer = std::size_t{1} << 30;

OVERLAPPED At(ByteCount offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  where.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return where;
}

}  // namespace

std::size_t ReadAt(HANDLE handle, std::span<std::byte> buffer, ByteCount offset,
                   const std::string& shown_name) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    OVERLAPPED where = At(offset + static_cast<ByteCount>(done));
    DWORD count = 0;
    const auto wanted = static_cast<DWORD>(std::min(buffer.size() - done, MaxTransfer));
    if (!::ReadFile(handle, buffer.data() + done, wanted, &count, &where)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      RaiseOsInOutError(static_cast<int>(error), shown_name);
    }
    if (count == 0) break;
    done += count;
  }
  return done;
}

std::size_t WriteSomeAt(HANDLE handle, std::span<const std::byte> bytes, ByteCount offset,
                        const std::string& shown_name) {
  OVERLAPPED where = At(offset);
  DWORD count = 0;
  const auto wanted = static_cast<DWORD>(std::min(bytes.size(), MaxTransfer));
  if (!::WriteFile(handle, bytes.data(), wanted, &count, &where)) {
    RaiseOsInOutError(static_cast<int>(::GetLastError()), shown_name);
  }
  // A file write that takes nothing and says nothing: treat it as the disk
  // being full rather than loop.
  if (count == 0) RaiseOsInOutError(ERROR_HANDLE_DISK_FULL, shown_name);
  return count;
}

void WriteAllAt(HANDLE handle, std::span<const std::byte> bytes, ByteCount offset,
                const std::string& shown_name) {
  while (!bytes.empty()) {
    const std::size_t written = WriteSomeAt(handle, bytes, offset, shown_name);
    bytes = bytes.subspan(written);
    offset += static_cast<ByteCount>(written);
  }
}

ByteCount SizeOf(HANDLE handle, const std::string& shown_name) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(handle, &size)) RaiseOsInOutError(static_cast<int>(::GetLastError()), shown_name);
  return size.QuadPart;
}

}  // namespace quillmote::rt::windows
