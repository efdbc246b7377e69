// Every system call of a rewrite is failed in turn (strace -e inject), one run
// per call: whatever fails, the names must hold the whole old or the whole new
// content, with a report when the run could not finish and nothing left over.
//
// The calls and their occurrence numbers come from a clean traced run of the
// same scenario, so the matrix follows the code as it changes.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/scratch.h"

namespace {

using support::Bom;
using support::ReadFile;
using support::RunCommand;
using support::RunResult;
using support::ScratchDir;
using support::WriteFile;

const std::regex ReportShape(
    "Exception (EFOpenError|EInOutError|EOutOfMemory) in module quillmote at [0-9A-F]{8}\\.\n"
    "[^\r\n]*\\.\r\n");

using support::Nobody;

// --- Traces -------------------------------------------------------------------

struct TracedCall {
  std::string name;
  int occurrence = 0;  // among calls of this name since exec: what when= counts
  bool injected = false;
  std::string line;
};

// The name in "PID  name(arguments) = result"; empty for the lines of exits
// and signals. By hand: std::regex is slow in a sanitized debug build.
std::string CallName(const std::string& line) {
  std::size_t at = line.find_first_not_of("0123456789");
  at = line.find_first_not_of(' ', at == std::string::npos ? line.size() : at);
  if (at == std::string::npos) return {};
  const std::size_t end = line.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_", at);
  if (end == std::string::npos || end == at || line[end] != '(') return {};
  return line.substr(at, end - at);
}

std::vector<TracedCall> ParseTrace(const std::string& text) {
  std::vector<TracedCall> calls;
  std::map<std::string, int> seen;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::string name = CallName(line);
    if (name.empty()) continue;
    calls.push_back({name, ++seen[name], line.find("(INJECTED)") != std::string::npos, line});
  }
  return calls;
}

// The memory allocator's calls: not the tool's to handle (a failure is out of
// memory, or a sanitizer's abort), and in a sanitized build they come and go
// from run to run.
bool IsAllocatorCall(const TracedCall& call) {
  static const std::set<std::string> names{"mmap", "munmap", "mremap", "brk", "madvise", "mprotect"};
  return names.count(call.name) != 0;
}

std::string Injection(const std::string& call, const std::string& error, int when = 0) {
  std::string injection = "inject=" + call + ":error=" + error;
  if (when > 0) injection += ":when=" + std::to_string(when);
  return injection;
}

RunResult RunTraced(const std::string& trace_path, const std::vector<std::string>& injections,
                    const std::string& file) {
  std::vector<std::string> args{"-f", "-o", trace_path};
  for (const auto& injection : injections) {
    args.push_back("-e");
    args.push_back(injection);
  }
  args.push_back(support::ToolPath());
  args.push_back(file);
  return RunCommand(support::Strace(args));
}

// --- Scenarios ----------------------------------------------------------------

// A refusal injected into every run of a scenario, the clean one included, to
// steer the tool onto a fallback path rather than to fail it.
struct Steering {
  const char* call;
  const char* error;
  const char* only_where;  // the first call whose line shows this; nullptr: every call
};

struct Scenario {
  const char* label;
  std::size_t tail_size;  // bytes after the mark
  bool second_link;       // a hard link "g" beside the file "f"
  std::optional<Steering> steering;
  std::vector<std::string> required;  // calls the matrix must reach
};

void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.label; }

std::string MarkedContent(std::size_t tail_size) {
  std::mt19937 random(7);
  std::string content = Bom;
  content.reserve(Bom.size() + tail_size);
  for (std::size_t i = 0; i < tail_size; ++i) content.push_back(static_cast<char>(random()));
  return content;
}

bool Privileged() { return ::geteuid() == 0; }

constexpr const char* Attribute = "user.quillmote-test";

