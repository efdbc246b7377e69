#include "runtime/module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace quillmote::rt {

namespace {

std::string BaseName(std::string path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExecutablePath() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "quillmote";
}

}  // namespace

CodeLocation LocateCode(const void* address) {
  Dl_info info{};
  if (address != nullptr && ::dladdr(address, &info) != 0 && info.dli_fbase != nullptr) {
    // The loader names the main program by an empty string.
    std::string module = info.dli_fname != nullptr && info.dli_fname[0] != '\0'
                             ? info.dli_fname
                             : ExecutablePath();
    return {BaseName(std::move(module)),
            reinterpret_cast<std::uintptr_t>(address) -
                reinterpret_cast<std::uintptr_t>(info.dli_fbase)};
  }
  return {BaseName(ExecutablePath()), 0};
}

}  // namespace quillmote::rt
