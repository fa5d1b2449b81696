// The PGN reader against pgn-extract on real files: Debian's eco.pgn and the
// lessons and puzzles of Debian's pychess, written by other programs. Every
// game read also goes through both record forms and back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "games/compact.h"
#include "record_helpers.h"
#include "other_program.h"
#include "shared_data.h"
#include "support/binfile.h"
#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

// A file or program the oracle needs: skip where absent, fail under CI.
#define REQUIRE_PATH(path, what)                                                  \
  if ((path).empty() || !fs::exists(path)) {                                      \
    if (RunningUnderCi()) FAIL() << what << " missing: " << (path);               \
    GTEST_SKIP() << what << " not found" << ((path).empty() ? "" : ": ") << (path); \
  }

std::string PgnExtract() {
  for (const char* candidate : {"/usr/bin/pgn-extract", "/usr/games/pgn-extract"})
    if (fs::exists(candidate)) return candidate;
  return "";
}

// Where .ci/run unpacks pychess; QUELM_PYCHESS names another unpacked root.
fs::path PychessLearnDirectory() {
  const char* root = std::getenv("QUELM_PYCHESS");
  for (fs::path base : {fs::path(root && *root ? root : "/tmp/pychess-root"), fs::path("/")}) {
    fs::path learn = base / "usr/share/pychess/learn";
    if (fs::exists(learn / "lessons")) return learn;
  }
  return fs::path("/tmp/pychess-root/usr/share/pychess/learn");
}

std::vector<fs::path> PychessFiles() {
  std::vector<fs::path> files;
  fs::path learn = PychessLearnDirectory();
  for (const char* folder : {"lessons", "puzzles"}) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(learn / folder, error))
      if (entry.path().extension() == ".pgn") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

struct ExtractedGame {
  std::vector<std::string> Moves;
  std::vector<std::pair<std::string, std::string>> Tags;
};

// The games pgn-extract writes with -Wuci: tag lines, then the moves.
std::vector<ExtractedGame> RunPgnExtract(const std::string& arguments, const fs::path& file) {
  std::string command = PgnExtract() + " " + arguments + " -Wuci -C -N \"" + file.string() + "\" 2>/dev/null";
  std::vector<ExtractedGame> games;
  std::istringstream lines(RunOtherProgram(command));
  std::string line;
  bool inMoves = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line[0] == '[') {
      if (games.empty() || inMoves) games.emplace_back();
      inMoves = false;
      std::size_t space = line.find(' ');
      std::size_t quote = line.find('"');
      std::size_t last = line.rfind('"');
      if (space != std::string::npos && quote != std::string::npos && last > quote)
        games.back().Tags.emplace_back(line.substr(1, space - 1), line.substr(quote + 1, last - quote - 1));
      continue;
    }
    if (line.empty() || games.empty()) continue;
    inMoves = true;
    std::istringstream tokens(line);
    std::string token;
    while (tokens >> token) {
      if (token == "*" || token == "1-0" || token == "0-1" || token == "1/2-1/2") continue;
      // pgn-extract writes the promotion piece in upper case.
      for (char& c : token) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      games.back().Moves.push_back(token);
    }
  }
  return games;
}

std::string Join(const std::vector<std::string>& moves) {
  std::string all;
  for (const std::string& move : moves) all += move + " ";
  return all;
}

class PgnOracle : public ::testing::Test {
protected:
  void SetUp() override {
    PrepareGameTables();
    ASSERT_TRUE(Scratch.Ready());
  }

  // Both record forms of a game read from PGN, and back.
  void CheckRoundTrips(Game& game, const std::string& where) {
    BinFile32 file;
    std::string path = Scratch.Path("game.fgf");
    ASSERT_FALSE(file.Create(path.c_str(), BinFileBinary | BinFileUpdate | BinFileWrite));
    SilentGameSink silent;
    ASSERT_FALSE(game.CompactWriteFile(file, 1)) << where;
    file.Close();
    std::vector<unsigned char> first = Scratch.ReadBytes("game.fgf");
    ASSERT_FALSE(file.Open(path.c_str(), BinFileBinary | BinFileUpdate)) << where;
    std::uint8_t flags = 1;
    ASSERT_EQ(Back.CompactReadFile(file, flags, 1, silent), 0) << where;
    file.Close();
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(GameText(Back), GameText(game)) << where;
    EXPECT_EQ(Printed(Back), Printed(game)) << where;
    EXPECT_EQ(Back.GameHash, game.GameHash) << where;
    ASSERT_FALSE(file.Create(path.c_str(), BinFileBinary | BinFileUpdate | BinFileWrite));
    ASSERT_FALSE(Back.CompactWriteFile(file, 1)) << where;
    file.Close();
    EXPECT_EQ(Scratch.ReadBytes("game.fgf"), first) << where;

    CompactGameRecord record;
    record.Length = game.CompactWrite(record.Bytes);
    ASSERT_LE(record.Length, CompactGameRecord::Size);
    EXPECT_EQ(record.Bytes[record.Length - 1], 255) << where;
    ASSERT_EQ(Back.CompactRead(record.Bytes, record.Length, silent), 0) << where;
    // A tree that filled the buffer came back cut; any other came back whole.
    if (record.Length < CompactGameRecord::Size - 2) {
      EXPECT_EQ(GameText(Back, false, true), GameText(game, false, true)) << where;
    }
    RoundTrips++;
  }

