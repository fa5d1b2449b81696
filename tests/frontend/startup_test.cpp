// Start-up: the base name from the command line, the dialogue chosen by the
// first line, and where the data files are found.
#include "frontend/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/messages.h"
#include "support/scratch_directory.h"

namespace {

TEST(ChooseFrontEndTest, FirstLinePrefixPicksTheDialogue) {
  const struct {
    const char* Line;
    FrontEndChoice Expected;
  } cases[] = {
      {"uci\n", FrontEndChoice::Uci},
      {"uci", FrontEndChoice::Uci},
      {"ucinewgame\n", FrontEndChoice::Uci},  // three letters decide
      {"xboard\n", FrontEndChoice::Xboard},
      {"xboardextra\n", FrontEndChoice::Xboard},
      {"Uci\n", FrontEndChoice::Console},  // compared with case
      {"xboar\n", FrontEndChoice::Console},
      {"uc\n", FrontEndChoice::Console},
      {"\n", FrontEndChoice::Console},
      {" uci\n", FrontEndChoice::Console},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseFrontEnd(c.Line), c.Expected) << c.Line;
}

TEST(ConfigBaseNameTest, DefaultsToQuelm) {
  char program[] = "quelm3";
  char* argv[] = {program, nullptr};
  SetConfigBaseName(1, argv);
  EXPECT_STREQ(ConfigBaseName, "quelm");
}

TEST(ConfigBaseNameTest, FirstArgumentIsCutToThirtyTwoCharacters) {
  char program[] = "quelm3";
  std::string longName(40, 'a');
  longName[31] = 'z';
  char* argv[] = {program, longName.data(), nullptr};
  SetConfigBaseName(2, argv);
  EXPECT_EQ(std::string(ConfigBaseName), longName.substr(0, 32));

  char shortName[] = "tournament";
  char* argvShort[] = {program, shortName, nullptr};
  SetConfigBaseName(2, argvShort);
  EXPECT_STREQ(ConfigBaseName, "tournament");
}

// The file name of this test program.
std::string OwnName() { return std::filesystem::read_symlink("/proc/self/exe").filename().string(); }

// Runs the test in a scratch directory as the current one.
class DataFileTest : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Scratch.Ready());
    Previous = std::filesystem::current_path();
    std::filesystem::current_path(Scratch.Path(""));
  }
  void TearDown() override { std::filesystem::current_path(Previous); }

  ScratchDirectory Scratch;
  std::filesystem::path Previous;
};

TEST_F(DataFileTest, ProgramDirectoryHoldsTheRunningProgram) {
  std::string directory = ProgramDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_EQ(directory.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(directory + OwnName()));
}

TEST_F(DataFileTest, CurrentDirectoryComesFirstThenTheProgramDirectory) {
  // The test program stands beside itself, not in the scratch directory.
  EXPECT_EQ(FindDataFile(OwnName()), ProgramDirectory() + OwnName());
  std::ofstream(OwnName()) << "a copy in the current directory\n";
  EXPECT_EQ(FindDataFile(OwnName()), OwnName());
}

TEST_F(DataFileTest, MissingFileAndPathsStayAsGiven) {
  EXPECT_EQ(FindDataFile("nowhere.ini"), "nowhere.ini");
  EXPECT_EQ(FindDataFile("./" + OwnName()), "./" + OwnName());
}

TEST_F(DataFileTest, MessagesAreReadFromTheCurrentDirectory) {
  std::ofstream("testlanguage.lng") << "0 fallback\n12 twelve\n";
  ASSERT_FALSE(ReadMessages("testlanguage"));
  EXPECT_STREQ(Messages.Text(12), "twelve");
  EXPECT_STREQ(Messages.Text(13), "fallback");
  EXPECT_TRUE(ReadMessages("nosuchlanguage"));
  Messages.Clear();
}

}  // namespace
