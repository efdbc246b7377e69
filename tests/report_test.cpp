// The report of an error nobody caught, and how names appear in messages.

#include "runtime/report.h"

#include <gtest/gtest.h>

#include <regex>

#include "runtime/errors.h"

namespace {

using namespace quillmote::rt;

// Raises through the same raisers the tool uses and hands back the error.
template <typename Raise>
std::string ReportOf(Raise raise) {
  try {
    raise();
  } catch (const Error& error) {
    return FormatReport(error);
  }
  ADD_FAILURE() << "nothing was raised";
  return {};
}

TEST(Report, HasClassModuleAndAddressThenMessageWithFullStop) {
  const std::regex shape(
      "Exception (EFOpenError|EInOutError|EOutOfMemory) in module unit_tests(\\.exe)? at [0-9A-F]{8}\\.\n"
      "[^\r\n]*\\.\r\n");
  const std::string open = ReportOf([] { RaiseFOpenError("a.txt", "Permission denied"); });
  EXPECT_TRUE(std::regex_match(open, shape)) << open;
  EXPECT_NE(open.find("EFOpenError"), std::string::npos);
  EXPECT_NE(open.find("\nCannot open file \"a.txt\". Permission denied.\r\n"), std::string::npos) << open;

  const std::string io = ReportOf([] { RaiseInOutError(5, "b.txt"); });
  EXPECT_TRUE(std::regex_match(io, shape)) << io;
  EXPECT_NE(io.find("\nFile access denied: \"b.txt\".\r\n"), std::string::npos) << io;

  const std::string memory = ReportOf([] { RaiseOutOfMemory(); });
  EXPECT_TRUE(std::regex_match(memory, shape)) << memory;
}

TEST(Report, AddressIsWhereTheErrorWasRaised) {
  // Two raises from different places in the code give different addresses;
  // the same place gives the same one.
  const auto address = [](const std::string& report) { return report.substr(report.find(" at ") + 4, 8); };
  std::string first, second, again;
  for (int i = 0; i < 2; ++i) {
    const std::string here = ReportOf([] { RaiseInOutError(2, ""); });
    (i == 0 ? first : again) = here;
  }
  second = ReportOf([] { RaiseInOutError(3, ""); });
  EXPECT_EQ(address(first), address(again));
  EXPECT_NE(address(first), address(second));
}

TEST(Report, FullStopOnlyWhenMissing) {
  const auto message_line = [](const Error& error) {
    const std::string report = FormatReport(error);
    return report.substr(report.find('\n') + 1);
  };
  EXPECT_EQ(message_line(EInOutError(101, "Disk full", nullptr)), "Disk full.\r\n");
  EXPECT_EQ(message_line(EInOutError(101, "Already ends.", nullptr)), "Already ends.\r\n");
  EXPECT_EQ(message_line(EInOutError(101, "", nullptr)), "\r\n");
}

TEST(IoCodeText, OwnTextsAndTheGeneralOne) {
  EXPECT_EQ(IoCodeText(2), "File not found");
  EXPECT_EQ(IoCodeText(3), "Invalid file name");
  EXPECT_EQ(IoCodeText(4), "Too many open files");
  EXPECT_EQ(IoCodeText(5), "File access denied");
  EXPECT_EQ(IoCodeText(100), "Read beyond end of file");
  EXPECT_EQ(IoCodeText(101), "Disk full");
  EXPECT_EQ(IoCodeText(106), "Invalid numeric input");
  EXPECT_EQ(IoCodeText(32), "I/O error 32");
}

TEST(IoCodeText, SystemErrorsNeverBorrowTheTextOfAnIoCode) {
  // errno 5 (EIO) is not "access denied", though the I/O code 5 is.
  const std::string report = ReportOf([] { RaiseSystemInOutError(5, "Input/output error", "f"); });
  EXPECT_NE(report.find("\nI/O error 5 (Input/output error): \"f\".\r\n"), std::string::npos) << report;
}

TEST(DisplayName, EscapesWhatCouldDriveATerminal) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain name.txt", "plain name.txt"},
      {"r\xC3\xA9sum\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC.txt", "r\xC3\xA9sum\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC.txt"},
      {"a\nb", "a\\nb"},
      {"tab\there\r", "tab\\there\\r"},
      {"\x1B[2Jwiped", "\\033[2Jwiped"},
      {"bell\x07", "bell\\x07"},
      {"del\x7F", "del\\x7f"},
      {"latin1 \xFF\xE9", "latin1 \\xff\\xe9"},
      {"truncated \xE6\x97", "truncated \\xe6\\x97"},
      {"c1 csi \xC2\x9B" "2J", "c1 csi \\xc2\\x9b2J"},
      {"overlong \xC0\xAF", "overlong \\xc0\\xaf"},
      {"surrogate \xED\xA0\x80", "surrogate \\xed\\xa0\\x80"},
  };
  for (const auto& [name, shown] : cases) EXPECT_EQ(DisplayName(name), shown) << shown;
}

}  // namespace
