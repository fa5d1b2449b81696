#include "support/input.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "support/capture.h"
#include "support/logger.h"

namespace {

// A pipe whose reading end feeds a LineReader, as a GUI feeds the engine.
class PipeInput : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(pipe(Ends), 0);
    Reader.Attach(Ends[0]);
  }
  void TearDown() override {
    CloseWriter();
    close(Ends[0]);
  }
  void Send(const std::string& text) {
    ASSERT_EQ(write(Ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void CloseWriter() {
    if (Ends[1] >= 0) close(Ends[1]);
    Ends[1] = -1;
  }
  std::string Next(int size = Input::LineSize) {
    char line[Input::LineSize + 1];
    if (!Reader.ReadLine(line, size)) return "<end>";
    return line;
  }

  int Ends[2] = {-1, -1};
  LineReader Reader{-1};
};

TEST_F(PipeInput, PartialLineIsNotReadyUntilItsNewlineArrives) {
  EXPECT_FALSE(Reader.IsReady(Input::LineSize));
  Send("go wtime");
  EXPECT_FALSE(Reader.IsReady(Input::LineSize));
  Send(" 1000\n");
  EXPECT_TRUE(Reader.IsReady(Input::LineSize));
  EXPECT_EQ(Next(), "go wtime 1000\n");
  EXPECT_FALSE(Reader.IsReady(Input::LineSize));
}

TEST_F(PipeInput, LineAlreadyBufferedCountsAsReady) {
  // Both lines reach the reader's buffer with the first read; the pipe is
  // then empty, but the second line is still waiting.
  Send("position startpos\ngo\n");
  EXPECT_EQ(Next(), "position startpos\n");
  EXPECT_TRUE(Reader.IsReady(Input::LineSize));
  EXPECT_EQ(Next(), "go\n");
  EXPECT_FALSE(Reader.IsReady(Input::LineSize));
}

TEST_F(PipeInput, CarriageReturnsBeforeTheLineEndAreDropped) {
  Send("uci\r\nisready\r\n\r\nquit\r");
  CloseWriter();
  EXPECT_EQ(Next(), "uci\n");
  EXPECT_EQ(Next(), "isready\n");
  EXPECT_EQ(Next(), "\n");
  EXPECT_EQ(Next(), "quit");
  EXPECT_EQ(Next(), "<end>");
}

TEST_F(PipeInput, OverLongLineComesInPieces) {
  const int longest = Input::LineSize - 1;
  Send(std::string(longest - 1, 'x'));
  EXPECT_FALSE(Reader.IsReady(Input::LineSize));
  Send(std::string(906 + 1, 'x') + "\nnext\n");
  EXPECT_TRUE(Reader.IsReady(Input::LineSize));
  EXPECT_EQ(Next(), std::string(longest, 'x'));
  EXPECT_EQ(Next(), std::string(906, 'x') + "\n");
  EXPECT_EQ(Next(), "next\n");
}

TEST_F(PipeInput, WholeGamePositionLineArrivesInOnePiece) {
  std::string line = "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 moves";
  for (int ply = 0; ply < 800; ply++) line += " e7e8q";
  Send(line + "\n");
  EXPECT_EQ(Next(), line + "\n");
}

TEST_F(PipeInput, LongLineLargerThanThePipeReadsInOrder) {
  std::string text;
  for (int i = 0; i < 3000; i++) text += std::to_string(i) + (i % 100 == 99 ? "\n" : " ");
  Send(text);
  CloseWriter();
  std::string back;
  for (std::string line = Next(); line != "<end>"; line = Next()) back += line;
  EXPECT_EQ(back, text);
}

TEST_F(PipeInput, EndOfInputIsReadyAndReportedEveryTime) {
  Send("stop");
  CloseWriter();
  EXPECT_TRUE(Reader.IsReady(Input::LineSize));
  EXPECT_EQ(Next(), "stop");  // a last line without '\n' still counts
  EXPECT_TRUE(Reader.IsReady(Input::LineSize));
  EXPECT_EQ(Next(), "<end>");
  EXPECT_EQ(Next(), "<end>");
}

TEST_F(PipeInput, ShortReadLeavesTheRestOfTheLine) {
  Send("uci and a great deal more text than thirty-one characters\nisready\n");
  EXPECT_EQ(Next(32), "uci and a great deal more text ");
  EXPECT_EQ(Next(), "than thirty-one characters\n");
  EXPECT_EQ(Next(32), "isready\n");
}

TEST(TerminalInput, ReadsLinesLikeAPipe) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no pseudo terminal";
  int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  termios mode;
  ASSERT_EQ(tcgetattr(terminal, &mode), 0);
  mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);  // keep the test's input out of its own way
  tcsetattr(terminal, TCSANOW, &mode);
  LineReader reader(terminal);
  ASSERT_EQ(write(master, "new", 3), 3);
  EXPECT_FALSE(reader.IsReady(Input::LineSize));  // the terminal holds back a partial line
  ASSERT_EQ(write(master, "\n", 1), 1);
  char line[Input::LineSize + 1];
  ASSERT_TRUE(reader.ReadLine(line, Input::LineSize));
  EXPECT_STREQ(line, "new\n");
  close(terminal);
  close(master);
}

