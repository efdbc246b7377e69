#pragma once

#include <memory>

#include "runtime/file.h"

namespace quillmote::rt {

// The replacements of one run. A file's new content is on stable storage
// before it takes the file's name; where a name change becomes durable only
// once its directory is flushed, that flush waits until the run moves on to
// another directory or ends, since files given together mostly share one.
class Replacements {
 public:
  Replacements();
  Replacements(const Replacements&) = delete;
  Replacements& operator=(const Replacements&) = delete;
  // Flushes what is still pending, as far as it can: on the way out of an
  // error, which is the one reported.
  ~Replacements();

  // Replaces the content of `file` by its bytes from `offset` to the end.
  // The file's name holds the whole old or the whole new content at every
  // instant, and the file stays what it was (owner, permissions, attributes,
  // links). Raises EInOutError, with the file left as it was, when it cannot
  // be done. Takes the file over: where an open file shuts out every other
  // opener (Windows), it must be closed before it can be opened for writing.
  void ReplaceWithTail(File file, ByteCount offset);

  // Makes every replacement so far durable. Raises EInOutError.
  void Finish();

 private:
  struct Pending;  // what each OS still has to flush
  std::unique_ptr<Pending> pending_;
};

}  // namespace quillmote::rt
