// The configuration file: keyword matching, clamping, books, the tablebase
// path, malformed lines, and the console's settings report.
#include "frontend/inifile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

int MainHashCalls = 0;
int PruneMarginCalls = 0;
int CpusCalls = 0;

class IniFileTest : public testing::Test {
protected:
  void SetUp() override {
    ResetSettings();
    MainHashCalls = PruneMarginCalls = CpusCalls = 0;
    SettingsHooks::MainHashChanged = [] { MainHashCalls++; };
    SettingsHooks::PruneMarginsChanged = [] { PruneMarginCalls++; };
    // The worker pool's own hook comes back after the test.
    PoolHook = SettingsHooks::CpusChanged;
    SettingsHooks::CpusChanged = [] { CpusCalls++; };
    char pattern[] = "/tmp/quelm-settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Directory = pattern;
    Base = (Directory / "engine").string();
  }

  void TearDown() override {
    SettingsHooks::MainHashChanged = nullptr;
    SettingsHooks::PruneMarginsChanged = nullptr;
    SettingsHooks::CpusChanged = PoolHook;
    ResetSettings();
    std::filesystem::remove_all(Directory);
  }

  // Writes the bytes as "<Base>.ini" and reads it.
  void ReadIni(const std::string& bytes) {
    std::ofstream(Base + ".ini", std::ios::binary) << bytes;
    ASSERT_FALSE(ReadIniFile(Base.c_str()));
  }

  std::filesystem::path Directory;
  std::string Base;
  void (*PoolHook)() = nullptr;
};

struct IntCase {
  const char* Line;
  int* Setting;
  int Expected;
};

TEST_F(IniFileTest, NumbersAreClampedToTheirRanges) {
  const IntCase cases[] = {
      {"cpus 64\n", &Settings::Cpus, 32},
      {"cpus 0\n", &Settings::Cpus, 1},
      {"cpus\t8\n", &Settings::Cpus, 8},
      {"maxsplit 40\n", &Settings::MaxSplit, 12},
      {"maxsplit 1\n", &Settings::MaxSplit, 2},
      {"maxsplit 7\n", &Settings::MaxSplit, 7},
      {"mainhash 0\n", &Settings::MainHash, 1},
      {"mainhash 999999\n", &Settings::MainHash, Settings::MaxHashMb},
      {"mainhash 99999999999999999999\n", &Settings::MainHash, Settings::MaxHashMb},
      {"splitdepth 33\n", &Settings::SplitDepth, 32},
      {"minsplit 1\n", &Settings::MinSplit, 2},
      {"nullbase -5\n", &Settings::NullBase, 0},
      {"nullbase 40\n", &Settings::NullBase, 40},
      {"nullprogress 17\n", &Settings::NullProgress, 16},
      {"singextension 5\n", &Settings::SingExtension, 4},
      {"singmargin 10\n", &Settings::SingMargin, 25},
      {"extendlevel -1\n", &Settings::ExtendLevel, 0},
      {"lmrpv 6\n", &Settings::LmrPv, 6},
      {"lmrextrapv -3\n", &Settings::LmrExtraPv, 0},
      {"lmrscout 9\n", &Settings::LmrScout, 9},
      {"lmrextrascout 2\n", &Settings::LmrExtraScout, 2},
      // The search adds and multiplies these: each stops at the maximum the
      // UCI greeting announces, or where a larger value changes nothing.
      {"lmrpv 2147483647\n", &Settings::LmrPv, 12},
      {"lmrextrapv 13\n", &Settings::LmrExtraPv, 12},
      {"lmrscout 99999999999\n", &Settings::LmrScout, 20},
      {"lmrextrascout 2147483647\n", &Settings::LmrExtraScout, 12},
      {"extendlevel 2147483647\n", &Settings::ExtendLevel, 16},
      {"nullbase 2147483647\n", &Settings::NullBase, 4096},
      {"prunelevel 9\n", &Settings::PruneLevel, 8},
      {"timeuse 0\n", &Settings::TimeUse, 1},
      {"timeuse 500\n", &Settings::TimeUse, 200},
      {"minremaining 0\n", &Settings::MinRemaining, 1},
      {"kingsafety 401\n", &Settings::KingSafety, 400},
      {"kingshield 24\n", &Settings::KingShield, 25},
      {"postoutput 9\n", &Settings::PostOutput, 1},
      {"postoutput -2\n", &Settings::PostOutput, 0},
      {"postoutput 3\n", &Settings::PostOutput, 3},
      {"bookrandom -7\n", &Settings::BookRandom, -7},
      {"szdepth -9\n", &Settings::SzDepth, -1},
      {"szdepth 300\n", &Settings::SzDepth, 256},
      {"icsmode off\n", &Settings::IcsMode, 0},
      {"icsmode on\n", &Settings::IcsMode, 1},
      {"icsmode active\n", &Settings::IcsMode, 2},
      // Prefix match: the keyword only has to begin the line.
      {"cpus12\n", &Settings::Cpus, 12},
      // A number that cannot be read keeps the previous value.
      {"cpusxyz 4\n", &Settings::Cpus, 1},
      {"cpus\n", &Settings::Cpus, 1},
      {"mainhash lots\n", &Settings::MainHash, 10},
      // Only a '#' in the first column comments a line out, but a line that
      // begins with a blank matches no keyword either.
      {"#cpus 4\n", &Settings::Cpus, 1},
      {" cpus 4\n", &Settings::Cpus, 1},
      {" #cpus 4\n", &Settings::Cpus, 1},
      {"splitdepth 4 # four plies\n", &Settings::SplitDepth, 4},
  };
  for (const IntCase& c : cases) {
    ResetSettings();
    ReadIni(c.Line);
    EXPECT_EQ(*c.Setting, c.Expected) << c.Line;
  }
}

