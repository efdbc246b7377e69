#pragma once
// The error classes of the tool. Nothing in the tool catches them: the first
// one raised ends the run through the top-level report (report.h).

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillmote::rt {

// Codes of EInOutError: the operating system's code for the failed call, or
// one of our own I/O codes (100 and above).
enum class IoCode : int {
  FileNotFound = 2,
  InvalidFileName = 3,
  TooManyOpenFiles = 4,
  AccessDenied = 5,
  ReadBeyondEnd = 100,
  DiskFull = 101,
  InvalidNumericInput = 106,
};

class Error : public std::runtime_error {
 public:
  Error(std::string_view class_name, const std::string& message, const void* raised_at)
      : std::runtime_error(message), class_name_(class_name), raised_at_(raised_at) {}

  std::string_view ClassName() const { return class_name_; }
  const void* RaisedAt() const { return raised_at_; }

 private:
  std::string_view class_name_;
  const void* raised_at_;
};

class EFOpenError : public Error {
 public:
  EFOpenError(const std::string& message, const void* raised_at)
      : Error("EFOpenError", message, raised_at) {}
};

class EInOutError : public Error {
 public:
  EInOutError(int code, const std::string& message, const void* raised_at)
      : Error("EInOutError", message, raised_at), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

class EOutOfMemory : public Error {
 public:
  explicit EOutOfMemory(const void* raised_at)
      : Error("EOutOfMemory", "Out of memory", raised_at) {}
};

// The text for an I/O code: its own text, or the general one with the number.
std::string IoCodeText(int code);

// A file name as it may be shown on a terminal: control characters and bytes
// that are not valid UTF-8 are escaped, so a crafted name cannot drive the
// terminal; every other name is shown as given.
std::string DisplayName(std::string_view name);

// The raisers record the code address they are called from, which the report
// shows; they are kept out of line so that this address is the caller's.
[[noreturn]] void RaiseFOpenError(std::string_view name, std::string_view reason);
// `name` is the file involved, empty when there is none.
[[noreturn]] void RaiseInOutError(int code, std::string_view name);
// An operating-system error that has no I/O code of its own: the general text
// with the system's number and description.
[[noreturn]] void RaiseSystemInOutError(int os_error, std::string_view description,
                                        std::string_view name);
[[noreturn]] void RaiseOutOfMemory();
// Another process changed the file, or put another file under its name, while
// we were rewriting it: we give way rather than lose its change.
[[noreturn]] void RaiseFileChanged(std::string_view name);

}  // namespace quillmote::rt