// The file starts out owned by someone else than the tool's user, where we
// may arrange that, and with an extended attribute, where the file system
// has them, so that carrying both over is part of the path.
void Lay(const ScratchDir& dir, const Scenario& scenario, const std::string& content) {
  const std::string file = dir / "f";
  WriteFile(file, content);
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  if (Privileged()) {
    ASSERT_EQ(::chown(file.c_str(), Nobody, Nobody), 0);
  }
  if (::setxattr(file.c_str(), Attribute, "kept", 4, 0) != 0) {
    ASSERT_EQ(errno, ENOTSUP) << std::strerror(errno);
  }
  if (scenario.second_link) {
    ASSERT_EQ(::link(file.c_str(), (dir / "g").c_str()), 0);
  }
}

// support::ReadFile goes byte by byte: too slow for megabytes, many times
// over, in a sanitized debug build.
std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// Whether the file system of `dir` has user attributes (Lay gives one).
bool KeepsUserAttributes(const ScratchDir& dir) {
  const std::string probe = dir / "probe";
  WriteFile(probe, "");
  const bool kept = ::setxattr(probe.c_str(), Attribute, "", 0, 0) == 0;
  std::filesystem::remove(probe);
  return kept;
}

std::string Which(const std::string& content, const std::string& original) {
  if (content == original) return "the original";
  if (content.size() + Bom.size() == original.size() &&
      original.compare(Bom.size(), std::string::npos, content) == 0) {
    return "the stripped content";
  }
  return "other content of " + std::to_string(content.size()) + " bytes";
}

ino_t InodeOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return 0;
  return status.st_ino;
}

// The names hold `expected` (the original or the stripped content) and
// nothing else is in the directory; a second name still is the same file.
void ExpectNamesHold(const ScratchDir& dir, const Scenario& scenario, const std::string& original,
                     const std::string& expected) {
  EXPECT_EQ(Which(Contents(dir / "f"), original), Which(expected, original));
  if (scenario.second_link) {
    EXPECT_EQ(Which(Contents(dir / "g"), original), Which(expected, original)) << "second name";
    EXPECT_EQ(InodeOf(dir / "f"), InodeOf(dir / "g")) << "the two names came apart";
    EXPECT_EQ(dir.Listing(), "f\ng\n");
  } else {
    EXPECT_EQ(dir.Listing(), "f\n");
  }
}

// --- The matrix ---------------------------------------------------------------

enum class Outcome {
  Reported,   // exit status 1 and the report
  RiddenOut,  // exit status 0 and the stripped content
  EitherWay,  // off the data path, or too late to matter: ridden out or reported
};

struct Row {
  TracedCall call;
  std::string error;
  Outcome outcome;
  bool late;  // after the new content took the name: a failure keeps it
};

// Failed as a full disk would fail them; everything else as a bad disk would.
const std::set<std::string> WriteLikeCalls{"write",    "pwrite64",  "pwritev",   "pwritev2",
                                           "fsync",    "fdatasync", "fallocate", "copy_file_range"};
// Interrupted before anything moved: to be restarted, not reported.
const std::set<std::string> RestartableCalls{"read", "pread64", "write", "pwrite64", "copy_file_range"};
// Calls that move no data: signal masks, the process id (in a temporary
// name). The tool may go on or give up when they fail.
const std::set<std::string> SideCalls{"getpid", "rt_sigprocmask", "rt_sigpending", "rt_sigaction"};

