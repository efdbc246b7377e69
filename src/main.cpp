// quillmote: removes the UTF-8 byte-order mark from the start of files.
// Every argument is a file name; there are no options, so that any name a
// shell or xargs hands over is treated as a file.

#include <string>

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
    if (argc <= 1) {
      ShowBannerAndWait();
      return;
    }
    for (int i = 1; i < argc; ++i) quillmote::StripBom(argv[i]);
  });
}
