#include "support/scratch.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

#include "support/windows/system.h"

namespace support {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  const fs::path base = fs::temp_directory_path();
  std::random_device random;
  for (int attempt = 0;; ++attempt) {
    const fs::path candidate = base / ("quillmote-test-" + std::to_string(random()));
    if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS || attempt == 100) {
      throw std::runtime_error("cannot create a scratch directory in " + Utf8(base.native()));
    }
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // Some tests make files read-only, which keeps them from being removed.
  for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
       it.increment(ignored)) {
    ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  fs::remove_all(path_, ignored);
}

std::string ScratchDir::operator/(std::string_view name) const {
  return Utf8((path_ / Wide(name)).native());
}

std::string ScratchDir::Listing() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path_)) names.push_back(Utf8(entry.path().filename().native()));
  std::sort(names.begin(), names.end());
  std::string listing;
  for (const auto& name : names) listing += name + "\n";
  return listing;
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(fs::path(Wide(path)), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(fs::path(Wide(path)), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace support
