#include "runtime/report.h"

#include <cstdio>
#include <new>

#include "runtime/console.h"
#include "runtime/module.h"

namespace quillmote::rt {

std::string FormatReport(const Error& error) {
  const CodeLocation where = LocateCode(error.RaisedAt());
  char address[32];
  std::snprintf(address, sizeof address, "%08llX",
                static_cast<unsigned long long>(where.offset & 0xFFFFFFFFu));
  std::string report = "Exception ";
  report.append(error.ClassName())
      .append(" in module ")
      .append(where.module)
      .append(" at ")
      .append(address)
      .append(".\n");
  std::string message = error.what();
  if (!message.empty() && message.back() != '.') message.push_back('.');
  report.append(message).append("\r\n");
  return report;
}

namespace {

int Report(const Error& error) {
  try {
    WriteToStandardOutput(FormatReport(error));
  } catch (...) {
    // Standard output itself failed; the exit status still tells the caller.
  }
  return 1;
}

}  // namespace

int RunReportingErrors(const std::function<void()>& body) {
  try {
    body();
    return 0;
  } catch (const Error& error) {
    return Report(error);
  } catch (const std::bad_alloc&) {
    // The standard library does not say where it ran out.
    return Report(EOutOfMemory(nullptr));
  }
}

}  // namespace quillmote::rt
