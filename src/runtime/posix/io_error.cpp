#include "runtime/io_error.h"

#include <cerrno>
#include <cstring>

#include "runtime/errors.h"

namespace quillmote::rt {

namespace {

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
    default: return os_error;
  }
}

}  // namespace

std::string OsErrorText(int os_error) { return std::strerror(os_error); }

void RaiseOsInOutError(int os_error, std::string_view name) {
  RaiseInOutError(IoCodeFor(os_error), OsErrorText(os_error), name);
}

}  // namespace quillmote::rt
