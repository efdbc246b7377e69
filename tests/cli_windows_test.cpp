// The built tool on Windows: Unicode names, files held open by another
// program, devices, hard links, and what makes a file itself.

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/process.h"
#include "support/scratch.h"
#include "support/shapes.h"
#include "support/windows/system.h"

namespace {

using support::Bom;
using support::HostPath;
using support::ReadFile;
using support::ReportShape;
using support::RunCommand;
using support::RunTool;
using support::ScratchDir;
using support::SystemMessage;
using support::ToolPath;
using support::Wide;
using support::WriteFile;

// Outside every ANSI code page at once, and outside the Basic Multilingual
// Plane (a surrogate pair in UTF-16).
const std::string UnicodeName = "r\xC3\xA9sum\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.txt";

class Names : public testing::TestWithParam<std::string> {};

TEST_P(Names, AreTakenAsGiven) {
  ScratchDir dir;
  WriteFile(dir / GetParam(), Bom + "x");
  WriteFile(dir / "other", Bom + "y");
  // Once as a full path, once relative to the working directory.
  const auto result = RunTool({dir / GetParam(), "other"}, support::InDirectory(dir / ""));
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(ReadFile(dir / GetParam()), "x");
  EXPECT_EQ(ReadFile(dir / "other"), "y");
  EXPECT_EQ(dir.Listing(), GetParam() < "other" ? GetParam() + "\nother\n" : "other\n" + GetParam() + "\n");
}

INSTANTIATE_TEST_SUITE_P(Table, Names,
                         testing::Values(UnicodeName, "two words.txt", "quote's & caret^ %PATH%.txt"));

TEST(Names, LongerThanMaxPathIsStripped) {
  ScratchDir dir;
  std::string path = dir / "";
  while (path.size() < 2 * MAX_PATH) {
    path += "directory-with-a-long-name\\";
    ASSERT_TRUE(::CreateDirectoryW(Wide(path).c_str(), nullptr)) << path;
  }
  WriteFile(path + "f", Bom + "x");
  const auto result = RunTool({path + "f"});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(ReadFile(path + "f"), "x");
}

TEST(HeldOpen, FileAnotherProgramHoldsIsAnOpenErrorWithTheSystemsReason) {
  ScratchDir dir;
  const std::string file = dir / UnicodeName;
  WriteFile(file, Bom + "x");
  const auto result = RunCommand({HostPath(QUILLMOTE_HOLD_OPEN_EXE), file, ToolPath(), file});
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_TRUE(std::regex_match(result.out, ReportShape)) << result.out;
  EXPECT_TRUE(result.out.starts_with("Exception EFOpenError in module quillmote.exe at ")) << result.out;
  // The name in UTF-8 (standard output is a pipe), and the system's reason.
  EXPECT_NE(result.out.find("\nCannot open file \"" + file + "\". " + SystemMessage(ERROR_SHARING_VIOLATION) + ".\r\n"),
            std::string::npos)
      << result.out;
  EXPECT_EQ(ReadFile(file), Bom + "x");
}

TEST(FileMode, DevicesAndDirectoriesAreSkipped) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.Path() / "sub");
  WriteFile(dir / "after", Bom + "A");
  const auto result = RunTool({"NUL", "nul", "CON", "COM1", "AUX", "\\\\.\\NUL", "\\\\.\\pipe\\quillmote-none",
                               dir / "sub", dir / "sub\\", dir / "after"});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(ReadFile(dir / "after"), "A");
}

BY_HANDLE_FILE_INFORMATION InformationOf(const std::string& path) {
  BY_HANDLE_FILE_INFORMATION information{};
  const HANDLE file = ::CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
  EXPECT_TRUE(::GetFileInformationByHandle(file, &information)) << path;
  ::CloseHandle(file);
  return information;
}

