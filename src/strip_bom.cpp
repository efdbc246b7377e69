#include "strip_bom.h"

#include <optional>
#include <utility>

#include "runtime/file.h"
#include "runtime/replace.h"

namespace quillmote {

void StripBom(const std::string& name) {
  std::optional<rt::File> file = rt::File::OpenExistingForReading(name);
  if (!file || file->Size() < MinStripSize) return;

  std::array<std::byte, Utf8Bom.size()> header{};
  if (file->ReadAt(header, 0) != header.size() || header != Utf8Bom) return;

  rt::ReplaceWithTail(std::move(*file), Utf8Bom.size());
}

}  // namespace quillmote
