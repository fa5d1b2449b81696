// The search by position against pgn-extract on real files: the games the
// database returns for a position are the games pgn-extract's FEN match
// (main lines only) and Polyglot-key match select, with and without the
// position index.
#include <map>
#include <sstream>

#include "gamesdb_helpers.h"
#include "support/scratch_directory.h"

namespace {

using namespace gamesdb_test;

// Placement, side to move and castling rights of a FEN.
std::string FirstThreeFields(const std::string& fen) {
  std::istringstream fields(fen);
  std::string placement, side, castling;
  fields >> placement >> side >> castling;
  return placement + " " + side + " " + castling;
}

// Main lines of the games pgn-extract selects, written with -Wuci and a FEN
// after every move, as one text each, sorted. pgn-extract's FEN match leaves
// castling rights aside, which the database compares: a game is kept when
// its start or a position after one of its moves has the target's
// placement, side to move and rights. Games of fewer than three moves are
// left out, as the PGN reader leaves them out.
std::vector<std::string> ExtractedMainLines(const std::string& arguments, const std::string& pgn,
                                            const std::string& target) {
  const std::string output = Run(PgnExtractProgram() + " " + arguments +
                                 " --novars --fencomments -Wuci -C -N -V \"" + pgn + "\" 2>/dev/null");
  const std::string wanted = FirstThreeFields(target);
  const std::string standardStart = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq";
  std::vector<std::string> lines;
  std::istringstream in(output);
  std::string line, moves;
  int count = 0;
  bool inMoves = false, reaches = false;
  auto finish = [&] {
    if (count >= 3 && reaches) lines.push_back(moves);
    moves.clear();
    count = 0;
    reaches = false;
  };
  auto start = [&](const std::string& fen) { reaches = reaches || FirstThreeFields(fen) == wanted; };
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') {
      if (inMoves) finish();
      inMoves = false;
      if (line.rfind("[Event ", 0) == 0) start(standardStart);
      if (line.rfind("[FEN \"", 0) == 0) {
        reaches = false;
        start(line.substr(6, line.rfind('"') - 6));
      }
      continue;
    }
    std::size_t at = 0;
    while (at < line.size()) {
      if (line[at] == ' ') {
        at++;
        continue;
      }
      inMoves = true;
      if (line[at] == '{') {
        const std::size_t close = line.find('}', at);
        start(line.substr(at + 1, close - at - 1).substr(1));
        at = close == std::string::npos ? line.size() : close + 1;
        continue;
      }
      std::size_t end = line.find(' ', at);
      if (end == std::string::npos) end = line.size();
      std::string token = line.substr(at, end - at);
      at = end;
      if (token == "*" || token == "1-0" || token == "0-1" || token == "1/2-1/2") continue;
      for (char& c : token) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      moves += token + " ";
      count++;
    }
  }
  if (inMoves) finish();
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string MainLineText(const Game& game) {
  std::string text;
  for (const std::string& move : MainLineUci(game)) text += move + " ";
  return text;
}

class GamesDatabaseOracle : public ::testing::Test {
protected:
  void SetUp() override {
    PrepareGameTables();
    ASSERT_TRUE(Scratch.Ready());
  }

  // Imports pgn into two sets, with and without the position index.
  void ImportBoth(const std::string& pgn) {
    for (bool index : {true, false}) {
      GamesDatabase db(Sink);
      ASSERT_FALSE(db.Create(Name(index), index, true));
      ASSERT_FALSE(db.ImportPgn(pgn.c_str())) << Sink.Text;
    }
  }

  std::string Name(bool index) const { return Scratch.Path(index ? "indexed" : "plain"); }

