#include "support/output.h"

#include <gtest/gtest.h>

#include <string>

#include "support/capture.h"
#include "support/logger.h"

namespace {

// The printer with a log open in a scratch directory; the console streams are
// captured so that each test can see where a text went.
class PrinterWithLog : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Directory.Ready());
    ASSERT_FALSE(Log.Open((Directory / "quelm").c_str()));
    Printer.SetLogger(&Log);
  }
  void TearDown() override { Printer.SetLogger(nullptr); }

  // The log after its opening line.
  std::string LogBody() {
    std::string text = ReadWholeFile(Directory / "quelm.log");
    return text.substr(text.find('\n') + 1);
  }
  // A log line from its direction mark on (the stamp and its padding cut).
  static std::string Unstamped(const std::string& line) {
    std::size_t mark = line.find_first_not_of(' ', line.find(' '));
    return mark == std::string::npos ? line : line.substr(mark);
  }

  TemporaryDirectory Directory;
  Logger Log;
};

TEST_F(PrinterWithLog, TextsWithoutNewlineJoinOneOutputLine) {
  StreamCapture out(1, Directory / "stdout");
  Printer.Print(ChannelStdout, true, "abc");
  Printer.Print(ChannelStdout, true, "%s\n", "def");
  EXPECT_EQ(out.Finish(), "abcdef\n");
  EXPECT_EQ(Unstamped(LogBody()), "<-- abcdef\n");
}

TEST_F(PrinterWithLog, StandardErrorIsLoggedAsOtherText) {
  StreamCapture out(1, Directory / "stdout");
  StreamCapture err(2, Directory / "stderr");
  Printer.Print(ChannelStderr, true, "Error (%s): %s\n", "book", "missing");
  EXPECT_EQ(err.Finish(), "Error (book): missing\n");
  EXPECT_EQ(out.Finish(), "");
  EXPECT_EQ(Unstamped(LogBody()), "|  Error (book): missing\n");
}

TEST_F(PrinterWithLog, LogOnlyChannelsStayOffTheConsole) {
  StreamCapture out(1, Directory / "stdout");
  StreamCapture err(2, Directory / "stderr");
  Printer.Print(ChannelLogOnly, true, "trace %d\n", 2);
  Printer.Print(5, true, "trace %d\n", 5);
  EXPECT_EQ(out.Finish(), "");
  EXPECT_EQ(err.Finish(), "");
  std::string body = LogBody();
  std::string second = body.substr(body.find('\n') + 1);
  EXPECT_EQ(Unstamped(body.substr(0, body.find('\n') + 1)), "|  trace 2\n");
  EXPECT_EQ(Unstamped(second), "|  trace 5\n");
}

TEST_F(PrinterWithLog, TextNotMeantForTheLogIsNotLogged) {
  StreamCapture out(1, Directory / "stdout");
  Printer.Print(ChannelStdout, false, "readyok\n");
  EXPECT_EQ(out.Finish(), "readyok\n");
  EXPECT_EQ(LogBody(), "");
}

TEST_F(PrinterWithLog, TextsLongerThanTheBufferArriveWhole) {
  std::string pv;
  while (pv.size() < 20000) pv += " e2e4 e7e5";
  StreamCapture out(1, Directory / "stdout");
  Printer.Print(ChannelStdout, true, "info pv%s\n", pv.c_str());
  EXPECT_EQ(out.Finish(), "info pv" + pv + "\n");
  EXPECT_EQ(Unstamped(LogBody()), "<-- info pv" + pv + "\n");
}

TEST(Printer, WithoutLoggerPrintsToTheConsoleOnly) {
  TemporaryDirectory directory;
  ASSERT_TRUE(directory.Ready());
  Printer.SetLogger(nullptr);
  StreamCapture out(1, directory / "stdout");
  Printer.Print(ChannelStdout, true, "id name %s\n", "The Quelm");
  EXPECT_EQ(out.Finish(), "id name The Quelm\n");
}

}  // namespace
