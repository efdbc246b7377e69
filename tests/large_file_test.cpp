// Files past the 2 GiB and 4 GiB offsets, and kill -9 in the middle of a
// rewrite. They need disk space; each checks it first and skips without it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using support::Bom;
using support::ScratchDir;

constexpr std::uint64_t GiB = std::uint64_t{1} << 30;
constexpr std::uint64_t MiB = std::uint64_t{1} << 20;

// Why the directory's file system cannot take `needed` more bytes; empty
// when it can.
[[nodiscard]] std::string SpaceShortage(const ScratchDir& dir, std::uint64_t needed) {
  const std::uint64_t available = fs::space(dir.Path()).available;
  if (available >= needed) return {};
  return "needs " + std::to_string(needed / MiB) + " MiB free in " + dir.Path().string() +
         ", has " + std::to_string(available / MiB) + " MiB";
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

constexpr std::size_t IoChunk = 4 << 20;  // one huge read or write is much slower

void WriteAt(int fd, std::string_view bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), std::min(bytes.size(), IoChunk),
                               static_cast<off_t>(offset));
    ASSERT_GT(n, 0) << std::strerror(errno);
    bytes.remove_prefix(static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
}

std::string ReadAt(const std::string& path, std::uint64_t offset, std::size_t size) {
  const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  std::string bytes(size, '\0');
  std::size_t done = 0;
  while (fd.Get() >= 0 && done < size) {
    const ssize_t n = ::pread(fd.Get(), bytes.data() + done, std::min(size - done, IoChunk),
                              static_cast<off_t>(offset + done));
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

std::uint64_t SizeOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return 0;
  return static_cast<std::uint64_t>(status.st_size);
}

// --- More than 4 GiB --------------------------------------------------------

// Distinctive bytes over zeros (holes): at the start, across the 2 GiB and
// 4 GiB lines where 32-bit offsets would wrap, and at the very end.
struct Patch {
  std::uint64_t offset;
  std::string bytes;
};

// The original's bytes [offset, offset + size).
std::string OriginalBytes(const std::vector<Patch>& patches, std::uint64_t offset, std::size_t size) {
  std::string bytes(size, '\0');
  for (const Patch& patch : patches) {
    for (std::size_t i = 0; i < patch.bytes.size(); ++i) {
      const std::uint64_t at = patch.offset + i;
      if (at >= offset && at < offset + size) bytes[at - offset] = patch.bytes[i];
    }
  }
  return bytes;
}

TEST(LargeFile, MarkOfAFileOverFourGiBIsRemovedAndEverythingMovesByThree) {
  ScratchDir dir;
  const std::string file = dir / "big";
  const std::uint64_t size = 4 * GiB + 5000;
  // The sparse original takes almost nothing; the copy is written out whole.
  if (const std::string shortage = SpaceShortage(dir, size + 512 * MiB); !shortage.empty()) {
    GTEST_SKIP() << shortage;
  }
  const std::vector<Patch> patches{
      {0, Bom + "<start of the file>"},
      {2 * GiB - 9, "<across 2 GiB>"},
      {4 * GiB - 9, "<across 4 GiB>"},
      {size - 17, "<end of the file>"},
  };
  {
    const Fd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    ASSERT_GE(fd.Get(), 0) << std::strerror(errno);
    ASSERT_EQ(::ftruncate(fd.Get(), static_cast<off_t>(size)), 0) << std::strerror(errno);
    for (const Patch& patch : patches) {
      ASSERT_NO_FATAL_FAILURE(WriteAt(fd.Get(), patch.bytes, patch.offset));
    }
  }

  const auto run = support::RunTool({file});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out, "");
  ASSERT_EQ(SizeOf(file), size - Bom.size());
  for (const Patch& patch : patches) {
    // The patch and some zeros around it, where the stripped file has them.
    const std::uint64_t from = patch.offset >= 64 ? patch.offset - 64 : 0;
    const std::uint64_t to = std::min(patch.offset + patch.bytes.size() + 64, size);
    const std::size_t length = static_cast<std::size_t>(to - from - Bom.size());
    const std::uint64_t stripped_from = from == 0 ? 0 : from - Bom.size();
    const std::uint64_t original_from = stripped_from + Bom.size();
    EXPECT_EQ(ReadAt(file, stripped_from, length), OriginalBytes(patches, original_from, length))
        << "around original offset " << patch.offset;
  }
  EXPECT_EQ(dir.Listing(), "big\n");
}

// --- kill -9 during a rewrite -------------------------------------------------

