#pragma once
// Holds off the signals that ask a process to stop (SIGINT, SIGTERM, SIGHUP)
// while a file is not whole. Shared by the POSIX implementation files only.

#include <signal.h>

namespace quillmote::rt::posix {

class HeldSignals {
 public:
  HeldSignals();
  // Lets the held signals through; one that arrived meanwhile takes effect.
  ~HeldSignals();
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

  // True when a held signal that would end the process is waiting, so that
  // work that can be abandoned safely can stop early.
  bool StopRequested() const;

 private:
  sigset_t held_{};
  sigset_t previous_{};
};

}  // namespace quillmote::rt::posix