// From the clean trace: every call after the tool first opens the file (the
// dynamic loader's calls before that are not the tool's), each failed once.
std::vector<Row> BuildRows(const std::vector<TracedCall>& trace, const std::string& file,
                           const Scenario& scenario) {
  std::size_t start = trace.size();
  for (std::size_t i = 0; i < trace.size(); ++i) {
    if (trace[i].name == "openat" && trace[i].line.find('"' + file + '"') != std::string::npos) {
      start = i;
      break;
    }
  }
  // The new content takes the name at the rename; in place, once it is flushed.
  std::optional<std::size_t> commit;
  for (std::size_t i = start; i < trace.size(); ++i) {
    const std::string& name = trace[i].name;
    if (name == "renameat" || name == "renameat2" || name == "rename") {
      commit = i;
      break;
    }
    if (name == "fsync" || name == "fdatasync") commit = i;
  }
  std::vector<Row> rows;
  if (!commit) return rows;
  for (std::size_t i = start; i < trace.size(); ++i) {
    const TracedCall& call = trace[i];
    if (call.name == "exit_group" || IsAllocatorCall(call)) continue;
    // strace keeps one injection per call name: a steered call cannot be failed too.
    if (scenario.steering && call.name == scenario.steering->call) continue;
    const bool late = i > *commit;
    Outcome outcome = Outcome::Reported;
    if (SideCalls.count(call.name) || (late && call.name == "close")) outcome = Outcome::EitherWay;
    rows.push_back({call, WriteLikeCalls.count(call.name) ? "ENOSPC" : "EIO", outcome, late});
    if (RestartableCalls.count(call.name)) rows.push_back({call, "EINTR", Outcome::RiddenOut, late});
  }
  return rows;
}

std::string Describe(const Row& row) {
  std::ostringstream text;
  text << row.call.name << " #" << row.call.occurrence << " fails with " << row.error
       << (row.late ? " after the commit: " : ": ") << row.call.line;
  return text.str();
}

// The K-th call of that name was the one failed, and the run got there the
// same way as the clean run: the matrix tests what it claims to.
void ExpectInjectedWhereMeant(const std::vector<TracedCall>& clean, const std::string& trace_text,
                              const Row& row) {
  const auto path_calls = [](std::vector<TracedCall> calls, const TracedCall& last) {
    std::vector<TracedCall> path;
    for (auto& call : calls) {
      if (IsAllocatorCall(call)) continue;
      path.push_back(std::move(call));
      if (path.back().name == last.name && path.back().occurrence == last.occurrence) return path;
    }
    return std::vector<TracedCall>{};
  };
  const std::vector<TracedCall> expected = path_calls(clean, row.call);
  const std::vector<TracedCall> traced = path_calls(ParseTrace(trace_text), row.call);
  ASSERT_FALSE(traced.empty()) << "the run ended before the call";
  ASSERT_EQ(traced.size(), expected.size()) << "the run went another way";
  for (std::size_t i = 0; i < traced.size(); ++i) {
    ASSERT_EQ(traced[i].name, expected[i].name) << "the run went another way at " << traced[i].line;
  }
  EXPECT_TRUE(traced.back().injected) << traced.back().line;
}

// The report gives the reason the system gave.
void ExpectReport(const RunResult& run, const std::string& error) {
  EXPECT_TRUE(std::regex_match(run.out, ReportShape)) << run.out;
  const std::string reason = error == "ENOSPC" ? "Disk full" : std::strerror(EIO);
  EXPECT_NE(run.out.find(reason), std::string::npos) << run.out;
}

class FaultMatrix : public testing::TestWithParam<Scenario> {};