struct SwitchCase {
  const char* Line;
  bool* Setting;
  bool Expected;
};

TEST_F(IniFileTest, SwitchesAreOnUnlessTheLineSaysOff) {
  const SwitchCase cases[] = {
      {"donullmove off\n", &Settings::DoNullMove, false},
      {"donullmove 0\n", &Settings::DoNullMove, true},
      {"ucioption offline\n", &Settings::UciOption, false},
      {"gluecores on\n", &Settings::GlueCores, true},
      {"ponder\n", &Settings::Ponder, true},
      {"learning off\r\n", &Settings::Learning, false},
      {"prunepv yes\n", &Settings::PrunePv, true},
      {"doiid off\n", &Settings::DoIid, false},
      {"singular off\n", &Settings::Singular, false},
      {"easymove off\n", &Settings::EasyMove, false},
      {"savelearningoften on\n", &Settings::SaveLearningOften, true},
      {"logging on\n", &Settings::Logging, true},
      {"priolow on\n", &Settings::PrioLow, true},
      {"szqsearch on\n", &Settings::SzQsearch, true},
  };
  for (const SwitchCase& c : cases) {
    ResetSettings();
    ReadIni(c.Line);
    EXPECT_EQ(*c.Setting, c.Expected) << c.Line;
  }
}

TEST_F(IniFileTest, TimeMarginsTakeWholeNumbersUpToThree) {
  const struct {
    const char* Line;
    double* Setting;
    double Expected;
  } cases[] = {
      {"minmovesmargin 5\n", &Settings::MinMovesMargin, 0.0},
      {"minmovesmargin 2\n", &Settings::MinMovesMargin, 2.0},
      {"minmatmargin -1\n", &Settings::MinMatMargin, 0.0},
      {"minmatmargin 3\n", &Settings::MinMatMargin, 3.0},
  };
  for (const auto& c : cases) {
    ResetSettings();
    ReadIni(c.Line);
    EXPECT_EQ(*c.Setting, c.Expected) << c.Line;
  }
}

