#include "runtime/windows/wide.h"

#include <windows.h>

#include <utility>

namespace quillmote::rt::windows {

namespace {

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t code) {
  const auto put = [&](char32_t byte) { out.push_back(static_cast<char>(byte)); };
  if (code < 0x80) {
    put(code);
  } else if (code < 0x800) {
    put(0xC0 | (code >> 6));
    put(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    put(0xE0 | (code >> 12));
    put(0x80 | ((code >> 6) & 0x3F));
    put(0x80 | (code & 0x3F));
  } else {
    put(0xF0 | (code >> 18));
    put(0x80 | ((code >> 12) & 0x3F));
    put(0x80 | ((code >> 6) & 0x3F));
    put(0x80 | (code & 0x3F));
  }
}

void AppendUtf16(std::wstring& out, char32_t code) {
  if (code < 0x10000) {
    out.push_back(static_cast<wchar_t>(code));
  } else {
    code -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
  }
}

// The code point of the sequence at the start of `text` and its length;
// surrogates are let through, overlong forms and other garbage are not.
std::pair<char32_t, std::size_t> DecodeUtf8(std::string_view text) {
  constexpr std::pair<char32_t, std::size_t> Invalid{0xFFFD, 1};
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  std::size_t length;
  char32_t code;
  char32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, minimum = 0x10000;
  } else {
    return Invalid;
  }
  if (text.size() < length) return Invalid;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return Invalid;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF) return Invalid;
  return {code, length};
}

}  // namespace

std::string Utf8FromUtf16(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = static_cast<char16_t>(text[i]);
    if (IsHighSurrogate(code) && i + 1 < text.size() && IsLowSurrogate(static_cast<char16_t>(text[i + 1]))) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char16_t>(text[i + 1]) - 0xDC00);
      ++i;
    }
    AppendUtf8(out, code);
  }
  return out;
}

std::wstring Utf16FromUtf8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto [code, length] = DecodeUtf8(text);
    AppendUtf16(out, code);
    text.remove_prefix(length);
  }
  return out;
}

std::wstring Win32Path(std::string_view name) {
  std::wstring path = Utf16FromUtf8(name);
  // Names in a namespace of their own go as given.
  if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) return path;
  // Resolved the way Win32 itself would (current directory, "..", trailing
  // dots), which the \\?\ form no longer does.
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return path;  // let the file function report what is wrong
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length);
  }
  // Room for the 8.3 name that CreateDirectory wants to keep free.
  if (full.size() < MAX_PATH - 12) return path;
  if (full.size() > 2 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  if (full.starts_with(L"\\\\") && !full.starts_with(L"\\\\.\\") && !full.starts_with(L"\\\\?\\")) {
    return L"\\\\?\\UNC\\" + full.substr(2);
  }
  return path;
}

}  // namespace quillmote::rt::windows
