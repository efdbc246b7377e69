#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace support {

namespace {

[[noreturn]] void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

void Check(int result, const char* what) {
  if (result < 0) Fail(what);
}

// Reads both pipes to their end without letting either fill up.
void Drain(int out_fd, int err_fd, RunResult& result) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = (out_fd >= 0) + 1;
  if (out_fd < 0) fds[0].fd = -1;
  while (open_count > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      Fail("poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

}  // namespace

RunResult RunCommand(const std::vector<std::string>& argv, const RunOptions& options) {
  int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1}, err_pipe[2];
  // The parent keeps the child's end of its input (and the input file's
  // offset, which the child shares) to see what the child left unread.
  int input = -1;
  if (options.input_file) {
    input = ::open(options.input_file->c_str(), O_RDONLY | O_CLOEXEC);
    Check(input, "open");
  } else {
    Check(::pipe2(in_pipe, O_CLOEXEC), "pipe");
    input = in_pipe[0];
  }
  if (!options.output_file) Check(::pipe2(out_pipe, O_CLOEXEC), "pipe");
  Check(::pipe2(err_pipe, O_CLOEXEC), "pipe");

  const pid_t pid = ::fork();
  Check(pid, "fork");
  if (pid == 0) {
    int out = out_pipe[1];
    if (options.output_file) {
      out = ::open(options.output_file->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (out < 0 || ::dup2(input, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err_pipe[1], 2) < 0) {
      ::_exit(126);
    }
    if (options.directory && ::chdir(options.directory->c_str()) != 0) ::_exit(126);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }

  if (out_pipe[1] >= 0) ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (in_pipe[1] >= 0) {
    // Inputs are small: they fit in the pipe, so writing first cannot block.
    const char* data = options.input.data();
    std::size_t left = options.input.size();
    while (left > 0) {
      const ssize_t n = ::write(in_pipe[1], data, left);
      if (n <= 0) break;
      data += n;
      left -= static_cast<std::size_t>(n);
    }
    ::close(in_pipe[1]);
  }

  RunResult result;
  Drain(out_pipe[0], err_pipe[0], result);
  int wait_status = 0;
  while (::waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) Fail("waitpid");
  }
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  for (char buffer[4096];;) {
    const ssize_t n = ::read(input, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.unread_input.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(input);
  return result;
}

std::string ToolPath() { return QUILLMOTE_EXE; }

RunResult RunTool(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv{ToolPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv, options);
}

std::vector<std::string> Strace(const std::vector<std::string>& strace_args) {
  const char* asan_options = std::getenv("ASAN_OPTIONS");
  std::vector<std::string> argv{
      "env", "ASAN_OPTIONS=" + std::string(asan_options ? asan_options : "") + ":detect_leaks=0", "strace"};
  argv.insert(argv.end(), strace_args.begin(), strace_args.end());
  return argv;
}

std::vector<std::string> ToolAsNobody(const std::vector<std::string>& args) {
  const std::string id = std::to_string(Nobody);
  std::vector<std::string> argv{"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups",
                                ToolPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

bool HaveProgram(const std::string& program) {
  const std::string command = "command -v " + program + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace support