// Whether the file's bytes are exactly `expected`.
bool Holds(const std::string& path, std::string_view expected) {
  const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (fd.Get() < 0 || ::fstat(fd.Get(), &status) != 0 ||
      static_cast<std::uint64_t>(status.st_size) != expected.size()) {
    return false;
  }
  std::string buffer(IoChunk, '\0');
  for (std::size_t offset = 0; offset < expected.size();) {
    const ssize_t n = ::pread(fd.Get(), buffer.data(), std::min(IoChunk, expected.size() - offset),
                              static_cast<off_t>(offset));
    if (n <= 0 || expected.compare(offset, static_cast<std::size_t>(n),
                                   std::string_view(buffer).substr(0, static_cast<std::size_t>(n))) != 0) {
      return false;
    }
    offset += static_cast<std::size_t>(n);
  }
  return true;
}

// Flushed, so that no writeback of ours slows one run of the tool more than
// another and the measured duration holds for all of them.
void WriteWhole(const std::string& path, const std::string& bytes) {
  const Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  ASSERT_GE(fd.Get(), 0) << std::strerror(errno);
  ASSERT_NO_FATAL_FAILURE(WriteAt(fd.Get(), bytes, 0));
  ASSERT_EQ(::fdatasync(fd.Get()), 0) << std::strerror(errno);
}

// The tool on `file`, not waited for; its output goes to `output`.
pid_t StartTool(const std::string& file, const std::string& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string tool = support::ToolPath();
  char* argv[] = {const_cast<char*>(tool.c_str()), const_cast<char*>(file.c_str()), nullptr};
  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

TEST(KillDuringRewrite, NameAlwaysHoldsTheWholeOldOrTheWholeNewContent) {
  ScratchDir dir;
  ScratchDir outputs;  // kept apart so that the listing shows only the tool's doing
  const std::string file = dir / "f";
  const std::string output = outputs / "out";
  constexpr std::size_t TailSize = 256 * MiB;
  if (const std::string shortage = SpaceShortage(dir, 3 * TailSize + 256 * MiB); !shortage.empty()) {
    GTEST_SKIP() << shortage;
  }
  std::string original = Bom;
  original.resize(Bom.size() + TailSize);
  std::mt19937_64 bytes(1);
  for (std::size_t i = Bom.size(); i + 8 <= original.size(); i += 8) {
    const std::uint64_t word = bytes();
    std::memcpy(original.data() + i, &word, 8);
  }
  const std::string_view stripped = std::string_view(original).substr(Bom.size());

  // One run to the end gives the window the kills are spread over.
  ASSERT_NO_FATAL_FAILURE(WriteWhole(file, original));
  const auto started = std::chrono::steady_clock::now();
  const pid_t whole = StartTool(file, output);
  ASSERT_GT(whole, 0);
  ASSERT_EQ(WaitFor(whole), 0) << support::ReadFile(output);
  const auto duration = std::chrono::steady_clock::now() - started;
  ASSERT_TRUE(Holds(file, stripped)) << "an uninterrupted run must strip the mark";

  constexpr int Runs = 20;
  constexpr unsigned Seed = 20260101;
  std::mt19937 random(Seed);
  // A little past the measured end, so that the last moments (the rename and
  // what follows it) are hit too, whatever the run-to-run variation.
  std::uniform_int_distribution<long long> delay(
      0, std::chrono::duration_cast<std::chrono::microseconds>(duration).count() * 5 / 4);
  int killed = 0, kept_original = 0, left_over = 0;
  for (int run = 0; run < Runs; ++run) {
    SCOPED_TRACE("run " + std::to_string(run) + " of seed " + std::to_string(Seed));
    ASSERT_NO_FATAL_FAILURE(WriteWhole(file, original));
    const pid_t pid = StartTool(file, output);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    ::kill(pid, SIGKILL);  // a no-op if it is done already
    const int status = WaitFor(pid);
    if (WIFSIGNALED(status)) {
      ++killed;
    } else {
      ASSERT_EQ(status, 0) << support::ReadFile(output);
    }

    const bool is_original = Holds(file, original);
    kept_original += is_original;
    ASSERT_TRUE(is_original || Holds(file, stripped))
        << "the name holds neither the original nor the stripped content (" << SizeOf(file)
        << " bytes)";
    // A kill between naming the new file and renaming it can leave that name.
    left_over += dir.Listing() != "f\n";
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
      if (entry.path().filename() != "f") fs::remove(entry.path());
    }
  }
  std::cout << "[ kills    ] one run took "
            << std::chrono::duration_cast<std::chrono::milliseconds>(duration).count() << " ms; "
            << killed << " of " << Runs << " runs killed, " << kept_original
            << " left the original, " << Runs - kept_original << " the stripped content, "
            << left_over << " left a temporary name\n";
}

}  // namespace
