#include "runtime/arguments.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "runtime/io_error.h"
#include "runtime/windows/wide.h"

namespace quillmote::rt {

namespace {

struct LocalFreer {
  void operator()(void* block) const { ::LocalFree(block); }
};

}  // namespace

// The C runtime's argv is in the ANSI code page, which cannot hold every file
// name: the arguments are taken from the UTF-16 command line instead.
std::vector<std::string> CommandLineArguments(int /*argc*/, char* /*argv*/[]) {
  int count = 0;
  const std::unique_ptr<LPWSTR[], LocalFreer> arguments(::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!arguments) RaiseOsInOutError(static_cast<int>(::GetLastError()));
  std::vector<std::string> names;
  for (int i = 1; i < count; ++i) names.push_back(windows::Utf8FromUtf16(arguments[i]));
  return names;
}

}  // namespace quillmote::rt