  // Reads every game of file; main lines and tags as the caller checks them.
  std::vector<std::pair<std::vector<std::string>, std::string>> ReadAll(const fs::path& path, int& errors,
                                                                        int& shortGames) {
    std::vector<std::pair<std::vector<std::string>, std::string>> games;
    PgnInput input;
    input.Stream = std::fopen(path.c_str(), "rb");
    EXPECT_NE(input.Stream, nullptr) << path;
    if (!input.Stream) return games;
    RecordingGameSink sink;
    Game game;
    for (;;) {
      PgnResult result = game.ReadPgn(input, sink);
      if (result == PgnResult::End) break;
      if (result == PgnResult::Error) {
        errors++;
        continue;
      }
      std::string tags;
      for (int id : {TagECO, TagOpening, TagVariation})
        if (const GameTag* tag = game.Tags.Find(id)) tags += std::string(TagNames[id]) + "=" + tag->ToString() + ";";
      games.emplace_back(MainLineUci(game), tags);
      CheckRoundTrips(game, path.filename().string() + " game " + std::to_string(games.size()));
    }
    shortGames += input.ShortGames;
    std::fclose(input.Stream);
    return games;
  }

  ScratchDirectory Scratch;
  Game Back;
  int RoundTrips = 0;
};

TEST_F(PgnOracle, EcoFileMainLinesAndOpeningTagsEqualPgnExtracts) {
  std::string extract = PgnExtract();
  REQUIRE_PATH(extract, "pgn-extract");
  fs::path eco = "/usr/share/pgn-extract/eco.pgn";
  REQUIRE_PATH(eco, "eco.pgn of pgn-extract");
  std::vector<ExtractedGame> expected = RunPgnExtract("-pl3 -V", eco);
  RETURN_IF_OPPONENT_CRASHED();
  int errors = 0, shortGames = 0;
  auto games = ReadAll(eco, errors, shortGames);
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(games.size(), 1939u);
  EXPECT_EQ(games.size() + static_cast<std::size_t>(shortGames), 2014u);
  ASSERT_EQ(games.size(), expected.size());
  for (std::size_t i = 0; i < games.size(); i++) {
    ASSERT_EQ(Join(games[i].first), Join(expected[i].Moves)) << "game " << i + 1;
    std::string tags;
    for (const char* name : {"ECO", "Opening", "Variation"})
      for (const auto& [tag, value] : expected[i].Tags)
        if (tag == name) tags += tag + "=" + value + ";";
    EXPECT_EQ(games[i].second, tags) << "game " << i + 1;
  }
  EXPECT_EQ(RoundTrips, 1939);
}

TEST_F(PgnOracle, PychessFilesMainLinesEqualPgnExtracts) {
  std::string extract = PgnExtract();
  REQUIRE_PATH(extract, "pgn-extract");
  fs::path learn = PychessLearnDirectory();
  REQUIRE_PATH(learn, "pychess lessons and puzzles (see .ci/run)");
  std::vector<fs::path> files = PychessFiles();
  ASSERT_FALSE(files.empty());
  std::size_t total = 0;
  int totalErrors = 0;
  for (const fs::path& file : files) {
    // pgn-extract checks no side line with --novars; games it cannot read
    // it leaves out, and so does the reader (one such game is among them).
    std::vector<ExtractedGame> expected;
    for (ExtractedGame& game : RunPgnExtract("--novars", file))
      if (game.Moves.size() >= 3) expected.push_back(std::move(game));
    RETURN_IF_OPPONENT_CRASHED();
    int errors = 0, shortGames = 0;
    auto games = ReadAll(file, errors, shortGames);
    totalErrors += errors;
    ASSERT_EQ(games.size(), expected.size()) << file;
    for (std::size_t i = 0; i < games.size(); i++)
      ASSERT_EQ(Join(games[i].first), Join(expected[i].Moves)) << file << " game " << i + 1;
    total += games.size();
  }
  EXPECT_EQ(totalErrors, 1);
  EXPECT_GT(total, 1000u);
  EXPECT_EQ(RoundTrips, static_cast<int>(total));
}

}  // namespace
