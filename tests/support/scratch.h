#pragma once
// A private directory for one test, and helpers for the bytes of its files.

#include <filesystem>
#include <string>
#include <string_view>

namespace support {

inline const std::string Bom = "\xEF\xBB\xBF";

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The full name of `name` inside the directory, in UTF-8 (what the tool
  // takes on every system).
  std::string operator/(std::string_view name) const;
  // Names of the entries, sorted: shows any file left behind.
  std::string Listing() const;

 private:
  std::filesystem::path path_;
};

// A UTF-8 name as std::filesystem takes it: its narrow strings are in the
// ANSI code page on Windows.
inline std::filesystem::path PathOf(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

void WriteFile(const std::string& path, std::string_view bytes);
std::string ReadFile(const std::string& path);

}  // namespace support
