#include "runtime/posix/metadata.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "runtime/io_error.h"

namespace quillmote::rt::posix {

namespace {

// Errors that mean "this process may not reproduce that", not "broken".
bool MayNot(int error) {
  return error == EPERM || error == EACCES || error == ENOTSUP || error == EOPNOTSUPP;
}

std::vector<std::string> AttributeNames(int fd, const std::string& shown_name) {
  std::vector<char> list;
  for (;;) {
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0) {
      if (errno == ENOTSUP || errno == EOPNOTSUPP) return {};
      RaiseOsInOutError(errno, shown_name);
    }
    if (size == 0) return {};
    list.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::flistxattr(fd, list.data(), list.size());
    if (got >= 0) {
      list.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) RaiseOsInOutError(errno, shown_name);  // ERANGE: it grew meanwhile
  }
  std::vector<std::string> names;
  for (auto it = list.begin(); it != list.end();) {
    const auto end = std::find(it, list.end(), '\0');
    names.emplace_back(it, end);
    it = end == list.end() ? end : end + 1;
  }
  return names;
}

std::vector<char> AttributeValue(int fd, const std::string& attribute, const std::string& shown_name) {
  std::vector<char> value;
  for (;;) {
    const ssize_t size = ::fgetxattr(fd, attribute.c_str(), nullptr, 0);
    if (size < 0) RaiseOsInOutError(errno, shown_name);
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::fgetxattr(fd, attribute.c_str(), value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return value;
    }
    if (errno != ERANGE) RaiseOsInOutError(errno, shown_name);
  }
}

}  // namespace

bool TakeOwnerAndGroup(int to, const struct stat& original, const std::string& shown_name) {
  struct stat current;
  if (::fstat(to, &current) != 0) RaiseOsInOutError(errno, shown_name);
  if (current.st_uid == original.st_uid && current.st_gid == original.st_gid) return true;
  if (::fchown(to, original.st_uid, original.st_gid) == 0) return true;
  if (errno == EPERM) return false;
  RaiseOsInOutError(errno, shown_name);
}

bool TakeAttributesAndMode(int from, const struct stat& original, int to,
                           const std::string& shown_name) {
  const std::vector<std::string> wanted = AttributeNames(from, shown_name);
  for (const std::string& attribute : wanted) {
    const std::vector<char> value = AttributeValue(from, attribute, shown_name);
    if (::fsetxattr(to, attribute.c_str(), value.data(), value.size(), 0) != 0) {
      if (MayNot(errno)) return false;
      RaiseOsInOutError(errno, shown_name);
    }
  }
  // A new file may have inherited attributes (a directory's default ACL)
  // that the original does not have.
  for (const std::string& attribute : AttributeNames(to, shown_name)) {
    if (std::find(wanted.begin(), wanted.end(), attribute) != wanted.end()) continue;
    if (::fremovexattr(to, attribute.c_str()) != 0) {
      if (MayNot(errno)) return false;
      RaiseOsInOutError(errno, shown_name);
    }
  }
  // Last, since a change of owner clears set-user-ID; with an ACL, this also
  // sets its mask from the group bits, as the original's was.
  if (::fchmod(to, original.st_mode & 07777) != 0) RaiseOsInOutError(errno, shown_name);
  return true;
}

}  // namespace quillmote::rt::posix
