#pragma once
// Holds off Ctrl+C and Ctrl+Break while a file is not whole, and makes the
// closing of the console, logoff and shutdown wait (as long as the system
// lets them) until it is. Shared by the Windows implementation files only.

namespace quillmote::rt::windows {

class HeldInterrupts {
 public:
  HeldInterrupts();
  // Lets the interrupts through: one that arrived meanwhile ends the process
  // now, with the status Ctrl+C gives.
  ~HeldInterrupts();
  HeldInterrupts(const HeldInterrupts&) = delete;
  HeldInterrupts& operator=(const HeldInterrupts&) = delete;

  // True when an interrupt is waiting, so that work that can be abandoned
  // safely can stop early.
  bool StopRequested() const;
};

}  // namespace quillmote::rt::windows
