#pragma once
// What the tool prints, as the end-to-end tests expect it.

#include <regex>

namespace support {

inline const std::regex BannerShape("quillmote 1\\.0\\.0 [^\r\n]*20[0-9][0-9][^\r\n]*\r\n");

// The module is the executable's file name: with its extension on Windows.
inline const std::regex ReportShape(
    "Exception (EFOpenError|EInOutError|EOutOfMemory) in module quillmote(\\.exe)? at [0-9A-F]{8}\\.\n"
    "[^\r\n]*\\.\r\n");

}  // namespace support
