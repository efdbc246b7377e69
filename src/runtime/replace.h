#pragma once

#include "runtime/file.h"

namespace quillmote::rt {

// Replaces the content of `file` by its bytes from `offset` to the end. The
// file's name holds the whole old or the whole new content at every instant,
// and the file keeps its permissions, owner and group. Raises EInOutError,
// with the file left as it was, when it cannot be done. Takes the file over:
// where an open file shuts out every other opener (Windows), it must be
// closed before the file can be opened for writing.
void ReplaceWithTail(File file, ByteCount offset);

}  // namespace quillmote::rt
