// The built tool as a user runs it: exit status, standard output, bytes on
// disk. What holds on every system; cli_posix_test.cpp and
// cli_windows_test.cpp hold the rest.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/process.h"
#include "support/scratch.h"
#include "support/shapes.h"

namespace {

using support::BannerShape;
using support::Bom;
using support::InDirectory;
using support::ReadFile;
using support::RunTool;
using support::ScratchDir;
using support::WithInput;
using support::WithInputFile;
using support::WithOutputFile;
using support::WriteFile;

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
  const auto piped = RunTool({}, WithInput(GetParam().input));
  EXPECT_EQ(piped.status, 0);
  EXPECT_TRUE(std::regex_match(piped.out, BannerShape)) << piped.out;
  EXPECT_EQ(piped.unread_input, GetParam().rest_after_pipe);

  ScratchDir dir;
  WriteFile(dir / "input", GetParam().input);
  const auto from_file = RunTool({}, WithInputFile(dir / "input"));
  EXPECT_EQ(from_file.status, 0);
  EXPECT_TRUE(std::regex_match(from_file.out, BannerShape)) << from_file.out;
  EXPECT_EQ(from_file.unread_input, GetParam().rest_after_file);
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

// --- File mode --------------------------------------------------------------

TEST(FileMode, EveryArgumentIsAFileNameAndNothingIsPrinted) {
  ScratchDir dir;
  for (const char* name : {"-h", "--help", "-", "/x"}) {
    // "/x" relative to the directory stands for a name with a slash.
    const std::string file = std::string(name) == "/x" ? dir / "x" : dir / name;
    WriteFile(file, Bom + name);
  }
  std::filesystem::create_directory(dir.Path() / "sub");
  const auto result = RunTool({"-h", "--help", "-", "./x", "missing", "sub", "-v", "--", "-h"},
                              InDirectory(dir / ""));
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

}  // namespace