TEST_F(IniFileTest, PruneMarginsClampLevelAndPercentAndRescale) {
  ReadIni("prunealphamargin 12 500\nprunebetamargin 0 10\nprunebetamargin 3 250\n");
  EXPECT_EQ(Settings::PruneAlphaMargin[8], 400);
  EXPECT_EQ(Settings::PruneBetaMargin[1], 25);
  EXPECT_EQ(Settings::PruneBetaMargin[3], 250);
  for (int level = 1; level <= 7; level++) EXPECT_EQ(Settings::PruneAlphaMargin[level], 100) << level;
  EXPECT_EQ(PruneMarginCalls, 3);

  ReadIni("prunesecure 1000\n");
  EXPECT_EQ(Settings::PruneSecure, 400);
  EXPECT_EQ(PruneMarginCalls, 4);
}

TEST_F(IniFileTest, MalformedLinesChangeNothingAndTriggerNoWork) {
  ReadIni("prunealphamargin 3\nprunesecure\nmainhash\ncpus\nbookfile\nbookfile   \nctgbook\n");
  EXPECT_EQ(Settings::PruneAlphaMargin[3], 100);
  EXPECT_EQ(Settings::PruneSecure, 100);
  EXPECT_EQ(PruneMarginCalls, 0);
  EXPECT_EQ(Settings::MainHash, 10);
  EXPECT_EQ(MainHashCalls, 0);
  EXPECT_EQ(ConfiguredBooks.Count, 0);
  EXPECT_EQ(CpusCalls, 0);
  EXPECT_FALSE(Settings::CtgBookSet);
}

TEST_F(IniFileTest, MainHashReallocatesAtOnce) {
  ReadIni("mainhash 64\n");
  EXPECT_EQ(Settings::MainHash, 64);
  EXPECT_EQ(MainHashCalls, 1);
}

// The workers start when the file sets their count, not in the first search.
TEST_F(IniFileTest, CpusAsksTheWorkerPoolToResizeAtOnce) {
  ReadIni("cpus 3\ncpus 40\n");
  EXPECT_EQ(Settings::Cpus, 32);
  EXPECT_EQ(CpusCalls, 2);
}

TEST_F(IniFileTest, BookLinesFillSixteenRowsAndSetTheRestAside) {
  std::string bytes = "bookfile own\nbookpoly poly.bin\nbookctg a.ctg\nbookclient server:4463\n";
  for (int i = 4; i < 17; i++) {
    bytes += "bookfile extra";
    bytes += std::to_string(i);
    bytes += '\n';
  }
  ReadIni(bytes);
  ASSERT_EQ(ConfiguredBooks.Count, 16);
  EXPECT_EQ(ConfiguredBooks.Names[0], "own");
  EXPECT_EQ(ConfiguredBooks.Kinds[0], 1);
  EXPECT_EQ(ConfiguredBooks.Names[1], "poly.bin");
  EXPECT_EQ(ConfiguredBooks.Kinds[1], 5);
  EXPECT_EQ(ConfiguredBooks.Names[2], "a.ctg");
  EXPECT_EQ(ConfiguredBooks.Kinds[2], 4);
  EXPECT_EQ(ConfiguredBooks.Names[3], "server:4463");
  EXPECT_EQ(ConfiguredBooks.Kinds[3], 7);
  EXPECT_EQ(ConfiguredBooks.Names[15], "extra15");
  // The seventeenth is kept aside for start-up to report.
  EXPECT_EQ(ConfiguredBooks.Dropped, std::vector<std::string>{"extra16"});
}

// A name cut short would open some other file.
TEST_F(IniFileTest, BookAndCtgNamesAreKeptWhole) {
  std::string name(120, 'n');
  ReadIni("bookpoly " + name + "\r\nctgbook " + name + "\r\n");
  ASSERT_EQ(ConfiguredBooks.Count, 1);
  EXPECT_EQ(ConfiguredBooks.Names[0], name);
  EXPECT_TRUE(Settings::CtgBookSet);
  EXPECT_EQ(Settings::CtgBook, name);
}

