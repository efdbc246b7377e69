#include "runtime/posix/held_signals.h"

#include <cerrno>

#include "runtime/io_error.h"

namespace quillmote::rt::posix {

namespace {
constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};
}  // namespace

HeldSignals::HeldSignals() {
  sigemptyset(&held_);
  for (const int signal : StopSignals) sigaddset(&held_, signal);
  if (const int error = ::pthread_sigmask(SIG_BLOCK, &held_, &previous_); error != 0) {
    RaiseOsInOutError(error);
  }
}

HeldSignals::~HeldSignals() {
  // Cannot fail with a valid `how` and set; nothing could be done about it here.
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

bool HeldSignals::StopRequested() const {
  sigset_t pending;
  if (::sigpending(&pending) != 0) return false;
  for (const int signal : StopSignals) {
    if (sigismember(&pending, signal) != 1 || sigismember(&previous_, signal) == 1) continue;
    // Blocked signals stay pending even when ignored (nohup): those must not
    // cut a copy short.
    struct sigaction action;
    if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) return true;
  }
  return false;
}

}  // namespace quillmote::rt::posix
