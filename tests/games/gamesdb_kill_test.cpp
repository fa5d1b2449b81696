// A program killed while it appends, imports or rebuilds leaves a set that
// opens and holds every game committed before, each equal to its source and
// found by the search with and without the position index alike. A child
// does the work; the test kills it at instants drawn from a fixed seed.
#include <random>

#include "gamesdb_helpers.h"
#include "killed_child.h"
#include "support/scratch_directory.h"

namespace {

using namespace gamesdb_test;

std::string SquareName(int square) { return {static_cast<char>('a' + square % 8), static_cast<char>('8' - square / 8)}; }

// Games of random legal moves from a fixed seed, each with its own players.
std::vector<std::unique_ptr<Game>> RandomGames(int count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::unique_ptr<Game>> games;
  for (int i = 0; i < count; i++) {
    auto game = MakeGame("", ("White" + std::to_string(i)).c_str(), ("Black" + std::to_string(i % 7)).c_str());
    const int plies = 4 + static_cast<int>(random() % 60);
    for (int ply = 0; ply < plies; ply++) {
      game->Board.GenerateMoves();
      const int moves = game->Board.Moves.Count();
      bool played = false;
      for (int tries = 0; tries < 40 && moves > 0 && !played; tries++) {
        const GameMove move = game->Board.Moves[static_cast<int>(random() % moves)];
        std::string text = SquareName(move.From) + SquareName(move.To);
        if (move.Promotion) text += "q";
        played = !game->AddMoveText(text.c_str());
      }
      if (!played) break;
    }
    game->Rewind();
    games.push_back(std::move(game));
  }
  return games;
}

const char* const Targets[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
    "rnbqkbnr/pppppppp/8/8/8/P7/1PPPPPPP/RNBQKBNR b KQkq -",
    "rnbqkbnr/pppppppp/8/8/8/5N2/PPPPPPPP/RNBQKB1R b KQkq -",
    "rnbqkbnr/pppppppp/8/8/8/2N5/PPPPPPPP/R1BQKBNR b KQkq -",
};

class GamesDatabaseKill : public KilledChildTest {
protected:
  void SetUp() override {
    PrepareGameTables();
    ASSERT_TRUE(Scratch.Ready());
  }

  std::string Base() const { return Scratch.Path("db"); }

  // Opens the set as the next session would, with each game equal to its
  // source by expected(g); the set's own checks, and the search with and
  // without the index, agree.
  void CheckSet(std::uint32_t count, const std::function<const Game&(std::uint32_t)>& expected) {
    CountingSink sink;
    GamesDatabase db(sink);
    ASSERT_FALSE(db.Open(Base(), true)) << sink.Text;
    ASSERT_EQ(db.GameCount, count);
    ASSERT_TRUE(db.HasPositionIndex());
    ASSERT_TRUE(db.HasPlayerIndex());
    std::uint8_t flags;
    for (std::uint32_t g = 1; g <= count; g++) {
      auto game = db.LoadGame(g, flags);
      ASSERT_TRUE(game) << g;
      ASSERT_EQ(GameText(*game), GameText(expected(g))) << g;
    }
    std::vector<std::uint32_t> withIndex[std::size(Targets)];
    for (std::size_t t = 0; t < std::size(Targets); t++) withIndex[t] = Matches(db, Targets[t]);
    db.Close();
    // Nothing of a rebuild is left after a writable open.
    for (const auto& entry : fs::directory_iterator(Scratch.Path("")))
      EXPECT_EQ(entry.path().string().find(".rebuild-"), std::string::npos) << entry.path();
    fs::rename(Base() + ".fpi", Base() + ".away");
    ASSERT_FALSE(db.Open(Base(), false));
    for (std::size_t t = 0; t < std::size(Targets); t++) EXPECT_EQ(Matches(db, Targets[t]), withIndex[t]) << Targets[t];
    db.Close();
    fs::rename(Base() + ".away", Base() + ".fpi");
  }

  // Kills per test: at least the first number; more, up to the second, while
  // the instants drawn have not yet fallen on both sides of the commit.
  static constexpr int MinimumAttempts = 12;
  static constexpr int MaximumAttempts = 40;

  // The window of the next kill: a busy machine moves the commit within the
  // child's run, so the window follows it, growing after a kill that came
  // before the commit and shrinking after one that came after.
  static int NextWindow(int window, bool killedBeforeTheCommit) {
    return killedBeforeTheCommit ? window + window / 3 : std::max(1000, window - window / 3);
  }

  std::vector<std::uint32_t> Matches(GamesDatabase& db, const char* fen) {
    GameBoard target;
    EXPECT_FALSE(target.SetFen(fen));
    std::vector<std::uint32_t> found;
    db.StartPositionSearch(target);
    while (std::uint32_t g = db.NextPositionMatch()) found.push_back(g);
    return found;
  }

