#pragma once
// What the tool prints, as the end-to-end tests expect it.

#include <regex>
#include <string>
#include <string_view>

namespace support {

// The version the build configured, as a pattern that matches it literally.
inline std::string VersionPattern() {
  std::string pattern;
  for (char c : std::string_view(QUILLMOTE_VERSION)) {
    if (c == '.') pattern += '\\';
    pattern += c;
  }
  return pattern;
}

inline const std::regex BannerShape("quillmote " + VersionPattern() + " [^\r\n]*20[0-9][0-9][^\r\n]*\r\n");

// The module is the executable's file name: with its extension on Windows.
inline const std::regex ReportShape(
    "Exception (EFOpenError|EInOutError|EOutOfMemory) in module quillmote(\\.exe)? at [0-9A-F]{8}\\.\n"
    "[^\r\n]*\\.\r\n");

}  // namespace support
