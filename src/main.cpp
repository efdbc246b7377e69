// quillmote: removes the UTF-8 byte-order mark from the start of files.
// Every argument is a file name; there are no options, so that any name a
// shell or xargs hands over is treated as a file.

#include <string>
#include <vector>

#include "runtime/arguments.h"
#include "runtime/console.h"
#include "runtime/report.h"
#include "strip_bom.h"
#include "version.h"

namespace {

void ShowBannerAndWait() {
  std::string banner = "quillmote ";
  banner.append(quillmote::Version).append(" (c) 2026 the quillmote developers\r\n");
  quillmote::rt::WriteToStandardOutput(banner);
  quillmote::rt::ReadLineFromStandardInput();
}

}  // namespace

int main(int argc, char* argv[]) {
  return quillmote::rt::RunReportingErrors([&] {
    // Taken once: the list does not change while the files are handled.
    const std::vector<std::string> names = quillmote::rt::CommandLineArguments(argc, argv);
    if (names.empty()) {
      ShowBannerAndWait();
      return;
    }
    quillmote::rt::Replacements replacements;
    for (const std::string& name : names) quillmote::StripBom(name, replacements);
    replacements.Finish();
  });
}
