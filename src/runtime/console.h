#pragma once

#include <string_view>

namespace quillmote::rt {

// Writes all of `text` to standard output at once, unbuffered, so that a
// failure shows here and not at some later flush. Raises EInOutError.
void WriteToStandardOutput(std::string_view text);

// Consumes one line of standard input, byte by byte so that whatever follows
// stays unread for whoever shares the descriptor. The line ends after a CR
// (together with an LF directly after it), at a 1A byte, or at the end of the
// input; a lone LF ends it only when the input is a terminal, which delivers
// Enter as LF. Raises EInOutError.
void ReadLineFromStandardInput();

}  // namespace quillmote::rt
