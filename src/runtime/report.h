#pragma once

#include <functional>
#include <string>

#include "runtime/errors.h"

namespace quillmote::rt {

// The two-line report of an error nobody caught: class, module and address on
// a line ended by LF, then the message with its full stop, ended by CR LF.
std::string FormatReport(const Error& error);

// Runs `body`; the first error it raises is reported on standard output and
// turned into exit status 1. Returns the process's exit status.
int RunReportingErrors(const std::function<void()>& body);

}  // namespace quillmote::rt
