#include "runtime/console.h"

#include <unistd.h>

#include <cerrno>

#include "runtime/io_error.h"

namespace quillmote::rt {

void WriteToStandardOutput(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(STDOUT_FILENO, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      RaiseOsInOutError(errno);
    }
    if (written == 0) RaiseOsInOutError(ENOSPC);
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

namespace {

// Reads one byte; false at the end of the input.
bool ReadByte(char& byte) {
  for (;;) {
    const ssize_t count = ::read(STDIN_FILENO, &byte, 1);
    if (count >= 0) return count == 1;
    if (errno != EINTR) RaiseOsInOutError(errno);
  }
}

}  // namespace

void ReadLineFromStandardInput() {
  const bool terminal = ::isatty(STDIN_FILENO) == 1;
  constexpr char CtrlZ = 0x1A;
  char byte;
  while (ReadByte(byte)) {
    if (byte == CtrlZ || (byte == '\n' && terminal)) return;
    if (byte != '\r') continue;
    // Peeking for the LF would block a terminal until the next key press.
    if (terminal || !ReadByte(byte) || byte == '\n') return;
    // Not an LF: hand it back where the input can be rewound (a file). A
    // pipe cannot take it back (ESPIPE), so there it stays consumed.
    if (::lseek(STDIN_FILENO, -1, SEEK_CUR) < 0 && errno != ESPIPE) RaiseOsInOutError(errno);
    return;
  }
}

}  // namespace quillmote::rt
