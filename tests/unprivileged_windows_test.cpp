// Access checks, which must not be run with powers that pass them all. Under
// Wine they rest on Unix permissions, which root passes: the build runs
// these as an unprivileged user there (support/windows/run-unprivileged).

#include <windows.h>

#include <gtest/gtest.h>

#include <regex>

#include "support/process.h"
#include "support/scratch.h"
#include "support/shapes.h"
#include "support/windows/system.h"

namespace {

using support::Bom;
using support::ReadFile;
using support::ReportShape;
using support::RunTool;
using support::ScratchDir;
using support::Wide;
using support::WriteFile;

void MakeReadOnly(const std::string& path) {
  ASSERT_TRUE(::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY)) << path;
}

bool IsReadOnly(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

TEST(ReadOnly, MarkedFileStopsTheRunWithAccessDeniedAndIsUnchanged) {
  ScratchDir dir;
  for (const char* name : {"a", "b", "c"}) WriteFile(dir / name, Bom + name);
  MakeReadOnly(dir / "b");

  const auto result = RunTool({dir / "a", dir / "b", dir / "c"});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(std::regex_match(result.out, ReportShape)) << result.out;
  EXPECT_TRUE(result.out.starts_with("Exception EInOutError in module quillmote.exe at ")) << result.out;
  EXPECT_NE(result.out.find("\nFile access denied: \"" + dir / "b" + "\".\r\n"), std::string::npos) << result.out;
  EXPECT_EQ(ReadFile(dir / "a"), "a") << "handled before the failure";
  EXPECT_EQ(ReadFile(dir / "b"), Bom + "b") << "the read-only file is unchanged";
  EXPECT_TRUE(IsReadOnly(dir / "b"));
  EXPECT_EQ(ReadFile(dir / "c"), Bom + "c") << "not looked at after the failure";
  EXPECT_EQ(dir.Listing(), "a\nb\nc\n");
}

TEST(ReadOnly, UnmarkedFileIsOnlyRead) {
  ScratchDir dir;
  WriteFile(dir / "ro", "no mark here");
  MakeReadOnly(dir / "ro");
  const auto result = RunTool({dir / "ro"});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(ReadFile(dir / "ro"), "no mark here");
}

}  // namespace