TEST_F(IniFileTest, SyzygyPathKeepsBlanksAndDropsTheLineEnd) {
  ReadIni("syzygypath C:/tables one;D:/tables two\r\n");
  EXPECT_STREQ(Settings::SyzygyPath, "C:/tables one;D:/tables two");
  ReadIni("syzygypath=/tb\n");
  EXPECT_STREQ(Settings::SyzygyPath, "/tb");
  // A bare keyword has no path to read: the old one stays.
  ReadIni("syzygypath\n");
  EXPECT_STREQ(Settings::SyzygyPath, "/tb");
  ReadIni("syzygypath \n");
  EXPECT_STREQ(Settings::SyzygyPath, "");
}

TEST_F(IniFileTest, CrlfFileReadsLikeAnLfFile) {
  ReadIni("# comment\r\ncpus 4\r\nponder on\r\nlearning off\r\nicsmode on\r\nbookfile a.bin\r\nsyzygypath /tb\r\n");
  EXPECT_EQ(Settings::Cpus, 4);
  EXPECT_TRUE(Settings::Ponder);
  EXPECT_FALSE(Settings::Learning);
  EXPECT_EQ(Settings::IcsMode, 1);
  ASSERT_EQ(ConfiguredBooks.Count, 1);
  EXPECT_EQ(ConfiguredBooks.Names[0], "a.bin");
  EXPECT_STREQ(Settings::SyzygyPath, "/tb");
}

TEST_F(IniFileTest, OverLongLinesContinueAsTheNextLine) {
  // 254 characters fill one read; what follows is a line of its own.
  std::string first = "kingsafety 50";
  first.resize(254, ' ');
  std::string path = "syzygypath " + std::string(300, 'p');
  ReadIni(first + "cpus 7\n" + std::string(5000, 'x') + "\n" + path + "\n");
  EXPECT_EQ(Settings::KingSafety, 50);
  EXPECT_EQ(Settings::Cpus, 7);
  EXPECT_EQ(std::string(Settings::SyzygyPath), std::string(254 - 11, 'p'));
}

TEST_F(IniFileTest, LastLineWithoutLineEndStillCounts) {
  ReadIni("cpus 3\nponder on");
  EXPECT_EQ(Settings::Cpus, 3);
  EXPECT_TRUE(Settings::Ponder);
}

TEST_F(IniFileTest, MissingFileLeavesTheDefaults) {
  EXPECT_TRUE(ReadIniFile((Directory / "absent").c_str()));
  EXPECT_EQ(Settings::MainHash, 10);
  EXPECT_EQ(MainHashCalls, 0);
}

TEST_F(IniFileTest, ResetRestoresEveryDefault) {
  ReadIni("cpus 8\nmaxsplit 4\nprunealphamargin 2 300\nbookfile a\nctgbook b\nsyzygypath /x\nponder on\n");
  Settings::MultiPv = 4;
  Settings::DefaultVariant = 1;
  ResetSettings();
  EXPECT_EQ(Settings::Cpus, 1);
  EXPECT_EQ(Settings::MaxSplit, 32);
  EXPECT_EQ(Settings::PruneAlphaMargin[2], 100);
  EXPECT_EQ(ConfiguredBooks.Count, 0);
  EXPECT_FALSE(Settings::CtgBookSet);
  EXPECT_EQ(Settings::CtgBook, "");
  EXPECT_STREQ(Settings::SyzygyPath, "<empty>");
  EXPECT_FALSE(Settings::Ponder);
  EXPECT_EQ(Settings::MultiPv, 1);
  EXPECT_EQ(Settings::DefaultVariant, 0);
}

