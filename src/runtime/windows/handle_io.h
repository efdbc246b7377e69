#pragma once
// Positioned reads and writes on a file handle. Shared by the Windows
// implementation files only.

#include <windows.h>

#include <cstddef>
#include <span>
#include <string>

#include "runtime/file.h"

namespace quillmote::rt::windows {

// Reads up to buffer.size() bytes at `offset`; returns fewer only at the end
// of the file. Raises EInOutError naming `shown_name`.
std::size_t ReadAt(HANDLE handle, std::span<std::byte> buffer, ByteCount offset,
                   const std::string& shown_name);

// Writes at least one byte of `bytes` at `offset`; returns how many.
std::size_t WriteSomeAt(HANDLE handle, std::span<const std::byte> bytes, ByteCount offset,
                        const std::string& shown_name);

void WriteAllAt(HANDLE handle, std::span<const std::byte> bytes, ByteCount offset,
                const std::string& shown_name);

ByteCount SizeOf(HANDLE handle, const std::string& shown_name);

}  // namespace quillmote::rt::windows