  // The main lines of the games found, sorted, and the numbers found the
  // same with and without the index.
  std::vector<std::string> Found(const std::string& fen) {
    GameBoard target;
    EXPECT_FALSE(target.SetFen(fen.c_str())) << fen;
    std::vector<std::uint32_t> numbers[2];
    std::vector<std::string> lines;
    for (bool index : {true, false}) {
      GamesDatabase db(Sink);
      EXPECT_FALSE(db.Open(Name(index), false));
      EXPECT_EQ(db.HasPositionIndex(), index);
      db.StartPositionSearch(target);
      while (std::uint32_t g = db.NextPositionMatch()) {
        numbers[index].push_back(g);
        if (!index) continue;
        std::uint8_t flags;
        auto game = db.LoadGame(g, flags);
        EXPECT_TRUE(game);
        if (game) lines.push_back(MainLineText(*game));
      }
    }
    EXPECT_EQ(numbers[0], numbers[1]) << fen;
    EXPECT_TRUE(std::is_sorted(numbers[1].begin(), numbers[1].end()));
    EXPECT_EQ(std::adjacent_find(numbers[1].begin(), numbers[1].end()), numbers[1].end());
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  ScratchDirectory Scratch;
  CountingSink Sink;
};

TEST_F(GamesDatabaseOracle, EcoGamesFoundByPositionAreThoseOfPgnExtract) {
  const std::string eco = EcoPgn();
  const std::string extract = PgnExtractProgram();
  REQUIRE_DB_PATH(eco, "eco.pgn");
  REQUIRE_DB_PATH(extract, "pgn-extract");
  ImportBoth(eco);
  const char* const fens[] = {
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
      "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq -",
      "rnbqkbnr/pp1ppppp/8/2p5/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq -",
      "r1bqkbnr/pppp1ppp/2n5/1B2p3/4P3/5N2/PPPP1PPP/RNBQK2R b KQkq -",
      "rnbqkb1r/pppp1ppp/4pn2/8/2PP4/8/PP2PPPP/RNBQKBNR w KQkq -",
      "rnbqk2r/pppp1ppp/4pn2/8/1bPP4/2N5/PP2PPPP/R1BQKBNR w KQkq -",
      "r1bqk2r/2ppbppp/p1n2n2/1p2p3/4P3/1B3N2/PPPP1PPP/RNBQR1K1 b kq -",
      "rnbqkbnr/ppp1pppp/8/3p4/3P4/8/PPP1PPPP/RNBQKBNR w KQkq -",
  };
  for (const char* fen : fens) {
    SCOPED_TRACE(fen);
    const auto expected = ExtractedMainLines(std::string("-Tf\"") + fen + "\"", eco, fen);
    RETURN_IF_OPPONENT_CRASHED();
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(Found(fen), expected);
  }
  // By Polyglot key: 823c9b50fd114196 is the position after 1. e4.
  const char* afterE4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -";
  const auto byKey = ExtractedMainLines("-H823c9b50fd114196", eco, afterE4);
  RETURN_IF_OPPONENT_CRASHED();
  const auto found = Found(afterE4);
  EXPECT_EQ(found, byKey);
  EXPECT_GT(found.size(), 1100u);
}

// The pychess files start from FEN positions and carry variations: every
// 25th game's final position and the position after its third move.
TEST_F(GamesDatabaseOracle, PychessGamesFoundByPositionAreThoseOfPgnExtract) {
  const std::string extract = PgnExtractProgram();
  const std::vector<fs::path> files = PychessPgnFiles();
  REQUIRE_DB_PATH(extract, "pgn-extract");
  if (files.empty()) {
    if (RunningUnderCi()) FAIL() << "pychess PGN files missing";
    GTEST_SKIP() << "pychess PGN files not found";
  }
  const std::string pgn = Scratch.Path("pychess.pgn");
  WriteJoined(pgn, files, 1);
  ImportBoth(pgn);
  std::vector<std::string> fens;
  {
    GamesDatabase db(Sink);
    ASSERT_FALSE(db.Open(Name(true), false));
    ASSERT_GT(db.GameCount, 100u);
    for (std::uint32_t g = 1; g <= db.GameCount; g += 25) {
      std::uint8_t flags;
      auto game = db.LoadGame(g, flags);
      ASSERT_TRUE(game);
      for (int ply = 0; ply < 3 && !game->Forward(); ply++) {
      }
      fens.push_back(game->Board.GetFen());
      while (!game->Forward()) {
      }
      fens.push_back(game->Board.GetFen());
    }
  }
  int compared = 0;
  for (const std::string& fen : fens) {
    SCOPED_TRACE(fen);
    const auto expected = ExtractedMainLines("-Tf\"" + fen + "\"", pgn, fen);
    RETURN_IF_OPPONENT_CRASHED();
    EXPECT_EQ(Found(fen), expected);
    compared++;
  }
  EXPECT_GT(compared, 20);
}

}  // namespace
