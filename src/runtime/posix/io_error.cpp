#include "runtime/io_error.h"

#include <cerrno>
#include <cstring>

#include "runtime/errors.h"

namespace quillmote::rt {

namespace {

// The I/O code that has the meaning of `os_error`, or 0.
int IoCodeFor(int os_error) {
  switch (os_error) {
    case ENOENT: return static_cast<int>(IoCode::FileNotFound);
    case ENAMETOOLONG: return static_cast<int>(IoCode::InvalidFileName);
    case EMFILE:
    case ENFILE: return static_cast<int>(IoCode::TooManyOpenFiles);
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: return static_cast<int>(IoCode::AccessDenied);
    case ENOSPC:
    case EDQUOT: return static_cast<int>(IoCode::DiskFull);
    default: return 0;
  }
}

}  // namespace

std::string OsErrorText(int os_error) { return std::strerror(os_error); }

void RaiseOsInOutError(int os_error, std::string_view name) {
  if (const int code = IoCodeFor(os_error); code != 0) RaiseInOutError(code, name);
  RaiseSystemInOutError(os_error, OsErrorText(os_error), name);
}

}  // namespace quillmote::rt
