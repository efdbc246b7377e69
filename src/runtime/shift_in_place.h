#pragma once

#include <cstddef>
#include <span>

#include "runtime/writable_file.h"

namespace quillmote::rt {

// Removes the file's first prefix.size() bytes, which must be `prefix`, by
// moving everything after them down and cutting the end: the file keeps its
// identity (hard links, attributes) where a replacement could not. `size` is
// the file's size when it was examined. If any step fails, the bytes moved so
// far are moved back and the prefix rewritten before the error goes on, so
// the file is left as it was; only a crash midway can leave it half-shifted.
void ShiftDownInPlace(WritableFile& file, ByteCount size, std::span<const std::byte> prefix);

}  // namespace quillmote::rt
