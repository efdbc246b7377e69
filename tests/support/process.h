#pragma once
// Runs a program as a child process and captures what it prints.

#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace support {

struct RunOptions {
  std::string input;                       // fed through a pipe, then closed
  std::optional<std::string> input_file;   // instead of the pipe: a file opened as stdin
  std::optional<std::string> output_file;  // stdout goes there instead of being captured
  std::optional<std::string> directory;    // working directory of the child
};

inline RunOptions WithInput(std::string input) {
  RunOptions options;
  options.input = std::move(input);
  return options;
}
inline RunOptions WithInputFile(std::string path) {
  RunOptions options;
  options.input_file = std::move(path);
  return options;
}
inline RunOptions WithOutputFile(std::string path) {
  RunOptions options;
  options.output_file = std::move(path);
  return options;
}
inline RunOptions InDirectory(std::string path) {
  RunOptions options;
  options.directory = std::move(path);
  return options;
}

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
  // What the child left of its standard input (the pipe's or the input
  // file's): what a command run after it on the same input would read.
  std::string unread_input;
};

RunResult RunCommand(const std::vector<std::string>& argv, const RunOptions& options = {});

// The built tool with `args`.
RunResult RunTool(const std::vector<std::string>& args, const RunOptions& options = {});

std::string ToolPath();

// POSIX only. `strace` with `strace_args` (which end with the command to
// trace). A sanitized build's leak check cannot run under ptrace, so it is
// turned off for the traced command.
std::vector<std::string> Strace(const std::vector<std::string>& strace_args);

// POSIX only: the unprivileged user (and group) the permission tests run as.
inline constexpr unsigned Nobody = 65534;

// POSIX only. The tool's command line, prefixed so that it runs as the
// unprivileged user nobody (tests run as root in CI, and root passes every
// permission check).
std::vector<std::string> ToolAsNobody(const std::vector<std::string>& args);

// POSIX only. True when `program` is found on PATH.
bool HaveProgram(const std::string& program);

}  // namespace support
