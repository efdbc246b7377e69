#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "runtime/replace.h"

namespace quillmote {

// The UTF-8 encoding of U+FEFF.
inline constexpr std::array<std::byte, 3> Utf8Bom{std::byte{0xEF}, std::byte{0xBB}, std::byte{0xBF}};

// Files shorter than this are left alone, so a file that holds the mark and
// nothing else keeps it.
inline constexpr long long MinStripSize = 4;

// Removes one leading Utf8Bom from the named file, in place. Names of missing
// files, directories, special files, short files and files that do not begin
// with the mark are left untouched; a file without the mark is only read,
// never opened for writing. Raises an error (runtime/errors.h) on failure,
// with the file as it was. The files of one run share `replacements`.
void StripBom(const std::string& name, rt::Replacements& replacements);

// The same for a single file, made durable before it returns.
void StripBom(const std::string& name);

}  // namespace quillmote
