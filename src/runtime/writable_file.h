#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "runtime/file.h"

namespace quillmote::rt {

// A file open for reading and writing, for changes made in place. Every
// operation either completes or raises EInOutError naming the file. Closing
// is checked too: Close() before the object goes away.
class WritableFile {
 public:
  WritableFile(NativeHandle handle, std::string name);
  WritableFile(const WritableFile&) = delete;
  WritableFile& operator=(const WritableFile&) = delete;
  ~WritableFile();

  const std::string& Name() const { return name_; }
  NativeHandle Handle() const { return handle_; }

  ByteCount CurrentSize() const;
  // Reads exactly buffer.size() bytes; a file that ends sooner has been cut
  // by someone else: ReadBeyondEnd.
  void ReadExactAt(std::span<std::byte> buffer, ByteCount offset) const;
  // Writes all bytes; `on_progress(end)` learns how far the file has been
  // overwritten after every partial write, so that a failure can be undone.
  template <typename Progress>
  void WriteAllAt(std::span<const std::byte> bytes, ByteCount offset, Progress&& on_progress) {
    while (!bytes.empty()) {
      const std::size_t written = WriteSomeAt(bytes, offset);
      bytes = bytes.subspan(written);
      offset += static_cast<ByteCount>(written);
      on_progress(offset);
    }
  }
  void Truncate(ByteCount size);
  // Flushes the content (and what is needed to read it back) to stable storage.
  void FlushData();
  void Close();

 private:
  std::size_t WriteSomeAt(std::span<const std::byte> bytes, ByteCount offset);

  NativeHandle handle_;
  std::string name_;
};

}  // namespace quillmote::rt
