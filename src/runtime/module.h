#pragma once

#include <cstdint>
#include <string>

namespace quillmote::rt {

// Where a code address lies: the file name (without directory) of the module
// that holds it, and its distance from that module's load address.
struct CodeLocation {
  std::string module;
  std::uintptr_t offset = 0;
};

CodeLocation LocateCode(const void* address);

}  // namespace quillmote::rt
