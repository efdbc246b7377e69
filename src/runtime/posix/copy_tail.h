#pragma once
// Shared by the POSIX implementation files only.

#include "runtime/file.h"
#include "runtime/posix/held_signals.h"

namespace quillmote::rt::posix {

// Copies the bytes of `file` from `offset` to its end to the start of the
// empty file `out`, in chunks and with memory that does not grow with the
// file. Gives up (raising) when a stop signal is waiting, since the copy can
// simply be thrown away.
void CopyTail(const File& file, ByteCount offset, int out, const HeldSignals& signals);

}  // namespace quillmote::rt::posix
