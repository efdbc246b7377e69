// A rewritten file stays the file it was: links, owner, attributes, and the
// data of anyone else who touches it meanwhile.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "support/process.h"
#include "support/scratch.h"

namespace {

using support::Bom;
using support::HaveProgram;
using support::ReadFile;
using support::RunCommand;
using support::RunTool;
using support::ScratchDir;
using support::ToolAsNobody;
using support::ToolPath;
using support::WriteFile;

using support::Nobody;

struct stat StatusOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status;
}

std::string Output(const std::vector<std::string>& command) {
  const auto result = RunCommand(command);
  EXPECT_EQ(result.status, 0) << command[0] << ": " << result.err;
  return result.out;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::mt19937 random(seed);
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

TEST(Identity, HardLinkedNamesAllShowTheStrippedContentOnTheSameInode) {
  ScratchDir dir;
  WriteFile(dir / "one", Bom + "shared");
  ASSERT_EQ(::link((dir / "one").c_str(), (dir / "two").c_str()), 0);
  const ino_t inode = StatusOf(dir / "one").st_ino;
  EXPECT_EQ(RunTool({dir / "two"}).status, 0);
  EXPECT_EQ(ReadFile(dir / "one"), "shared");
  EXPECT_EQ(ReadFile(dir / "two"), "shared");
  EXPECT_EQ(StatusOf(dir / "one").st_ino, inode);
  EXPECT_EQ(StatusOf(dir / "two").st_nlink, 2u);
  EXPECT_EQ(dir.Listing(), "one\ntwo\n");
}

TEST(Identity, AclsAttributesModeAndOwnerSurviveTheReplacement) {
  if (!HaveProgram("setfacl") || !HaveProgram("setfattr")) GTEST_SKIP() << "needs acl and attr";
  ScratchDir dir;
  const std::string file = dir / "f";
  WriteFile(file, Bom + "x");
  ASSERT_EQ(::chown(file.c_str(), 1234, 5678), 0);
  ASSERT_EQ(::chmod(file.c_str(), 02750), 0);
  Output({"setfacl", "-m", "u:65534:rw,g:100:r", file});
  Output({"setfattr", "-n", "user.origin", "-v", "kept", file});
  // Created after the file: the new file would inherit it, the old one did not.
  Output({"setfacl", "-d", "-m", "u:4321:rwx", dir.Path().string()});

  const auto describe = [&] {
    return Output({"getfacl", "-p", file}) + Output({"getfattr", "-d", "-m", "-", file}) +
           Output({"stat", "-c", "%a %u %g", file});
  };
  const std::string before = describe();
  const ino_t inode = StatusOf(file).st_ino;
  EXPECT_EQ(RunTool({file}).status, 0);
  EXPECT_EQ(ReadFile(file), "x");
  EXPECT_NE(StatusOf(file).st_ino, inode) << "expected the rename path here";
  EXPECT_EQ(describe(), before);
}

TEST(Identity, FileLockedByAnotherProcessIsAnOpenErrorAndUntouched) {
  ScratchDir dir;
  WriteFile(dir / "f", Bom + "x");
  // flock(1) holds the lock while it runs the tool on the same file.
  const auto result = RunCommand({"flock", dir / "f", ToolPath(), dir / "f"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("EFOpenError"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("in use by another process"), std::string::npos) << result.out;
  EXPECT_EQ(ReadFile(dir / "f"), Bom + "x");
}

TEST(Identity, TwoRunsAtOnceNeverCorruptTheFile) {
  ScratchDir dir;
  const std::string payload = RandomBytes(4 << 20, 7);
  for (const bool linked : {false, true}) {
    for (int round = 0; round < 10; ++round) {
      const std::string file = dir / "f";
      ::unlink(file.c_str());
      ::unlink((dir / "link").c_str());
      WriteFile(file, Bom + Bom + Bom + payload);
      if (linked) {
        ASSERT_EQ(::link(file.c_str(), (dir / "link").c_str()), 0);
      }
      support::RunResult results[2];
      std::thread first([&] { results[0] = RunTool({file}); });
      results[1] = RunTool({file});
      first.join();
      int stripped = 0;
      for (const auto& result : results) {
        ASSERT_TRUE(result.status == 0 || result.status == 1) << result.status;
        if (result.status == 0) {
          ++stripped;
        } else {
          EXPECT_TRUE(std::regex_search(result.out, std::regex("in use|changed by another"))) << result.out;
        }
      }
      std::string expected = payload;
      for (int i = 0; i < 3 - stripped; ++i) expected.insert(0, Bom);
      ASSERT_TRUE(ReadFile(file) == expected) << "linked=" << linked << " round " << round;
      if (linked) {
        ASSERT_TRUE(ReadFile(dir / "link") == expected);
      }
    }
  }
}

TEST(Identity, WriterThatIgnoresTheLockKeepsItsData) {
  if (!HaveProgram("strace")) GTEST_SKIP() << "needs strace to slow the copy down";
  ScratchDir dir;
  const std::string file = dir / "f";
  const std::string payload = RandomBytes(1 << 20, 3);
  WriteFile(file, Bom + payload);
  // The copy waits two seconds before its first write: time for
  // another writer to append.
  std::thread tool_thread;
  support::RunResult result;
  tool_thread = std::thread([&] {
    result = RunCommand(support::Strace(
        {"-f", "-o", "/dev/null", "-e", "inject=write:delay_enter=2000000:when=1", ToolPath(), file}));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "appended", 8), 8);
    ::close(fd);
  }
  tool_thread.join();
  EXPECT_EQ(result.status, 1) << result.out;
  EXPECT_NE(result.out.find("EInOutError"), std::string::npos) << result.out;
  EXPECT_TRUE(ReadFile(file) == Bom + payload + "appended");
  EXPECT_EQ(dir.Listing(), "f\n");
}

TEST(Identity, EveryRenameIsFlushedBeforeTheRunEnds) {
  if (!HaveProgram("strace")) GTEST_SKIP() << "needs strace to see the flushes";
  ScratchDir dir;
  ASSERT_EQ(::mkdir((dir / "one").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((dir / "two").c_str(), 0755), 0);
  const std::vector<std::string> files{dir / "one/a", dir / "one/b", dir / "two/c", dir / "one/d"};
  for (const auto& file : files) WriteFile(file, Bom + "x");
  std::vector<std::string> args{"-f", "-y", "-o", dir / "trace", "-e",
                                "trace=renameat,renameat2,fsync,fdatasync", ToolPath()};
  args.insert(args.end(), files.begin(), files.end());
  ASSERT_EQ(RunCommand(support::Strace(args)).status, 0);
  for (const auto& file : files) EXPECT_EQ(ReadFile(file), "x") << file;

  // Each rename must be followed by a flush of its directory.
  const std::regex rename(R"(^\d+ +renameat2?\(\d+<([^>]+)>)");
  const std::regex flush(R"(^\d+ +f(?:data)?sync\(\d+<([^>]+)>\) += 0)");
  std::vector<std::string> unflushed;
  std::istringstream trace(ReadFile(dir / "trace"));
  int renames = 0;
  for (std::string line; std::getline(trace, line);) {
    std::smatch match;
    if (std::regex_search(line, match, rename)) {
      ++renames;
      unflushed.push_back(match[1]);
    } else if (std::regex_search(line, match, flush)) {
      std::erase(unflushed, match[1].str());
    }
  }
  EXPECT_EQ(renames, 4);
  EXPECT_TRUE(unflushed.empty()) << unflushed.front();
}

// --- What a rename cannot do for an unprivileged user ----------------------

TEST(Identity, FileInAReadOnlyDirectoryIsChangedInPlace) {
  ScratchDir dir;
  ASSERT_EQ(::mkdir((dir / "ro").c_str(), 0755), 0);
  const std::string file = dir / "ro/f";
  WriteFile(file, Bom + "x");
  ASSERT_EQ(::chown(file.c_str(), Nobody, Nobody), 0);
  ASSERT_EQ(::chmod((dir / "ro").c_str(), 0555), 0);
  const ino_t inode = StatusOf(file).st_ino;
  const auto result = RunCommand(ToolAsNobody({file}));
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(ReadFile(file), "x");
  EXPECT_EQ(StatusOf(file).st_ino, inode);
}

TEST(Identity, FileOfAnotherOwnerWritableThroughItsGroupKeepsItsOwner) {
  ScratchDir dir;
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
  const std::string file = dir / "f";
  WriteFile(file, Bom + "x");
  ASSERT_EQ(::chown(file.c_str(), 1234, Nobody), 0);
  ASSERT_EQ(::chmod(file.c_str(), 0664), 0);
  const auto result = RunCommand(ToolAsNobody({file}));
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(ReadFile(file), "x");
  EXPECT_EQ(StatusOf(file).st_uid, 1234u);
  EXPECT_EQ(StatusOf(file).st_gid, Nobody);
  EXPECT_EQ(dir.Listing(), "f\n");
}

TEST(Identity, AttributeANewFileCouldNotGetKeepsTheFileInPlace) {
  ScratchDir dir;
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
  const std::string file = dir / "f";
  WriteFile(file, Bom + "x");
  ASSERT_EQ(::chown(file.c_str(), Nobody, Nobody), 0);
  // Only a privileged process may set an attribute of the security
  // namespace; anyone may read it.
  if (::setxattr(file.c_str(), "security.quillmote", "1", 1, 0) != 0) {
    GTEST_SKIP() << "this file system takes no security.* attribute: " << std::strerror(errno);
  }
  const ino_t inode = StatusOf(file).st_ino;
  const auto result = RunCommand(ToolAsNobody({file}));
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(ReadFile(file), "x");
  EXPECT_EQ(StatusOf(file).st_ino, inode);
  char value[8] = {};
  EXPECT_EQ(::getxattr(file.c_str(), "security.quillmote", value, sizeof value), 1);
  EXPECT_EQ(dir.Listing(), "f\n");
}

TEST(Identity, NamesInMessagesCannotDriveTheTerminal) {
  ScratchDir dir;
  const std::string file = dir / "evil\n\x1B[2J\xFF";
  WriteFile(file, Bom + "x");
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  const auto result = RunCommand(ToolAsNobody({file}));
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("evil\\n\\033[2J\\xff\""), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find('\x1B'), std::string::npos);
}

// --- Stop signals -----------------------------------------------------------

// Starts the tool on `file` and sends SIGTERM after `delay`; returns how the
// tool ended (128 + signal when the signal ended it).
int TerminateAfter(const std::string& file, std::chrono::microseconds delay) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(ToolPath().c_str(), ToolPath().c_str(), file.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::this_thread::sleep_for(delay);
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Signals, TerminationLeavesEitherTheOriginalOrTheStrippedContent) {
  const std::string payload = RandomBytes(32 << 20, 11);
  const std::string original = Bom + payload;
  ScratchDir dir;
  std::mt19937 random(5);
  int interrupted = 0;
  for (const bool linked : {true, false}) {
    for (int round = 0; round < 8; ++round) {
      const std::string file = dir / "f";
      ::unlink(file.c_str());
      ::unlink((dir / "link").c_str());
      WriteFile(file, original);
      if (linked) {
        ASSERT_EQ(::link(file.c_str(), (dir / "link").c_str()), 0);
      }
      const auto delay = std::chrono::microseconds(random() % 100000);
      const int status = TerminateAfter(file, delay);
      interrupted += status == 128 + SIGTERM;
      const std::string now = ReadFile(file);
      ASSERT_TRUE(now == original || now == payload) << "size " << now.size() << " after " << delay.count();
      if (linked) {
        // Held off mid-shift: the signal takes effect once the file is whole.
        ASSERT_TRUE(ReadFile(dir / "link") == now);
      } else {
        EXPECT_EQ(dir.Listing(), "f\n") << "a stop signal must not leave a temporary file";
      }
    }
  }
  std::cout << interrupted << " of 16 runs ended by SIGTERM\n";
}

}  // namespace