const char DefaultReport[] =
    "\n"
    "Number of search threads = 1\n"
    "Main Hashsize            = 10 Mb\n"
    "Do Position Learning     = 1\n"
    "Do Nullmove              = 1\n"
    "   Base                  = 3.0\n"
    "   Progressive           = 6\n"
    "Do IID                   = 1\n"
    "Do Singular Extensions   = 1\n"
    "   Extension             = 1.0\n"
    "   Margin                = 100%\n"
    "Extend Level             = 4\n"
    "LMR PV Reduction         = 0.0\n"
    "    Extra                = 1.0\n"
    "LMR Scout Reduction      = 1.0\n"
    "    Extra                = 1.0\n"
    "Split Depth              = 12\n"
    "Min Moves Split          = 2\n"
    "Max Moves Split          = 32\n"
    "Post Mode                = 1\n"
    "Prune Level              = 4\n"
    "Prune PV                 = 0\n"
    "Prune Secure             = 100%\n"
    "PruneAlpha [1]           = 100%\n"
    "PruneBeta [1]            = 100%\n"
    "PruneAlpha [2]           = 100%\n"
    "PruneBeta [2]            = 100%\n"
    "PruneAlpha [3]           = 100%\n"
    "PruneBeta [3]            = 100%\n"
    "PruneAlpha [4]           = 100%\n"
    "PruneBeta [4]            = 100%\n"
    "King Safety              = 100%\n"
    "King Shield              = 100%\n"
    "Time Usage               = 100%\n"
    "ICS Mode                 = smart\n"
    "Easy Move                = 1\n"
    "Bookfile                 = \n"
    "Variant                  = 0\n"
    "Syzygy path       = <empty>\n"
    "Syzygy probe in quiescense = 0\n"
    "Syzygy probe depth in search = 8 quarterplies\n"
    "\n";

std::string CapturedReport() {
  testing::internal::CaptureStdout();
  PrintSettings();
  return testing::internal::GetCapturedStdout();
}

TEST_F(IniFileTest, ReportOfTheDefaults) { EXPECT_EQ(CapturedReport(), DefaultReport); }

TEST_F(IniFileTest, ReportShowsOptionalLinesOnlyWhenTheyApply) {
  ReadIni(
      "donullmove off\nsingular off\ngluecores on\nprunelevel 0\nicsmode off\nbookpoly first.bin\n"
      "bookfile second\nctgbook c.ctg\npriolow on\nucioption off\n");
  std::string report = CapturedReport();
  EXPECT_EQ(report.find("   Base"), std::string::npos);
  EXPECT_EQ(report.find("   Extension"), std::string::npos);
  EXPECT_EQ(report.find("Prune PV"), std::string::npos);
  EXPECT_EQ(report.find("PruneAlpha"), std::string::npos);
  EXPECT_NE(report.find("Max Moves Split          = 32\nWorkers glued to cpus\nPost Mode"), std::string::npos);
  EXPECT_NE(report.find("ICS Mode                 = off\n"), std::string::npos);
  EXPECT_NE(report.find("Bookfile                 = first.bin\nCTG Book                 = c.ctg\nVariant"),
            std::string::npos);
  EXPECT_NE(report.find("quarterplies\nRunning in below normal priority\nIgnoring UCI options\n\n"),
            std::string::npos);
}

TEST_F(IniFileTest, ReportListsEachPruneLevelInUse) {
  ReadIni("prunelevel 8\nprunealphamargin 8 30\nicsmode on\n");
  std::string report = CapturedReport();
  EXPECT_NE(report.find("PruneAlpha [8]           = 30%\nPruneBeta [8]            = 100%\nKing Safety"),
            std::string::npos);
  EXPECT_NE(report.find("ICS Mode                 = active\n"), std::string::npos);
}

// The sample shipped beside the program sets every setting to its default.
TEST_F(IniFileTest, SampleConfigurationHoldsTheDefaults) {
  ASSERT_FALSE(ReadIniFile(QUELM_DATA_DIR "/quelm"));
  EXPECT_EQ(CapturedReport(), DefaultReport);
  EXPECT_EQ(Settings::MaxSplit, 32);
  EXPECT_EQ(Settings::BookRandom, 2);
  EXPECT_EQ(Settings::MinRemaining, 25);
  EXPECT_FALSE(Settings::SaveLearningOften);
  EXPECT_EQ(ConfiguredBooks.Count, 0);
  EXPECT_EQ(MainHashCalls, 1);
  EXPECT_EQ(PruneMarginCalls, 17);
}

}  // namespace
