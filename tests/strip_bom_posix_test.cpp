// StripBom on real files, in process: FIFOs, symbolic links, modes and
// owners, which only POSIX systems have.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "strip_bom.h"
#include "support/scratch.h"

namespace {

using support::Bom;
using support::ReadFile;
using support::ScratchDir;
using support::WriteFile;

TEST(StripBom, SkipsFifosAndDanglingLinks) {
  ScratchDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("missing", (dir / "dangling").c_str()), 0);
  for (const char* name : {"fifo", "dangling"}) {
    EXPECT_NO_THROW(quillmote::StripBom(dir / name)) << name;
  }
  EXPECT_EQ(dir.Listing(), "dangling\nfifo\n");
}

struct stat StatusOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status;
}

TEST(StripBom, ReplacementKeepsModeOwnerAndGroup) {
  ScratchDir dir;
  const bool root = ::geteuid() == 0;
  for (const mode_t mode : {0600, 0640, 0755, 04755, 02750, 01777}) {
    std::string base = "m";
    base += std::to_string(mode);  // not "m" + ...: a false -Wrestrict in GCC 12 (PR 105329)
    const std::string file = dir / base;
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
