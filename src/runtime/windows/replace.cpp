#include "runtime/replace.h"

#include <windows.h>

#include <optional>
#include <utility>
#include <vector>

#include "runtime/errors.h"
#include "runtime/io_error.h"
#include "runtime/shift_in_place.h"
#include "runtime/windows/handle_io.h"
#include "runtime/windows/held_interrupts.h"
#include "runtime/windows/temporary_file.h"
#include "runtime/windows/unique_handle.h"
#include "runtime/windows/wide.h"
#include "runtime/writable_file.h"

namespace quillmote::rt {

namespace {

using windows::HeldInterrupts;
using windows::TemporaryFile;
using windows::UniqueHandle;

constexpr std::size_t CopyBufferSize = 1 << 20;

[[noreturn]] void RaiseError(DWORD error, const std::string& name) {
  RaiseOsInOutError(static_cast<int>(error), name);
}
[[noreturn]] void RaiseLastError(const std::string& name) { RaiseError(::GetLastError(), name); }

// Which file it is, and the marks that any change to it leaves.
struct Snapshot {
  DWORD volume = 0;
  DWORD index_high = 0;
  DWORD index_low = 0;
  DWORD links = 0;
  DWORD attributes = 0;
  ByteCount size = 0;
  LARGE_INTEGER creation{};
  LARGE_INTEGER last_write{};
  LARGE_INTEGER change{};
};

Snapshot SnapshotOf(HANDLE handle, const std::string& name) {
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  if (!::GetFileInformationByHandle(handle, &info) ||
      !::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
    RaiseLastError(name);
  }
  Snapshot snapshot;
  snapshot.volume = info.dwVolumeSerialNumber;
  snapshot.index_high = info.nFileIndexHigh;
  snapshot.index_low = info.nFileIndexLow;
  snapshot.links = info.nNumberOfLinks;
  snapshot.attributes = basic.FileAttributes;
  snapshot.size = static_cast<ByteCount>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  snapshot.creation = basic.CreationTime;
  snapshot.last_write = basic.LastWriteTime;
  snapshot.change = basic.ChangeTime;
  return snapshot;
}

bool SameVersion(const Snapshot& a, const Snapshot& b) {
  return a.volume == b.volume && a.index_high == b.index_high && a.index_low == b.index_low &&
         a.size == b.size && a.last_write.QuadPart == b.last_write.QuadPart &&
         a.change.QuadPart == b.change.QuadPart;
}

struct Writer {
  UniqueHandle handle;
  // Whether we may delete the file, which taking its place needs.
  bool may_delete = false;
};

// Opening the file for writing is how we learn that we may change it. Our
// own read handle shut everybody out, us included, so it has been closed:
// the file must still be the one we examined.
Writer OpenForWriting(const std::string& name, const Snapshot& expected) {
  const std::wstring path = windows::Win32Path(name);
  const auto open = [&](DWORD access) {
    return UniqueHandle(::CreateFileW(path.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  };
  Writer writer{open(GENERIC_READ | GENERIC_WRITE | DELETE), true};
  if (!writer.handle && ::GetLastError() == ERROR_ACCESS_DENIED) {
    writer = Writer{open(GENERIC_READ | GENERIC_WRITE), false};
  }
  if (!writer.handle) RaiseLastError(name);
  if (!SameVersion(SnapshotOf(writer.handle.Get(), name), expected)) RaiseFileChanged(name);
  return writer;
}

// Where the file really lives: a symbolic link is followed, so that it stays
// a link and the new content lands beside the file it points to.
std::optional<std::wstring> FinalPath(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::nullopt;
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length);
  }
}

std::vector<std::byte> SecurityOf(HANDLE handle, SECURITY_INFORMATION what, const std::string& name) {
  std::vector<std::byte> descriptor(256);
  for (;;) {
    DWORD needed = 0;
    if (::GetKernelObjectSecurity(handle, what, descriptor.data(), static_cast<DWORD>(descriptor.size()), &needed)) {
      return descriptor;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) RaiseLastError(name);
    descriptor.resize(needed);
  }
}

PSID OwnerOf(std::vector<std::byte>& descriptor, const std::string& name) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!::GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted)) RaiseLastError(name);
  return owner;
}

