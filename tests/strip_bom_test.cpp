// StripBom on real files, in process.

#include "strip_bom.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "support/scratch.h"

namespace {

using support::Bom;
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

TEST(StripBom, SkipsNamesThatAreNotRegularFiles) {
  ScratchDir dir;
  ASSERT_EQ(::mkdir((dir / "directory").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("missing", (dir / "dangling").c_str()), 0);
  for (const char* name : {"missing", "directory", "fifo", "dangling", "missing/below"}) {
    EXPECT_NO_THROW(quillmote::StripBom(dir / name)) << name;
  }
  EXPECT_EQ(dir.Listing(), "dangling\ndirectory\nfifo\n");
}

struct stat StatusOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status;
}

TEST(StripBom, UnmarkedFileKeepsItsLastWriteTime) {
  ScratchDir dir;
  const std::string file = dir / "f";
  WriteFile(file, "\xEF\xBB" "A text without the mark");
  const timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), old_times, 0), 0);
  quillmote::StripBom(file);
  EXPECT_EQ(StatusOf(file).st_mtim.tv_sec, 1000000000);
}

TEST(StripBom, StripsFilesWithAnyLastWriteTime) {
  ScratchDir dir;
  // Before 1980 and after 2107: outside what MS-DOS dates can hold.
  for (const time_t when : {time_t{0}, time_t{315532799}, time_t{4354819200}}) {
    const std::string file = dir / ("t" + std::to_string(when));
    WriteFile(file, Bom + "x");
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    quillmote::StripBom(file);
    EXPECT_EQ(ReadFile(file), "x") << when;
  }
}

TEST(StripBom, ReplacementKeepsModeOwnerAndGroup) {
  ScratchDir dir;
  const bool root = ::geteuid() == 0;
  for (const mode_t mode : {0600, 0640, 0755, 04755, 02750, 01777}) {
    const std::string file = dir / ("m" + std::to_string(mode));
    WriteFile(file, Bom + "x");
    if (root) {
      ASSERT_EQ(::chown(file.c_str(), 1234, 5678), 0);
    }
    ASSERT_EQ(::chmod(file.c_str(), mode), 0);
    const struct stat before = StatusOf(file);
    quillmote::StripBom(file);
    const struct stat after = StatusOf(file);
    EXPECT_EQ(ReadFile(file), "x");
    EXPECT_EQ(after.st_mode, before.st_mode) << std::oct << mode;
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
  }
}

TEST(StripBom, SymbolicLinkStaysALinkAndTheTargetIsStripped) {
  ScratchDir dir;
  ASSERT_EQ(::mkdir((dir / "real").c_str(), 0755), 0);
  WriteFile(dir / "real/target", Bom + "x");
  ASSERT_EQ(::symlink("real/target", (dir / "link").c_str()), 0);
  quillmote::StripBom(dir / "link");
  EXPECT_TRUE(S_ISLNK(StatusOf(dir / "link").st_mode));
  EXPECT_EQ(ReadFile(dir / "real/target"), "x");
  EXPECT_EQ(dir.Listing(), "link\nreal\n");
}

}  // namespace
