#pragma once
// What the Windows tests need of the system beyond the portable support.

#include <string>
#include <string_view>

namespace support {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// The system's text for a Win32 error code, without the full stop and line
// break it ends with (as the tool shows it).
std::string SystemMessage(unsigned long code);

// A path of the build machine (what $<TARGET_FILE:...> gives) as this process
// reaches it. Under Wine the build's Unix paths lie on a drive of their own.
std::string HostPath(std::string_view build_path);

}  // namespace support
