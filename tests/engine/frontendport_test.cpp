// The front-end base: input that arrives during a search reaches the handler
// of the current mode, and log lines reach only the log.
#include "engine/frontendport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/capture.h"
#include "support/input.h"
#include "engine/stub_front_end.h"
#include "support/logger.h"
#include "support/output.h"

namespace {

// Records which handler saw which line; every handler answers Answer.
class RecordingFrontEnd : public StubFrontEnd {
public:
  RecordingFrontEnd() : StubFrontEnd(ProtocolConsole) {}
  int HandleCommand(const char* line) override { return Record("idle", line); }
  int HandleCommandThinking(const char* line) override { return Record("thinking", line); }
  int HandleCommandPondering(const char* line) override { return Record("pondering", line); }
  int HandleCommandAnalysing(const char* line) override { return Record("analysing", line); }
  int HandleCommandAfterAnalysis(const char* line) override { return Record("after analysis", line); }

  int Record(const char* handler, const char* line) {
    Seen.push_back(std::string(handler) + ": " + line);
    if (ReprocessNext) Input::ReprocessLastLine = true;
    return Answer;
  }

  std::vector<std::string> Seen;
  int Answer = 0;
  bool ReprocessNext = false;
};

// Feeds the given text to Input as standard input, through a pipe.
class DispatchInputTest : public testing::Test {
protected:
  void Feed(const std::string& text) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(ends[1]);
    Input::Attach(ends[0]);
    ReadEnd = ends[0];
  }

  void TearDown() override {
    Input::Attach(0);
    if (ReadEnd >= 0) close(ReadEnd);
  }

  RecordingFrontEnd FrontEndUnderTest;
  int ReadEnd = -1;
};

TEST_F(DispatchInputTest, EachModeReachesItsHandler) {
  const struct {
    FrontEndMode Mode;
    const char* Handler;
  } cases[] = {
      {ModeIdle, "idle"},           {ModeThinking, "thinking"},
      {ModePondering, "pondering"}, {ModeAnalysing, "analysing"},
      {ModeAfterAnalysis, "after analysis"}, {ModeBusy, "thinking"},
  };
  std::string input;
  for (const auto& c : cases) input += std::string("line for ") + c.Handler + "\n";
  Feed(input);
  FrontEndUnderTest.Answer = 7;
  for (const auto& c : cases) {
    FrontEndUnderTest.Seen.clear();
    FrontEndUnderTest.Mode = c.Mode;
    EXPECT_EQ(FrontEndUnderTest.DispatchInput(), 7) << c.Handler;
    ASSERT_EQ(FrontEndUnderTest.Seen.size(), 1u) << c.Handler;
    EXPECT_EQ(FrontEndUnderTest.Seen[0], std::string(c.Handler) + ": line for " + c.Handler + "\n");
  }
}

TEST_F(DispatchInputTest, EndOfInputStopsTheSearch) {
  Feed("");
  FrontEndUnderTest.Mode = ModeThinking;
  EXPECT_EQ(FrontEndUnderTest.DispatchInput(), 1);
  EXPECT_TRUE(FrontEndUnderTest.Seen.empty());
}

TEST_F(DispatchInputTest, LineDuringAPonderHitIsDropped) {
  Feed("ponderhit\nstop\n");
  FrontEndUnderTest.Answer = 1;
  FrontEndUnderTest.Mode = ModePonderHit;
  EXPECT_EQ(FrontEndUnderTest.DispatchInput(), 0);
  EXPECT_TRUE(FrontEndUnderTest.Seen.empty());
  FrontEndUnderTest.Mode = ModeThinking;
  EXPECT_EQ(FrontEndUnderTest.DispatchInput(), 1);
  ASSERT_EQ(FrontEndUnderTest.Seen.size(), 1u);
  EXPECT_EQ(FrontEndUnderTest.Seen[0], "thinking: stop\n");
}

// "quit" while thinking: the handler stops the search and leaves the line for
// the main loop, which reads it again in idle mode.
TEST_F(DispatchInputTest, ReprocessedLineReachesTheIdleHandlerAgain) {
  Feed("quit\n");
  FrontEndUnderTest.Answer = 1;
  FrontEndUnderTest.ReprocessNext = true;
  FrontEndUnderTest.Mode = ModeThinking;
  EXPECT_EQ(FrontEndUnderTest.DispatchInput(), 1);
  FrontEndUnderTest.ReprocessNext = false;
  FrontEndUnderTest.Mode = ModeIdle;
  EXPECT_EQ(FrontEndUnderTest.DispatchInput(), 1);
  ASSERT_EQ(FrontEndUnderTest.Seen.size(), 2u);
  EXPECT_EQ(FrontEndUnderTest.Seen[1], "idle: quit\n");
}

TEST(FrontEndLog, WritesToTheLogOnly) {
  TemporaryDirectory directory;
  ASSERT_TRUE(directory.Ready());
  std::string base = directory / "trace";
  {
    Logger logger;
    ASSERT_FALSE(logger.Open(base.c_str()));
    Printer.SetLogger(&logger);
    RecordingFrontEnd frontEnd;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    frontEnd.Log("depth 7 trace");
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    Printer.SetLogger(nullptr);
    logger.Close();
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
  }
  std::ifstream file(base + ".log");
  std::stringstream contents;
  contents << file.rdbuf();
  const std::string log = contents.str();
  std::size_t at = log.find("depth 7 trace\n");
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_EQ(log.substr(at - 5, 5), "  |  ");
}

}  // namespace
