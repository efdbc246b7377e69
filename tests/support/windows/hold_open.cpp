// hold_open FILE COMMAND [ARGUMENT...]: runs COMMAND while FILE is held open
// with no sharing, as another program might hold it (an editor, a virus
// scanner), and passes on its output and exit status.

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/process.h"
#include "support/windows/system.h"

namespace {

void Write(DWORD which, std::string_view text) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int main() {
  // The file's name may lie outside the ANSI code page: UTF-16 it is.
  int count = 0;
  LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (arguments == nullptr || count < 3) {
    Write(STD_ERROR_HANDLE, "usage: hold_open FILE COMMAND [ARGUMENT...]\n");
    return 125;
  }
  const HANDLE held = ::CreateFileW(arguments[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    Write(STD_ERROR_HANDLE, "hold_open: cannot open the file: " + support::SystemMessage(::GetLastError()) + "\n");
    return 125;
  }
  std::vector<std::string> command;
  for (int i = 2; i < count; ++i) command.push_back(support::Utf8(arguments[i]));
  ::LocalFree(arguments);
  const support::RunResult result = support::RunCommand(command);
  ::CloseHandle(held);
  Write(STD_OUTPUT_HANDLE, result.out);
  Write(STD_ERROR_HANDLE, result.err);
  return result.status;
}