// The standard-input operations, pointed at a pipe with a log open.
class StandardInput : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Directory.Ready());
    ASSERT_EQ(pipe(Ends), 0);
    Input::Attach(Ends[0]);
    ASSERT_FALSE(Log.Open((Directory / "quelm").c_str()));
    Input::SetLogger(&Log);
  }
  void TearDown() override {
    Input::SetLogger(nullptr);
    Input::Attach(0);
    if (Ends[1] >= 0) close(Ends[1]);
    close(Ends[0]);
  }
  void Send(const std::string& text) {
    ASSERT_EQ(write(Ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void CloseWriter() {
    close(Ends[1]);
    Ends[1] = -1;
  }
  // The log lines after the opening one, each cut to its direction mark and text.
  std::string LogBody() {
    std::string text = ReadWholeFile(Directory / "quelm.log");
    text = text.substr(text.find('\n') + 1);
    return std::regex_replace(text, std::regex(R"((^|\n)\S+ +)"), "$1");
  }

  TemporaryDirectory Directory;
  Logger Log;
  int Ends[2] = {-1, -1};
};

TEST_F(StandardInput, PipeIsNotATerminal) { EXPECT_TRUE(Input::IsPipe()); }

TEST_F(StandardInput, LinesAreLoggedAsInput) {
  Send("uci\r\n");
  EXPECT_TRUE(Input::IsAvailable());
  EXPECT_STREQ(Input::ReadLine(), "uci\n");
  EXPECT_EQ(LogBody(), "--> uci\n");
}

TEST_F(StandardInput, ReprocessedLineReturnsOnceMoreWithoutLogging) {
  Send("quit\n");
  char* line = Input::ReadLine();
  ASSERT_NE(line, nullptr);
  line[0] = 'Q';  // handlers may cut up the text they get
  Input::ReprocessLastLine = true;
  EXPECT_TRUE(Input::IsAvailable());
  EXPECT_STREQ(Input::ReadLine(), "quit\n");
  EXPECT_FALSE(Input::ReprocessLastLine);
  EXPECT_FALSE(Input::IsAvailable());
  EXPECT_EQ(LogBody(), "--> quit\n");
}

TEST_F(StandardInput, EndOfInputLogsEndOfTransmissionOnEveryRead) {
  CloseWriter();
  EXPECT_TRUE(Input::IsAvailable());
  EXPECT_EQ(Input::ReadLine(), nullptr);
  EXPECT_EQ(Input::ReadLine(), nullptr);
  EXPECT_EQ(LogBody(), "|  <EOT>\n|  <EOT>\n");
}

TEST_F(StandardInput, FirstLineReadLeavesTheRestForTheFrontEnd) {
  Send("xboard with a first line longer than 31 characters\nprotover 2\n");
  char first[32];
  ASSERT_TRUE(Input::ReadFirstLine(first, sizeof first));
  EXPECT_STREQ(first, "xboard with a first line longer");
  EXPECT_STREQ(Input::ReadLine(), " than 31 characters\n");
  EXPECT_STREQ(Input::ReadLine(), "protover 2\n");
  EXPECT_EQ(LogBody(), "-->  than 31 characters\n--> protover 2\n");
}

TEST_F(StandardInput, FirstLineReadFailsAtEndOfInput) {
  CloseWriter();
  char first[32];
  EXPECT_FALSE(Input::ReadFirstLine(first, sizeof first));
}

}  // namespace
