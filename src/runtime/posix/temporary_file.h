#pragma once
// The file that receives a file's new content before it is renamed over it.
// Shared by the POSIX implementation files only.

#include <optional>
#include <string>

#include "runtime/posix/unique_fd.h"

namespace quillmote::rt::posix {

// In the same directory as the file it will replace, so that a rename can
// put it in place. Unnamed (O_TMPFILE) where the file system allows, so that
// nothing is left behind whatever happens to the process; otherwise under a
// hidden name, removed again on every way out but a kill.
class TemporaryFile {
 public:
  // Nothing when the directory refuses new files (it is not writable).
  // `shown_name` is the file named in errors.
  static std::optional<TemporaryFile> CreateIn(int directory, const std::string& shown_name);

  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  int Fd() const { return fd_.Get(); }

  // Names the file, closes it and renames it over `target` in the same
  // directory: the one step at which the target's content changes.
  void Commit(const std::string& target);

 private:
  TemporaryFile(int directory, UniqueFd fd, std::string name, const std::string& shown_name);
  void Link();

  int directory_;
  UniqueFd fd_;
  std::string name_;  // empty while unnamed, and once renamed
  std::string shown_name_;
};

}  // namespace quillmote::rt::posix
