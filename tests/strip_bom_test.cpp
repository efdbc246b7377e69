// StripBom on real files, in process: what holds on every system.
// strip_bom_posix_test.cpp holds what only POSIX systems have.

#include "strip_bom.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>

#include "support/scratch.h"

namespace {

using support::Bom;
using support::PathOf;
using support::ReadFile;
using support::ScratchDir;
using support::WriteFile;

struct Fixture {
  const char* label;
  std::string before;
  std::string after;
};

const std::string Payload = std::string("line\r\nlone\nNUL\0here", 19) + "\x1A" + "\xC3\x28\xFF bad utf-8";

// Keeps test names readable where the parameter is listed.
void PrintTo(const Fixture& c, std::ostream* os) { *os << c.label; }

class StripBomFixtures : public testing::TestWithParam<Fixture> {};

TEST_P(StripBomFixtures, LeavesExactlyTheExpectedBytes) {
  ScratchDir dir;
  const std::string file = dir / "f";
  WriteFile(file, GetParam().before);
  quillmote::StripBom(file);
  EXPECT_EQ(ReadFile(file), GetParam().after);
  EXPECT_EQ(dir.Listing(), "f\n") << "nothing may be left beside the file";
}

INSTANTIATE_TEST_SUITE_P(
    Table, StripBomFixtures,
    testing::Values(Fixture{"Empty", "", ""},
                    Fixture{"OneByte", "\xEF", "\xEF"},
                    Fixture{"TwoBytes", "\xEF\xBB", "\xEF\xBB"},
                    Fixture{"MarkAlone", Bom, Bom},
                    Fixture{"MarkAndOneByte", Bom + "A", "A"},
                    Fixture{"TwoMarksLoseOne", Bom + Bom + "A", Bom + "A"},
                    Fixture{"AlmostAMark", std::string("\xEF\xBB\x00" "A", 4), std::string("\xEF\xBB\x00" "A", 4)},
                    Fixture{"MarkAtOffsetOne", " " + Bom + "A", " " + Bom + "A"},
                    Fixture{"Utf16LittleEndian", "\xFF\xFE" "A\0", "\xFF\xFE" "A\0"},
                    Fixture{"Utf16BigEndian", "\xFE\xFF\0A", "\xFE\xFF\0A"},
                    Fixture{"NoMark", "plain text\n", "plain text\n"},
                    Fixture{"EveryByteAfterTheMarkKept", Bom + Payload, Payload}),
    [](const testing::TestParamInfo<Fixture>& info) { return info.param.label; });

TEST(StripBom, SecondCallRemovesSecondMark) {
  ScratchDir dir;
  const std::string file = dir / "f";
  WriteFile(file, Bom + Bom + "A");
  quillmote::StripBom(file);
  quillmote::StripBom(file);
  EXPECT_EQ(ReadFile(file), "A");
}

TEST(StripBom, LargeFileComesBackByteForByte) {
  // Several copy buffers long, and not a multiple of any of them.
  std::string content((5u << 20) + 12345, '\0');
  std::mt19937 random(42);
  for (char& c : content) c = static_cast<char>(random());
  ScratchDir dir;
  const std::string file = dir / "big";
  WriteFile(file, Bom + content);
  quillmote::StripBom(file);
  EXPECT_TRUE(ReadFile(file) == content);
}

TEST(StripBom, SkipsMissingNamesAndDirectories) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.Path() / "directory");
  for (const char* name : {"missing", "directory", "missing/below"}) {
    EXPECT_NO_THROW(quillmote::StripBom(dir / name)) << name;
  }
  EXPECT_EQ(dir.Listing(), "directory\n");
}

// Seconds since 1970; time_t is 32 bits wide on some systems (32-bit Windows).
std::filesystem::file_time_type FileTime(std::int64_t when) {
  return std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(when)));
}

TEST(StripBom, UnmarkedFileKeepsItsLastWriteTime) {
  ScratchDir dir;
  const std::string file = dir / "f";
  WriteFile(file, "\xEF\xBB" "A text without the mark");
  std::filesystem::last_write_time(PathOf(file), FileTime(1000000000));
  quillmote::StripBom(file);
  EXPECT_TRUE(std::filesystem::last_write_time(PathOf(file)) == FileTime(1000000000));
}

TEST(StripBom, StripsFilesWithAnyLastWriteTime) {
  ScratchDir dir;
  // Before 1980 and after 2107: outside what MS-DOS dates can hold.
  for (const std::int64_t when : {std::int64_t{0}, std::int64_t{315532799}, std::int64_t{4354819200}}) {
    const std::string file = dir / std::to_string(when);
    WriteFile(file, Bom + "x");
    std::filesystem::last_write_time(PathOf(file), FileTime(when));
    quillmote::StripBom(file);
    EXPECT_EQ(ReadFile(file), "x") << when;
  }
}

}  // namespace
