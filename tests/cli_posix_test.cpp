// The built tool on POSIX systems: FIFOs, devices, and permissions checked
// as an unprivileged user.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "support/process.h"
#include "support/scratch.h"
#include "support/shapes.h"

namespace {

using support::Bom;
using support::ReadFile;
using support::ReportShape;
using support::RunCommand;
using support::RunTool;
using support::ScratchDir;
using support::ToolAsNobody;
using support::ToolPath;
using support::WithOutputFile;
using support::WriteFile;

using support::Nobody;

void GiveToNobody(const std::string& path) { ASSERT_EQ(::chown(path.c_str(), Nobody, Nobody), 0) << path; }

TEST(Banner, FailureToWriteItIsExitStatusOne) {
  EXPECT_EQ(RunTool({}, WithOutputFile("/dev/full")).status, 1);
  const auto closed = RunCommand({"sh", "-c", "exec \"$0\" >&-", ToolPath()});
  EXPECT_EQ(closed.status, 1);
}

TEST(FileMode, FifoIsSkippedWithoutWaitingForAWriter) {
  ScratchDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  WriteFile(dir / "after", Bom + "A");
  const auto result = RunCommand({"timeout", "10", ToolPath(), dir / "fifo", dir / "after"});
  EXPECT_EQ(result.status, 0) << "124 means it hung on the FIFO";
  EXPECT_EQ(ReadFile(dir / "after"), "A");
}

TEST(FileMode, DevicesAreSkipped) {
  const auto result = RunCommand({"timeout", "10", ToolPath(), "/dev/null", "/dev/zero", "/dev/tty"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
}

// --- Failures, as an unprivileged user --------------------------------------

TEST(Failure, StopsAtTheFailingArgumentAndReportsOnStandardOutput) {
  ScratchDir dir;
  GiveToNobody(dir.Path().string());
  for (const char* name : {"a", "b", "c"}) {
    WriteFile(dir / name, Bom + name);
    GiveToNobody(dir / name);
  }
  ASSERT_EQ(::chmod((dir / "b").c_str(), 0444), 0);

  const auto result = RunCommand(ToolAsNobody({dir / "a", dir / "b", dir / "c"}));
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(std::regex_match(result.out, ReportShape)) << result.out;
  EXPECT_NE(result.out.find("EInOutError"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("File access denied"), std::string::npos) << result.out;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ReadFile(dir / "a"), "a") << "handled before the failure";
  EXPECT_EQ(ReadFile(dir / "b"), Bom + "b") << "the read-only file is unchanged";
  EXPECT_EQ(ReadFile(dir / "c"), Bom + "c") << "not looked at after the failure";
  EXPECT_EQ(dir.Listing(), "a\nb\nc\n");
}

TEST(Failure, ReadOnlyFileIsNeverReplacedEvenInAWritableDirectory) {
  ScratchDir dir;
  GiveToNobody(dir.Path().string());
  WriteFile(dir / "ro", Bom + "x");  // owned by root: nobody may not write it
  ASSERT_EQ(::chmod((dir / "ro").c_str(), 0644), 0);
  const auto result = RunCommand(ToolAsNobody({dir / "ro"}));
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("File access denied: \"" + dir / "ro" + "\".\r\n"), std::string::npos)
      << result.out;
  EXPECT_EQ(ReadFile(dir / "ro"), Bom + "x");
}

TEST(Failure, UnmarkedReadOnlyFileIsOnlyRead) {
  ScratchDir dir;
  WriteFile(dir / "ro", "no mark here");
  ASSERT_EQ(::chmod((dir / "ro").c_str(), 0444), 0);
  const auto result = RunCommand(ToolAsNobody({dir / "ro"}));
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(ReadFile(dir / "ro"), "no mark here");
}

TEST(Failure, UnreadableFileIsAnOpenErrorNamingIt) {
  ScratchDir dir;
  WriteFile(dir / "secret", Bom + "x");
  ASSERT_EQ(::chmod((dir / "secret").c_str(), 0600), 0);
  const auto result = RunCommand(ToolAsNobody({dir / "secret"}));
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(std::regex_match(result.out, ReportShape)) << result.out;
  EXPECT_NE(result.out.find("EFOpenError"), std::string::npos);
  EXPECT_NE(result.out.find("Cannot open file \"" + dir / "secret" + "\". Permission denied.\r\n"),
            std::string::npos)
      << result.out;
}

}  // namespace
