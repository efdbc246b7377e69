#include "support/process.h"

#include <windows.h>

#include <algorithm>
#include <system_error>
#include <tuple>
#include <utility>

#include "support/windows/system.h"

namespace support {

namespace {

[[noreturn]] void Fail(const char* what) {
  throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle == nullptr ? INVALID_HANDLE_VALUE : handle) {}
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  Handle& operator=(Handle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  ~Handle() { Close(); }
  HANDLE Get() const { return handle_; }
  HANDLE* Out() { return &handle_; }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The child inherits its ends; the parent's own ends stay with the parent.
std::pair<Handle, Handle> Pipe() {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  Handle reader, writer;
  if (!::CreatePipe(reader.Out(), writer.Out(), &inheritable, 0)) Fail("CreatePipe");
  return {std::move(reader), std::move(writer)};
}

void KeepFromChild(const Handle& handle) {
  if (!::SetHandleInformation(handle.Get(), HANDLE_FLAG_INHERIT, 0)) Fail("SetHandleInformation");
}

Handle OpenInheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  Handle handle(::CreateFileW(Wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) Fail("CreateFileW");
  return handle;
}

// One argument, quoted so that CommandLineToArgvW and the C runtime give it
// back as it was.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    quoted.push_back(c);
    backslashes = 0;
  }
  quoted.append(2 * backslashes, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

std::string ReadToEnd(HANDLE handle) {
  std::string data;
  for (char buffer[4096];;) {
    DWORD count = 0;
    if (!::ReadFile(handle, buffer, sizeof buffer, &count, nullptr) || count == 0) return data;
    data.append(buffer, count);
  }
}

// Reads both pipes to their end without letting either fill up.
void Drain(HANDLE out, HANDLE err, RunResult& result) {
  struct Source {
    HANDLE pipe;
    std::string* sink;
  };
  std::vector<Source> open;
  if (out != INVALID_HANDLE_VALUE) open.push_back({out, &result.out});
  open.push_back({err, &result.err});
  while (!open.empty()) {
    bool moved = false;
    for (auto it = open.begin(); it != open.end();) {
      DWORD available = 0;
      // Fails once the writers are gone and nothing is left.
      if (!::PeekNamedPipe(it->pipe, nullptr, 0, nullptr, &available, nullptr)) {
        it = open.erase(it);
        continue;
      }
      if (available > 0) {
        char buffer[4096];
        DWORD count = 0;
        if (!::ReadFile(it->pipe, buffer, std::min<DWORD>(available, sizeof buffer), &count, nullptr)) Fail("ReadFile");
        it->sink->append(buffer, count);
        moved = true;
      }
      ++it;
    }
    if (!moved) ::Sleep(1);
  }
}

}  // namespace

RunResult RunCommand(const std::vector<std::string>& argv, const RunOptions& options) {
  // The parent keeps the child's end of its input (and the input file's
  // position, which the child shares) to see what the child left unread.
  Handle input, input_writer;
  if (options.input_file) {
    input = OpenInheritable(*options.input_file, GENERIC_READ, OPEN_EXISTING);
  } else {
    std::tie(input, input_writer) = Pipe();
    KeepFromChild(input_writer);
  }
  Handle out_reader, out_writer;
  if (options.output_file) {
    out_writer = OpenInheritable(*options.output_file, GENERIC_WRITE, CREATE_ALWAYS);
  } else {
    std::tie(out_reader, out_writer) = Pipe();
    KeepFromChild(out_reader);
  }
  auto [err_reader, err_writer] = Pipe();
  KeepFromChild(err_reader);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.Get();
  startup.hStdOutput = out_writer.Get();
  startup.hStdError = err_writer.Get();
  std::wstring command_line;
  for (const std::string& argument : argv) {
    if (!command_line.empty()) command_line.push_back(L' ');
    command_line += Quoted(Wide(argument));
  }
  const std::wstring directory = options.directory ? Wide(*options.directory) : std::wstring();
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &started)) {
    Fail("CreateProcessW");
  }
  const Handle process(started.hProcess);
  const Handle thread(started.hThread);
  out_writer.Close();
  err_writer.Close();
  if (input_writer) {
    // Inputs are small: they fit in the pipe, so writing first cannot block.
    DWORD written = 0;
    if (!options.input.empty() &&
        !::WriteFile(input_writer.Get(), options.input.data(), static_cast<DWORD>(options.input.size()), &written, nullptr)) {
      Fail("WriteFile");
    }
    input_writer.Close();
  }

  RunResult result;
  Drain(out_reader.Get(), err_reader.Get(), result);
  DWORD exit_code = 0;
  if (::WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(process.Get(), &exit_code)) {
    Fail("waiting for the child");
  }
  result.status = static_cast<int>(exit_code);
  result.unread_input = ReadToEnd(input.Get());
  return result;
}

std::string ToolPath() { return HostPath(QUILLMOTE_EXE); }

RunResult RunTool(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv{ToolPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv, options);
}

}  // namespace support
