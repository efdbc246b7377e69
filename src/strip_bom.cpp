#include "strip_bom.h"

#include <optional>
#include <utility>

#include "runtime/file.h"

namespace quillmote {

void StripBom(const std::string& name, rt::Replacements& replacements) {
  std::optional<rt::File> file = rt::File::OpenExistingForReading(name);
  if (!file || file->Size() < MinStripSize) return;

  std::array<std::byte, Utf8Bom.size()> header{};
  if (file->ReadAt(header, 0) != header.size() || header != Utf8Bom) return;

  replacements.ReplaceWithTail(std::move(*file), Utf8Bom.size());
}

void StripBom(const std::string& name) {
  rt::Replacements replacements;
  StripBom(name, replacements);
  replacements.Finish();
}

}  // namespace quillmote