bool SameDacl(std::vector<std::byte>& a, std::vector<std::byte>& b, const std::string& name) {
  const auto dacl = [&](std::vector<std::byte>& descriptor) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorDacl(descriptor.data(), &present, &list, &defaulted) ||
        !::GetSecurityDescriptorControl(descriptor.data(), &control, &revision)) {
      RaiseLastError(name);
    }
    const auto* bytes = reinterpret_cast<const std::byte*>(list);
    return std::pair(std::vector<std::byte>(bytes, bytes + (present && list != nullptr ? list->AclSize : 0)),
                     (control & SE_DACL_PROTECTED) != 0 && present);
  };
  return dacl(a) == dacl(b);
}

// The new file gets the original's access rules. ReplaceFileW carries them
// over too, where the file system lets it; doing it here keeps them where it
// does not, and shows before any copying when the owner cannot be kept. False
// then: only a change in place keeps the file what it was.
bool TakeSecurity(HANDLE from, HANDLE to, const std::string& name) {
  constexpr SECURITY_INFORMATION What = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  std::vector<std::byte> original = SecurityOf(from, What, name);
  std::vector<std::byte> created = SecurityOf(to, What, name);
  const PSID owner = OwnerOf(original, name);
  const PSID ours = OwnerOf(created, name);
  if (owner == nullptr || ours == nullptr || !::EqualSid(owner, ours)) return false;
  // Usually both inherit the same rules from the directory.
  if (SameDacl(original, created, name)) return true;
  if (!::SetKernelObjectSecurity(to, DACL_SECURITY_INFORMATION, original.data())) {
    if (::GetLastError() == ERROR_ACCESS_DENIED) return false;
    RaiseLastError(name);
  }
  return true;
}

// The original's creation time and attributes. The archive bit is set: the
// content has changed, and backups must learn of it.
void TakeBasicInfo(const Snapshot& original, HANDLE to, const std::string& name) {
  constexpr DWORD Kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                         FILE_ATTRIBUTE_TEMPORARY;
  FILE_BASIC_INFO basic{};  // times left at zero stay as they are
  basic.CreationTime = original.creation;
  basic.FileAttributes = (original.attributes & Kept) | FILE_ATTRIBUTE_ARCHIVE;
  if (!::SetFileInformationByHandle(to, FileBasicInfo, &basic, sizeof basic)) RaiseLastError(name);
}

// Copies bytes [offset, size) of `from` to the start of the empty file `to`.
void CopyTail(HANDLE from, ByteCount offset, ByteCount size, HANDLE to, const std::string& name,
              const HeldInterrupts& interrupts) {
  std::vector<std::byte> buffer(static_cast<std::size_t>(std::min<ByteCount>(CopyBufferSize, size - offset)));
  for (ByteCount in = offset; in < size;) {
    // The copy can simply be thrown away.
    if (interrupts.StopRequested()) {
      RaiseSystemInOutError(ERROR_OPERATION_ABORTED, OsErrorText(ERROR_OPERATION_ABORTED), name);
    }
    const auto wanted = std::span(buffer).first(static_cast<std::size_t>(std::min<ByteCount>(buffer.size(), size - in)));
    const std::size_t count = windows::ReadAt(from, wanted, in, name);
    if (count == 0) RaiseInOutError(static_cast<int>(IoCode::ReadBeyondEnd), name);
    windows::WriteAllAt(to, wanted.first(count), in - offset, name);
    in += static_cast<ByteCount>(count);
  }
}