  ScratchDirectory Scratch;
};

TEST_F(GamesDatabaseKill, AKilledAppendLeavesEveryGameCommittedBefore) {
  const auto games = RandomGames(200, 1);
  {
    GamesDatabase db;
    ASSERT_FALSE(db.Create(Base(), true, true));
    for (int i = 0; i < 10; i++) ASSERT_FALSE(db.AddGame(*games[i]));
  }
  std::uint32_t committed = 10;
  // Twelve kills within 20 ms; on a machine so busy (or so slow: sanitizers,
  // an emulator) that none of them came after a commit, the window doubles
  // until one does, so that the last check sees appends survive.
  int window = 20000;
  for (int attempt = 0; attempt < 12 || (committed == 10 && window < 10000000); attempt++) {
    SCOPED_TRACE(attempt);
    if (attempt >= 12) window *= 2;
    KillDuring(
        [&] {
          GamesDatabase db;
          if (db.Open(Base(), true)) return;
          while (db.GameCount < 5000) db.AppendGame(*games[db.GameCount % games.size()]);
        },
        window);
    GamesDatabase db;
    ASSERT_FALSE(db.Open(Base(), false));
    ASSERT_GE(db.GameCount, committed);
    committed = db.GameCount;
    db.Close();
    CheckSet(committed, [&](std::uint32_t g) -> const Game& { return *games[(g - 1) % games.size()]; });
  }
  EXPECT_GT(committed, 10u);
}

TEST_F(GamesDatabaseKill, AKilledImportLeavesTheOldGamesOrAllTheNewOnes) {
  const auto games = RandomGames(5, 2);
  constexpr int Imported = 400;
  const std::string pgn = Scratch.Path("games.pgn");
  std::ofstream(pgn) << ShortGames(Imported);
  std::vector<std::unique_ptr<Game>> source;
  {
    std::FILE* file = std::fopen(pgn.c_str(), "r");
    PgnInput input;
    input.Stream = file;
    SilentGameSink silent;
    for (auto game = std::make_unique<Game>(); game->ReadPgn(input, silent) == PgnResult::Game;
         game = std::make_unique<Game>())
      source.push_back(std::move(game));
    std::fclose(file);
  }
  ASSERT_EQ(source.size(), static_cast<std::size_t>(Imported));
  auto fresh = [&] {
    GamesDatabase db;
    ASSERT_FALSE(db.Create(Base(), true, true));
    for (const auto& game : games) ASSERT_FALSE(db.AddGame(*game));
  };
  auto import = [&] {
    GamesDatabase db;
    if (!db.Open(Base(), true)) db.ImportPgn(pgn.c_str());
  };
  fresh();
  int window = TwiceTheTimeOf(import);
  int old = 0, attempts = 0;
  for (; attempts < MinimumAttempts || (attempts < MaximumAttempts && (old == 0 || old == attempts)); attempts++) {
    SCOPED_TRACE(attempts);
    fresh();
    KillDuring(import, window);
    GamesDatabase db;
    ASSERT_FALSE(db.Open(Base(), false));
    const std::uint32_t count = db.GameCount;
    db.Close();
    ASSERT_TRUE(count == 5 || count == 5 + Imported) << count;
    old += count == 5;
    window = NextWindow(window, count == 5);
    CheckSet(count, [&](std::uint32_t g) -> const Game& { return g <= 5 ? *games[g - 1] : *source[g - 6]; });
  }
  // The instants drawn fall both before and after the commit.
  EXPECT_GT(old, 0);
  EXPECT_LT(old, attempts);
}

TEST_F(GamesDatabaseKill, AKilledRebuildLeavesTheOldSetOrTheNewOne) {
  const auto games = RandomGames(240, 3);
  std::vector<const Game*> live;
  for (std::size_t i = 0; i < games.size(); i++)
    if (i % 4 != 1) live.push_back(games[i].get());
  auto fresh = [&] {
    GamesDatabase db;
    ASSERT_FALSE(db.Create(Base(), true, true));
    for (const auto& game : games) ASSERT_FALSE(db.AppendGame(*game));
    for (std::uint32_t g = 2; g <= games.size(); g += 4) ASSERT_FALSE(db.MarkDeleted(g));
  };
  auto rebuild = [&] {
    GamesDatabase db;
    if (!db.Open(Base(), true)) db.Rebuild(1000);
  };
  fresh();
  int window = TwiceTheTimeOf(rebuild);
  int rebuilt = 0, attempts = 0;
  for (; attempts < MinimumAttempts || (attempts < MaximumAttempts && (rebuilt == 0 || rebuilt == attempts));
       attempts++) {
    SCOPED_TRACE(attempts);
    fresh();
    KillDuring(rebuild, window);
    GamesDatabase db;
    ASSERT_FALSE(db.Open(Base(), true));
    const std::uint32_t count = db.GameCount, deleted = db.DeletedCount;
    db.Close();
    window = NextWindow(window, count == games.size());
    if (count == games.size()) {
      EXPECT_EQ(deleted, 60u);
      CheckSet(count, [&](std::uint32_t g) -> const Game& { return *games[g - 1]; });
    } else {
      ASSERT_EQ(count, live.size());
      EXPECT_EQ(deleted, 0u);
      rebuilt++;
      CheckSet(count, [&](std::uint32_t g) -> const Game& { return *live[g - 1]; });
    }
  }
  EXPECT_GT(rebuilt, 0);
  EXPECT_LT(rebuilt, attempts);
}

}  // namespace
