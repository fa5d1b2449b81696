// The games database's speed: PGN import in games per second on eco.pgn
// repeated 50 times and on the pychess files repeated 10 times, beside
// pgn-extract reading and checking the same files; then the position search
// over the imported games with and without the position index, beside
// pgn-extract's FEN match. Disabled among the tests; run it with
//   games_tests --gtest_also_run_disabled_tests --gtest_filter='*GamesDatabaseBenchmark*'
#include <chrono>
#include <cstdio>
#include <functional>

#include "gamesdb_helpers.h"
#include "support/scratch_directory.h"

namespace {

using namespace gamesdb_test;

double SecondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Positions searched: the start, a position every game of the file reaches
// in a few moves, and a deep one.
constexpr const char* SearchedFens[] = {
    "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -",
    "rnbqkbnr/pp1ppppp/8/2p5/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq -",
    "r1bqkbnr/pppp1ppp/2n5/1B2p3/4P3/5N2/PPPP1PPP/RNBQK2R b KQkq -",
};

void Measure(const char* label, const std::string& pgn, ScratchDirectory& scratch) {
  SilentGameSink silent;
  const std::string name = scratch.Path(std::string(label) + "-db");
  std::uint32_t games = 0;
  {
    GamesDatabase db(silent);
    ASSERT_FALSE(db.Create(name, true, true));
    const double seconds = SecondsOf([&] { EXPECT_FALSE(db.ImportPgn(pgn.c_str())); });
    games = db.GameCount;
    std::printf("%-8s import: %u games in %.2f s, %.0f games/s (%.1f MB)\n", label, games, seconds, games / seconds,
                fs::file_size(pgn) / 1e6);
  }
  const std::string extract = PgnExtractProgram();
  if (!extract.empty()) {
    const double seconds = SecondsOf([&] { Run(extract + " -s -o /dev/null \"" + pgn + "\" 2>/dev/null"); });
    std::printf("%-8s pgn-extract -s -o /dev/null: %.2f s, %.0f games/s\n", label, seconds, games / seconds);
  }
  for (bool withIndex : {true, false}) {
    if (!withIndex) fs::rename(name + ".fpi", name + ".fpi.away");
    GamesDatabase db(silent);
    ASSERT_FALSE(db.Open(name, false));
    std::uint64_t found = 0;
    const double seconds = SecondsOf([&] {
      for (const char* fen : SearchedFens) {
        GameBoard target;
        ASSERT_FALSE(target.SetFen(fen));
        db.StartPositionSearch(target);
        while (db.NextPositionMatch()) found++;
      }
    });
    std::printf("%-8s search of %zu positions %s: %llu games in %.3f s\n", label, std::size(SearchedFens),
                withIndex ? "with .fpi   " : "without .fpi", static_cast<unsigned long long>(found), seconds);
    if (!withIndex) fs::rename(name + ".fpi.away", name + ".fpi");
  }
  if (!extract.empty()) {
    const double seconds = SecondsOf([&] {
      for (const char* fen : SearchedFens)
        Run(extract + " -s --novars -Tf\"" + fen + "\" -o /dev/null \"" + pgn + "\" 2>/dev/null");
    });
    std::printf("%-8s pgn-extract --novars -Tf of the same positions: %.3f s\n", label, seconds);
  }
}

TEST(GamesDatabaseBenchmark, DISABLED_ImportAndSearchBesidePgnExtract) {
  PrepareGameTables();
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.Ready());
  const std::string eco = EcoPgn();
  REQUIRE_DB_PATH(eco, "eco.pgn");
  const std::string ecoTimes = scratch.Path("eco50.pgn");
  WriteJoined(ecoTimes, {eco}, 50);
  Measure("eco50", ecoTimes, scratch);
  const std::vector<fs::path> pychess = PychessPgnFiles();
  if (pychess.empty()) GTEST_SKIP() << "pychess PGN files not found";
  const std::string pychessTimes = scratch.Path("pychess10.pgn");
  WriteJoined(pychessTimes, pychess, 10);
  Measure("pychess10", pychessTimes, scratch);
}

}  // namespace