// Errors of ReplaceFileW after which both files keep their names, and the
// file may still be changed in place.
bool ReplaceCannotHandle(DWORD error) {
  return error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_ACCESS_DENIED ||
         error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION;
}

// The crash-safe way: the new content goes into a new file beside the
// original, which takes the original's place in one step. ReplaceFileW keeps
// what makes the file itself (ACL, creation time, alternate data streams,
// short name, object ID). False when that would not keep the file what it was
// or ReplaceFileW cannot handle it; nothing has been changed then, and the
// writer may have been closed.
bool ReplaceByCopy(const std::string& name, Writer& writer, const Snapshot& original, ByteCount offset,
                   const HeldInterrupts& interrupts) {
  if (!writer.may_delete) return false;
  const std::optional<std::wstring> target = FinalPath(writer.handle.Get());
  if (!target) return false;
  std::optional<TemporaryFile> temporary = TemporaryFile::CreateIn(target->substr(0, target->find_last_of(L'\\')), name);
  if (!temporary || !TakeSecurity(writer.handle.Get(), temporary->Handle(), name)) return false;
  CopyTail(writer.handle.Get(), offset, original.size, temporary->Handle(), name, interrupts);
  TakeBasicInfo(original, temporary->Handle(), name);
  if (!::FlushFileBuffers(temporary->Handle())) RaiseLastError(name);
  temporary->Close();
  // ReplaceFileW opens the original itself, which our handle would shut out.
  if (const DWORD error = writer.handle.Close(); error != 0) RaiseError(error, name);

  if (::ReplaceFileW(target->c_str(), temporary->Path().c_str(), nullptr, 0, nullptr, nullptr)) {
    temporary->Replaced();
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT && ::GetFileAttributesW(target->c_str()) == INVALID_FILE_ATTRIBUTES &&
      ::GetLastError() == ERROR_FILE_NOT_FOUND) {
    // The original is gone but the new content did not take its name: the
    // new content is all there is now, so it must not be removed.
    if (::MoveFileExW(temporary->Path().c_str(), target->c_str(), MOVEFILE_WRITE_THROUGH)) {
      temporary->Replaced();
      return true;
    }
    const std::string kept = windows::Utf8FromUtf16(temporary->Path());
    temporary->Replaced();
    RaiseSystemInOutError(static_cast<int>(error), OsErrorText(static_cast<int>(error)) + "; the new content is in " + kept, name);
  }
  if (ReplaceCannotHandle(error)) return false;
  RaiseError(error, name);
}

}  // namespace

// ReplaceFileW and MoveFileExW(MOVEFILE_WRITE_THROUGH) return only once the
// change of name is on disk: nothing is left to flush afterwards.
struct Replacements::Pending {};

Replacements::Replacements() = default;
Replacements::~Replacements() = default;
void Replacements::Finish() {}

void Replacements::ReplaceWithTail(File file, ByteCount offset) {
  // First in, last out: an interrupt waits until the file is whole again.
  const HeldInterrupts interrupts;
  const std::string name = file.Name();
  const Snapshot original = SnapshotOf(windows::ToHandle(file.Handle()), name);
  { const File closed = std::move(file); }
  Writer writer = OpenForWriting(name, original);

  // A replacement would split hard links: such a file is changed where it lies.
  if (original.links == 1 && ReplaceByCopy(name, writer, original, offset, interrupts)) return;
  if (!writer.handle) writer = OpenForWriting(name, original);
  std::vector<std::byte> prefix(static_cast<std::size_t>(offset));
  if (windows::ReadAt(writer.handle.Get(), prefix, 0, name) != prefix.size()) {
    RaiseInOutError(static_cast<int>(IoCode::ReadBeyondEnd), name);
  }
  WritableFile in_place(windows::ToNative(writer.handle.Release()), name);
  ShiftDownInPlace(in_place, original.size, prefix);
  in_place.Close();
}

}  // namespace quillmote::rt
