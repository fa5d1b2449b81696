#include "support/logger.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/capture.h"

namespace {

class LoggerFile : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Directory.Ready()); }
  std::string Base() const { return Directory / "quelm"; }
  std::string Text() const { return ReadWholeFile(Base() + ".log"); }

  TemporaryDirectory Directory;
};

// Any stamp: "h:mm:ss.mmm" or the no-time text, padded to 10 characters.
const std::string Stamp = R"((\d+:\d\d:\d\d\.\d\d\d|--:--:--\.---) *)";

TEST_F(LoggerFile, OpenWritesTheRuleAsOtherText) {
  Logger logger;
  ASSERT_FALSE(logger.Open(Base().c_str()));
  EXPECT_TRUE(logger.IsOpen());
  EXPECT_TRUE(std::regex_match(Text(), std::regex(Stamp + R"(  \|  -----------------\n)"))) << Text();
}

TEST_F(LoggerFile, ReopenClosesWithARawRuleAndAppends) {
  Logger logger;
  ASSERT_FALSE(logger.Open(Base().c_str()));
  logger.Write(LogOutput, "one\n");
  ASSERT_FALSE(logger.Open(Base().c_str()));
  logger.Close();
  EXPECT_FALSE(logger.IsOpen());
  const std::string rule = Stamp + R"(  \|  -----------------\n)";
  EXPECT_TRUE(std::regex_match(Text(), std::regex(rule + Stamp + R"( <-- one\n)" + "-----------------\n\n" + rule +
                                                  "-----------------\n\n")))
      << Text();
}

TEST_F(LoggerFile, PrefixMarksEachDirectionOnlyAtLineStart) {
  Logger logger;
  ASSERT_FALSE(logger.Open(Base().c_str()));
  logger.Write(LogOutput, "");  // nothing at all, not even a stamp
  logger.Write(LogInput, "go\n");
  logger.Write(LogOutput, "bestmove ");
  logger.Write(LogOutput, "e2e4\nnext");  // goes on after its '\n' without a prefix
  logger.EndLine();
  logger.EndLine();  // already at line start: no empty line
  logger.Write(LogText, "text\n");
  logger.Write(7, "trace\n");
  const std::string expected = Stamp + R"(  \|  -----------------\n)" + Stamp + R"( --> go\n)" + Stamp +
                               R"( <-- bestmove e2e4\nnext\n)" + Stamp + R"(  \|  text\n)" + Stamp +
                               R"( --- trace\n)";
  EXPECT_TRUE(std::regex_match(Text(), std::regex(expected))) << Text();
}

TEST_F(LoggerFile, NothingIsWrittenWhenTheFileCannotBeOpened) {
  Logger logger;
  std::string missing = Directory / "no-such-directory/quelm";
  EXPECT_TRUE(logger.Open(missing.c_str()));
  EXPECT_FALSE(logger.IsOpen());
  logger.Write(LogOutput, "lost\n");
  logger.EndLine();
  logger.Close();
  EXPECT_FALSE(std::filesystem::exists(missing + ".log"));
}

}  // namespace