TEST(Identity, HardLinkedFileIsStrippedUnderEveryName) {
  ScratchDir dir;
  WriteFile(dir / "a", Bom + "shared");
  ASSERT_TRUE(::CreateHardLinkW(Wide(dir / "b").c_str(), Wide(dir / "a").c_str(), nullptr));
  const auto result = RunTool({dir / "a"});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(ReadFile(dir / "a"), "shared");
  EXPECT_EQ(ReadFile(dir / "b"), "shared");
  const auto a = InformationOf(dir / "a");
  const auto b = InformationOf(dir / "b");
  EXPECT_EQ(a.nNumberOfLinks, 2u);
  EXPECT_EQ(std::pair(a.nFileIndexHigh, a.nFileIndexLow), std::pair(b.nFileIndexHigh, b.nFileIndexLow));
  EXPECT_EQ(dir.Listing(), "a\nb\n");
}

std::string AccessRulesOf(const std::string& path) {
  constexpr SECURITY_INFORMATION What = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  ::GetFileSecurityW(Wide(path).c_str(), What, nullptr, 0, &needed);
  std::vector<char> descriptor(needed);
  if (!::GetFileSecurityW(Wide(path).c_str(), What, descriptor.data(), needed, &needed)) return "unreadable";
  LPWSTR text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1, What, &text, nullptr)) {
    return "unconvertible";
  }
  const std::string rules = support::Utf8(text);
  ::LocalFree(text);
  return rules;
}

TEST(Identity, AttributesAndAccessRulesAreKept) {
  ScratchDir dir;
  const std::string file = dir / "f";
  WriteFile(file, Bom + "x");
  // Everything for the owner alone, nothing for anybody else.
  PSECURITY_DESCRIPTOR rules = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;OW)", SDDL_REVISION_1, &rules, nullptr));
  ASSERT_TRUE(::SetFileSecurityW(Wide(file).c_str(), DACL_SECURITY_INFORMATION, rules));
  ::LocalFree(rules);
  ASSERT_TRUE(::SetFileAttributesW(Wide(file).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  const std::string rules_before = AccessRulesOf(file);

  const auto result = RunTool({file});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(ReadFile(file), "x");
  EXPECT_EQ(InformationOf(file).dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM});
  EXPECT_EQ(AccessRulesOf(file), rules_before);
  EXPECT_EQ(dir.Listing(), "f\n");
}

TEST(Identity, CreationTimeIsKept) {
  ScratchDir dir;
  const std::string file = dir / "f";
  WriteFile(file, Bom + "x");
  FILETIME created{};
  created.dwHighDateTime = 0x01D00000;  // 2014
  {
    const HANDLE handle = ::CreateFileW(Wide(file).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(::SetFileTime(handle, &created, nullptr, nullptr));
    ::CloseHandle(handle);
  }
  if (InformationOf(file).ftCreationTime.dwHighDateTime != created.dwHighDateTime) {
    GTEST_SKIP() << "this file system does not keep the creation time it is given (Wine keeps none)";
  }
  const auto result = RunTool({file});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(ReadFile(file), "x");
  const FILETIME after = InformationOf(file).ftCreationTime;
  EXPECT_EQ(std::pair(after.dwHighDateTime, after.dwLowDateTime), std::pair(created.dwHighDateTime, created.dwLowDateTime));
}

TEST(Identity, AlternateDataStreamIsKept) {
  ScratchDir dir;
  DWORD flags = 0;
  const std::wstring root = dir.Path().root_path().native();
  ASSERT_TRUE(::GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0));
  if ((flags & FILE_NAMED_STREAMS) == 0) {
    GTEST_SKIP() << "this file system has no alternate data streams (Wine emulates none)";
  }
  const std::string file = dir / "f";
  WriteFile(file, Bom + "x");
  WriteFile(file + ":extra", "kept aside");
  const auto result = RunTool({file});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(ReadFile(file), "x");
  EXPECT_EQ(ReadFile(file + ":extra"), "kept aside");
}

}  // namespace
