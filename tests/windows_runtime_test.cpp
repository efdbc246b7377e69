// The Windows runtime's own pieces: names between UTF-8 and UTF-16, and the
// error codes.

#include <windows.h>

#include <gtest/gtest.h>

#include "runtime/errors.h"
#include "runtime/io_error.h"
#include "runtime/windows/wide.h"

namespace {

using namespace quillmote::rt;
using windows::Utf16FromUtf8;
using windows::Utf8FromUtf16;

TEST(Names, EveryUtf16NameComesBackUnchanged) {
  const std::wstring names[] = {
      L"plain.txt",
      L"r\u00E9sum\u00E9-\u65E5\u672C.txt",
      L"pair-\xD83D\xDE00.txt",    // U+1F600
      L"lone-high-\xD800.txt",     // NTFS takes these; UTF-8 cannot say them
      L"lone-low-\xDC00.txt",
      L"reversed-\xDC00\xD800.txt",
      L"high-at-end-\xDBFF",
  };
  for (const std::wstring& name : names) {
    EXPECT_TRUE(Utf16FromUtf8(Utf8FromUtf16(name)) == name) << Utf8FromUtf16(name);
  }
  EXPECT_EQ(Utf8FromUtf16(L"r\u00E9-\xD83D\xDE00"), "r\xC3\xA9-\xF0\x9F\x98\x80");
}

TEST(Names, BytesThatAreNoUtf8BecomeReplacementCharacters) {
  EXPECT_TRUE(Utf16FromUtf8("a\xFF" "b") == L"a\uFFFDb");
  EXPECT_TRUE(Utf16FromUtf8("\xC0\xAF") == L"\uFFFD\uFFFD");   // overlong
  EXPECT_TRUE(Utf16FromUtf8("\xE6\x97") == L"\uFFFD\uFFFD");   // cut short
}

TEST(Names, LongNamesGetTheLongPathPrefix) {
  const std::string long_name(300, 'n');
  const std::wstring path = windows::Win32Path("dir\\" + long_name);
  EXPECT_TRUE(path.starts_with(L"\\\\?\\")) << Utf8FromUtf16(path);
  EXPECT_TRUE(path.ends_with(L"\\dir\\" + std::wstring(300, L'n'))) << Utf8FromUtf16(path);
  EXPECT_TRUE(windows::Win32Path("short.txt") == L"short.txt");
}

std::string MessageOf(int os_error) {
  try {
    RaiseOsInOutError(os_error, "f");
  } catch (const EInOutError& error) {
    return error.what();
  }
  return "nothing raised";
}

TEST(IoError, WindowsCodesMapOntoTheIoCodes) {
  EXPECT_EQ(MessageOf(ERROR_FILE_NOT_FOUND), "File not found: \"f\"");
  EXPECT_EQ(MessageOf(ERROR_PATH_NOT_FOUND), "Invalid file name: \"f\"");
  EXPECT_EQ(MessageOf(ERROR_TOO_MANY_OPEN_FILES), "Too many open files: \"f\"");
  EXPECT_EQ(MessageOf(ERROR_ACCESS_DENIED), "File access denied: \"f\"");
  EXPECT_EQ(MessageOf(ERROR_DISK_FULL), "Disk full: \"f\"");
  EXPECT_EQ(MessageOf(ERROR_HANDLE_DISK_FULL), "Disk full: \"f\"");
}

TEST(IoError, OtherCodesShowTheNumberAndTheSystemsText) {
  const std::string text = OsErrorText(ERROR_SHARING_VIOLATION);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '.');
  EXPECT_NE(text.back(), '\n');
  EXPECT_EQ(MessageOf(ERROR_SHARING_VIOLATION), "I/O error 32 (" + text + "): \"f\"");
}

}  // namespace
