#pragma once
// What a new file must take over from the one it replaces. Shared by the
// POSIX implementation files only.

#include <sys/stat.h>

#include <string>

namespace quillmote::rt::posix {

// Gives `to` the owner and group of `original`. False when the process may
// not (the file belongs to someone else): then only an in-place change keeps
// the file what it was.
bool TakeOwnerAndGroup(int to, const struct stat& original, const std::string& shown_name);

// Gives `to` exactly the extended attributes of `from` (POSIX ACLs and
// security labels included), then its permission bits. Call after the last
// write to `to`, which would clear file capabilities and set-user-ID. False
// when some attribute cannot be reproduced.
bool TakeAttributesAndMode(int from, const struct stat& original, int to,
                           const std::string& shown_name);

}  // namespace quillmote::rt::posix
