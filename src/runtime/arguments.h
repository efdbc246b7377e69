#pragma once

#include <string>
#include <vector>

namespace quillmote::rt {

// The command-line arguments after the program's name, as file names in the
// form the file services take (the bytes as given on POSIX; UTF-8 on
// Windows, whose own command line is UTF-16).
std::vector<std::string> CommandLineArguments(int argc, char* argv[]);

}  // namespace quillmote::rt
