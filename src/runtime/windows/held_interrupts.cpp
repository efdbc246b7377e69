#include "runtime/windows/held_interrupts.h"

#include <windows.h>

#include <atomic>
#include <utility>

#include "runtime/io_error.h"

namespace quillmote::rt::windows {

namespace {

// The system calls the handler on a thread of its own.
std::atomic<bool> stop_requested{false};
HANDLE file_whole = nullptr;  // set when the file is whole again

BOOL WINAPI HoldInterrupt(DWORD event) {
  stop_requested = true;
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // Closing, logoff, shutdown: the process ends as soon as this returns.
  ::WaitForSingleObject(file_whole, INFINITE);
  return FALSE;
}

}  // namespace

HeldInterrupts::HeldInterrupts() {
  file_whole = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (file_whole == nullptr) RaiseOsInOutError(static_cast<int>(::GetLastError()));
  if (!::SetConsoleCtrlHandler(HoldInterrupt, TRUE)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(std::exchange(file_whole, nullptr));
    RaiseOsInOutError(static_cast<int>(error));
  }
}

HeldInterrupts::~HeldInterrupts() {
  ::SetEvent(file_whole);
  // Cannot fail for a handler that is installed; nothing could be done here anyway.
  ::SetConsoleCtrlHandler(HoldInterrupt, FALSE);
  if (stop_requested) ::ExitProcess(STATUS_CONTROL_C_EXIT);
  ::CloseHandle(std::exchange(file_whole, nullptr));
}

bool HeldInterrupts::StopRequested() const { return stop_requested; }

}  // namespace quillmote::rt::windows
