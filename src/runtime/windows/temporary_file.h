#pragma once
// The file that receives a file's new content before it takes the file's
// place. Shared by the Windows implementation files only.

#include <windows.h>

#include <optional>
#include <string>

#include "runtime/windows/unique_handle.h"

namespace quillmote::rt::windows {

// In the same directory as the file it will replace, under a name of its
// own. While it is open it is marked for deletion, so that the system removes
// it whatever happens to the process; once closed, the destructor removes it
// unless Replaced() says it has taken the original's name.
class TemporaryFile {
 public:
  // Nothing when the directory refuses new files. `directory` is a full
  // path; `shown_name` is the file named in errors.
  static std::optional<TemporaryFile> CreateIn(const std::wstring& directory, const std::string& shown_name);

  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  HANDLE Handle() const { return handle_.Get(); }
  const std::wstring& Path() const { return path_; }

  // Takes back the deletion mark and closes the file, which can then be
  // opened by name (ReplaceFileW does).
  void Close();
  // The file now goes by another name: there is nothing left to remove.
  void Replaced() { path_.clear(); }

 private:
  TemporaryFile(UniqueHandle handle, std::wstring path, bool delete_pending, const std::string& shown_name);

  UniqueHandle handle_;
  std::wstring path_;
  bool delete_pending_;
  std::string shown_name_;
};

}  // namespace quillmote::rt::windows