TEST_P(FaultMatrix, EveryFailedCallLeavesTheWholeOldOrNewContent) {
  const Scenario& scenario = GetParam();
  if (!support::HaveProgram("strace")) GTEST_SKIP() << "strace is not installed";

  const std::string original = MarkedContent(scenario.tail_size);
  const std::string stripped = original.substr(Bom.size());
  ScratchDir traces;

  std::vector<std::string> steering;
  if (scenario.steering) {
    const Steering& steer = *scenario.steering;
    int when = 0;
    if (steer.only_where) {
      ScratchDir dir;
      ASSERT_NO_FATAL_FAILURE(Lay(dir, scenario, original));
      ASSERT_EQ(RunTraced(traces / "unsteered", {}, dir / "f").status, 0);
      for (const TracedCall& call : ParseTrace(ReadFile(traces / "unsteered"))) {
        if (call.name == steer.call && call.line.find(steer.only_where) != std::string::npos) {
          when = call.occurrence;
          break;
        }
      }
      ASSERT_NE(when, 0) << "no " << steer.call << " showing " << steer.only_where;
    }
    steering.push_back(Injection(steer.call, steer.error, when));
  }

  std::vector<TracedCall> clean;
  std::vector<Row> rows;
  {
    ScratchDir dir;
    ASSERT_NO_FATAL_FAILURE(Lay(dir, scenario, original));
    const RunResult run = RunTraced(traces / "clean", steering, dir / "f");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    ASSERT_NO_FATAL_FAILURE(ExpectNamesHold(dir, scenario, original, stripped));
    clean = ParseTrace(ReadFile(traces / "clean"));
    if (scenario.steering) {
      ASSERT_TRUE(std::any_of(clean.begin(), clean.end(), [](const auto& c) { return c.injected; }))
          << "the steering refusal never happened";
    }
    rows = BuildRows(clean, dir / "f", scenario);
  }

  // It must not pass by testing nothing.
  ASSERT_FALSE(rows.empty()) << "no call of the tool found in the trace, or no commit point";
  std::set<std::string> reached;
  for (const Row& row : rows) reached.insert(row.call.name);
  const bool has_attribute = KeepsUserAttributes(traces);
  for (const std::string& call : scenario.required) {
    // Only root can give a file to someone else, and so make the owners differ.
    if (call == "fchown" && !Privileged()) continue;
    if ((call == "fgetxattr" || call == "fsetxattr") && !has_attribute) continue;
    EXPECT_TRUE(reached.count(call)) << call << " not reached";
  }

  for (std::size_t n = 0; n < rows.size(); ++n) {
    const Row& row = rows[n];
    SCOPED_TRACE(Describe(row));
    ScratchDir dir;
    ASSERT_NO_FATAL_FAILURE(Lay(dir, scenario, original));
    std::vector<std::string> injections = steering;
    injections.push_back(Injection(row.call.name, row.error, row.call.occurrence));
    const std::string trace = traces / ("row" + std::to_string(n));
    const RunResult run = RunTraced(trace, injections, dir / "f");
    ASSERT_NO_FATAL_FAILURE(ExpectInjectedWhereMeant(clean, ReadFile(trace), row));
    EXPECT_EQ(run.err, "");

    const bool reported =
        row.outcome == Outcome::Reported || (row.outcome == Outcome::EitherWay && run.status != 0);
    if (reported) {
      EXPECT_EQ(run.status, 1);
      ExpectReport(run, row.error);
      ExpectNamesHold(dir, scenario, original, row.late ? stripped : original);
    } else {
      EXPECT_EQ(run.status, 0) << run.out;
      EXPECT_EQ(run.out, "");
      ExpectNamesHold(dir, scenario, original, stripped);
    }
  }
  std::cout << "[ matrix   ] " << scenario.label << ": " << rows.size() << " failed calls over "
            << reached.size() << " kinds of call\n";
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, FaultMatrix,
    testing::Values(
        // A few hundred KiB: more than one round of reading and writing.
        Scenario{"RenamePath", 600 << 10, false, std::nullopt,
                 {"pread64", "write", "fchown", "fgetxattr", "fsetxattr", "fchmod", "fsync", "linkat",
                  "renameat"}},
        // No O_TMPFILE: the new content is built under a hidden name, which
        // every failure must remove again.
        Scenario{"NamedTemporary", 300 << 10, false, Steering{"openat", "EOPNOTSUPP", "O_TMPFILE"},
                 {"pread64", "write", "fsync", "renameat"}},
        // A second name: shifted in place, so that both names stay one file;
        // more than one round of reading and writing back.
        Scenario{"SecondHardLink", (2 << 20) + 5000, true, std::nullopt,
                 {"pread64", "pwrite64", "ftruncate", "fdatasync"}}),
    [](const testing::TestParamInfo<Scenario>& info) { return info.param.label; });

}  // namespace
