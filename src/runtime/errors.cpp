#include "runtime/errors.h"

#include <cstdio>

namespace quillmote::rt {

std::string IoCodeText(int code) {
  switch (static_cast<IoCode>(code)) {
    case IoCode::FileNotFound: return "File not found";
    case IoCode::InvalidFileName: return "Invalid file name";
    case IoCode::TooManyOpenFiles: return "Too many open files";
    case IoCode::AccessDenied: return "File access denied";
    case IoCode::ReadBeyondEnd: return "Read beyond end of file";
    case IoCode::DiskFull: return "Disk full";
    case IoCode::InvalidNumericInput: return "Invalid numeric input";
  }
  return "I/O error " + std::to_string(code);
}

namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0.
std::size_t Utf8SequenceLength(std::string_view s) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  std::size_t length;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < length || byte(1) < lo || byte(1) > hi) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  // C1 controls (U+0080..U+009F) act on terminals like their 7-bit forms.
  if (lead == 0xC2 && byte(1) <= 0x9F) return 0;
  return length;
}

}  // namespace

std::string DisplayName(std::string_view name) {
  std::string shown;
  shown.reserve(name.size());
  while (!name.empty()) {
    const auto c = static_cast<unsigned char>(name.front());
    if (c >= 0x20 && c < 0x7F) {
      shown.push_back(static_cast<char>(c));
      name.remove_prefix(1);
      continue;
    }
    if (const std::size_t n = c >= 0x80 ? Utf8SequenceLength(name) : 0; n != 0) {
      shown.append(name.substr(0, n));
      name.remove_prefix(n);
      continue;
    }
    switch (c) {
      case '\n': shown += "\\n"; break;
      case '\r': shown += "\\r"; break;
      case '\t': shown += "\\t"; break;
      case 0x1B: shown += "\\033"; break;
      default: {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        shown += hex;
      }
    }
    name.remove_prefix(1);
  }
  return shown;
}

namespace {

std::string Quoted(std::string_view name) { return "\"" + DisplayName(name) + "\""; }

std::string WithName(std::string message, std::string_view name) {
  if (!name.empty()) message.append(": ").append(Quoted(name));
  return message;
}

}  // namespace

[[gnu::noinline]] void RaiseFOpenError(std::string_view name, std::string_view reason) {
  std::string message = "Cannot open file " + Quoted(name);
  if (!reason.empty()) message.append(". ").append(reason);
  throw EFOpenError(message, __builtin_return_address(0));
}

[[gnu::noinline]] void RaiseInOutError(int code, std::string_view name) {
  throw EInOutError(code, WithName(IoCodeText(code), name), __builtin_return_address(0));
}

[[gnu::noinline]] void RaiseSystemInOutError(int os_error, std::string_view description,
                                             std::string_view name) {
  std::string text = "I/O error " + std::to_string(os_error);
  if (!description.empty()) text.append(" (").append(description).append(")");
  throw EInOutError(os_error, WithName(std::move(text), name), __builtin_return_address(0));
}

[[gnu::noinline]] void RaiseOutOfMemory() { throw EOutOfMemory(__builtin_return_address(0)); }

[[gnu::noinline]] void RaiseFileChanged(std::string_view name) {
  // No system error says this; 0 keeps it apart from every code that has one.
  throw EInOutError(0,
                    WithName("The file was changed by another process while it was rewritten", name),
                    __builtin_return_address(0));
}

}  // namespace quillmote::rt
