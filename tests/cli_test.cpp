// The built tool as a user runs it: exit status, standard output, bytes on disk.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "support/process.h"
#include "support/scratch.h"

namespace {

using support::Bom;
using support::ReadFile;
using support::InDirectory;
using support::RunCommand;
using support::WithInput;
using support::WithInputFile;
using support::WithOutputFile;
using support::RunTool;
using support::ScratchDir;
using support::ToolAsNobody;
using support::ToolPath;
using support::WriteFile;

const std::regex BannerShape("quillmote 1\\.0\\.0 [^\r\n]*20[0-9][0-9][^\r\n]*\r\n");
const std::regex ReportShape(
    "Exception (EFOpenError|EInOutError|EOutOfMemory) in module quillmote at [0-9A-F]{8}\\.\n"
    "[^\r\n]*\\.\r\n");

constexpr uid_t Nobody = 65534;

void GiveToNobody(const std::string& path) { ASSERT_EQ(::chown(path.c_str(), Nobody, Nobody), 0) << path; }

// --- Banner mode ----------------------------------------------------------

TEST(Banner, OneLineThenExitWhenInputIsAtItsEnd) {
  const auto result = RunTool({});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(std::regex_match(result.out, BannerShape)) << result.out;
  EXPECT_EQ(result.err, "");
}

struct LineCase {
  const char* label;
  std::string input;
  std::string rest_after_pipe;  // what a command after us still reads
  std::string rest_after_file;
};

// Keeps test names readable where the parameter is listed.
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.label; }

class BannerLine : public testing::TestWithParam<LineCase> {};

// `{ quillmote; cat; }` sharing one input: the tool must take exactly one line.
TEST_P(BannerLine, ConsumesExactlyOneLine) {
  const std::vector<std::string> shared{"sh", "-c", "\"$0\"; cat", ToolPath()};
  const auto piped = RunCommand(shared, WithInput(GetParam().input));
  EXPECT_EQ(piped.status, 0);
  ASSERT_TRUE(std::regex_search(piped.out, BannerShape)) << piped.out;
  EXPECT_EQ(std::regex_replace(piped.out, BannerShape, ""), GetParam().rest_after_pipe);

  ScratchDir dir;
  WriteFile(dir / "input", GetParam().input);
  const auto from_file = RunCommand(shared, WithInputFile(dir / "input"));
  EXPECT_EQ(from_file.status, 0);
  EXPECT_EQ(std::regex_replace(from_file.out, BannerShape, ""), GetParam().rest_after_file);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BannerLine,
    testing::Values(LineCase{"Empty", "", "", ""},
                    LineCase{"CrLf", "first\r\nrest\r\n", "rest\r\n", "rest\r\n"},
                    LineCase{"LoneLfDoesNotEndIt", "a\nb\nc\r\nrest", "rest", "rest"},
                    LineCase{"CtrlZEndsIt", "a\nb\x1Arest", "rest", "rest"},
                    LineCase{"NoLineEndAtAll", "a\nb\nc\n", "", ""},
                    // A pipe cannot take back the byte read after the CR.
                    LineCase{"CrAlone", "a\rXrest", "rest", "Xrest"}),
    [](const testing::TestParamInfo<LineCase>& info) { return info.param.label; });

TEST(Banner, RedirectedToAFileGetsExactlyTheBannerLine) {
  ScratchDir dir;
  const auto result = RunTool({}, WithOutputFile(dir / "out"));
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(std::regex_match(ReadFile(dir / "out"), BannerShape)) << ReadFile(dir / "out");
}

TEST(Banner, FailureToWriteItIsExitStatusOne) {
  EXPECT_EQ(RunTool({}, WithOutputFile("/dev/full")).status, 1);
  const auto closed = RunCommand({"sh", "-c", "exec \"$0\" >&-", ToolPath()});
  EXPECT_EQ(closed.status, 1);
}

// --- File mode --------------------------------------------------------------

TEST(FileMode, EveryArgumentIsAFileNameAndNothingIsPrinted) {
  ScratchDir dir;
  for (const char* name : {"-h", "--help", "-", "/x"}) {
    // "/x" relative to the directory stands for a name with a slash.
    const std::string file = std::string(name) == "/x" ? dir / "x" : dir / name;
    WriteFile(file, Bom + name);
  }
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
  const auto result = RunTool({"-h", "--help", "-", "./x", "missing", "sub", "-v", "--", "-h"},
                              InDirectory(dir.Path().string()));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ReadFile(dir / "-h"), "-h");
  EXPECT_EQ(ReadFile(dir / "--help"), "--help");
  EXPECT_EQ(ReadFile(dir / "-"), "-");
  EXPECT_EQ(ReadFile(dir / "x"), "/x");
}

TEST(FileMode, SameNameTwiceIsHandledTwice) {
  ScratchDir dir;
  WriteFile(dir / "f", Bom + Bom + Bom + "A");
  EXPECT_EQ(RunTool({dir / "f", dir / "f"}).status, 0);
  EXPECT_EQ(ReadFile(dir / "f"), Bom + "A");
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
