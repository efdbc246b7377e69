#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quillmote::rt {

using ByteCount = std::int64_t;

// The OS's handle for an open file (a descriptor, or a Win32 HANDLE).
using NativeHandle = std::intptr_t;

// An existing regular file, open for reading and shut to other writers while
// this object lives (no sharing). Move-only; closes on destruction.
class File {
 public:
  // Opens `name` for reading. Returns nothing when the name designates no
  // file, a directory or any other kind of non-regular file, which are all
  // skipped without opening them in a way that could block. Raises
  // EFOpenError when the file exists but cannot be opened or is in use.
  static std::optional<File> OpenExistingForReading(const std::string& name);

  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  const std::string& Name() const { return name_; }
  NativeHandle Handle() const { return handle_; }
  ByteCount Size() const { return size_; }

  // Reads up to buffer.size() bytes at `offset`; returns fewer only at the
  // end of the file. Raises EInOutError.
  std::size_t ReadAt(std::span<std::byte> buffer, ByteCount offset) const;

 private:
  File(std::string name, NativeHandle handle, ByteCount size);

  std::string name_;
  NativeHandle handle_;
  ByteCount size_;
};

}  // namespace quillmote::rt
