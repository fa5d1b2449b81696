// The book interface: the entry score, the order of a position's entries,
// the pool of positions and the common move choice, on hand-made entries
// with a seeded generator.
#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <string>
#include <vector>

#include "books/book.h"
#include "games/gameboard.h"

namespace {

int LiveEntries = 0;

// An entry with every statistic the score reads.
struct Stats {
  int DbWins = 0, DbDraws = 0, DbLosses = 0;
  int OwnWins = 0, OwnDraws = 0, OwnLosses = 0;
  int Manual = 0;
  int MmDepth = 0, MmScore = 0;
  int Mm2Depth = 0, Mm2Score = 0;
};

class TestEntry : public BookEntry {
public:
  TestEntry(const char* move, Stats stats) : S(stats) {
    Move.FromText(move);
    LiveEntries++;
  }
  ~TestEntry() override { LiveEntries--; }
  bool IsValid() const override { return true; }
  bool SetManual(std::int32_t value) override {
    S.Manual = value;
    return false;
  }
  bool Set(const GameBoard&, const GameMove& move) override { return SetMove(move); }
  const GameMove* GetMove() const override { return &Move; }
  int SetMove(const GameMove& move) override {
    Move = move;
    return 0;
  }
  std::int32_t GetManual() const override { return S.Manual; }
  std::int32_t GetDBGames() const override { return S.DbWins + S.DbDraws + S.DbLosses; }
  std::int32_t GetDBWins() const override { return S.DbWins; }
  std::int32_t GetDBDraws() const override { return S.DbDraws; }
  std::int32_t GetDBLosses() const override { return S.DbLosses; }
  std::int32_t GetOwnWins() const override { return S.OwnWins; }
  std::int32_t GetOwnDraws() const override { return S.OwnDraws; }
  std::int32_t GetOwnLosses() const override { return S.OwnLosses; }
  std::int32_t GetMinimaxDepth() const override { return S.MmDepth; }
  std::int32_t GetMinimaxScore() const override { return S.MmScore; }
  std::int32_t GetMinimax2Depth() const override { return S.Mm2Depth; }
  std::int32_t GetMinimax2Score() const override { return S.Mm2Score; }

  GameMove Move;
  Stats S;
};

struct Parameters {
  int WeightDB = 0, WeightNag = 100, MMweight = 0, MinDB = 0, MinOwn = 0, Draw = 50, Popular = 0, MMdepth = 0,
      Sidelines = 0, WhiteMinscore = 0, BlackMinscore = 0, Randomness = 0;
  bool Manual = true;
};

// A book whose position is the list it is given and whose parameters are
// the ones set in it.
class TestBook : public Book {
public:
  int GetKind() const override { return BookKindOwn; }
  bool Create(const char*) override { return true; }
  bool Open(const char*, bool) override { return false; }
  bool Close() override { return false; }
  bool Flush() override { return false; }
  BookPosition* GetBookPosition(const GameBoard&) override {
    BookPosition* position = BookPosition::Allocate();
    for (const auto& [move, stats] : Moves) position->Add(new TestEntry(move, stats));
    return position;
  }
  std::int32_t GetWeightDB() override { return P.WeightDB; }
  std::int32_t GetWeightNag() override { return P.WeightNag; }
  std::int32_t GetMinDB() override { return P.MinDB; }
  std::int32_t GetMinOwn() override { return P.MinOwn; }
  std::int32_t GetDraw() override { return P.Draw; }
  bool GetManual() override { return P.Manual; }
  std::int32_t GetPopular() override { return P.Popular; }
  std::int32_t GetMMdepth() override { return P.MMdepth; }
  std::int32_t GetMMweight() override { return P.MMweight; }
  std::int32_t GetSidelines() override { return P.Sidelines; }
  std::int32_t GetWhiteMinscore() override { return P.WhiteMinscore; }
  std::int32_t GetBlackMinscore() override { return P.BlackMinscore; }
  std::int32_t GetRandomness() override { return P.Randomness; }

  std::vector<std::pair<const char*, Stats>> Moves;
  Parameters P;
};

class BookTest : public ::testing::Test {
protected:
  void SetUp() override {
    Saved = BookSeedSource;
    BookSeedSource = [] { return 11u; };
  }
  void TearDown() override { BookSeedSource = Saved; }
  std::uint32_t (*Saved)() = nullptr;
};

int ScoreOf(const Stats& stats, const Parameters& p, std::int64_t total) {
  TestEntry entry("e2e4", stats);
  return entry.Score(p.WeightDB, p.WeightNag, p.MMweight, p.MinDB, p.MinOwn, p.Draw, p.Popular, total, p.MMdepth,
                     p.Sidelines);
}

// A row of the score tables: the entry's figures, the book's parameters and
// the games of the position, with the score they give.
struct ScoreCase {
  const char* Name;
  Stats S;
  Parameters P;
  std::int64_t Total;
  int Expected;
};

TEST(BookEntryScore, HandWorkedCases) {
  Parameters db;
  db.WeightDB = 100;
  const ScoreCase cases[] = {
      // The base parameters: only the manual term, 7 x 100 x 0.01.
      {"manual only", {.Manual = 7}, {}, 0, 7},
      // (6 x 100 + 2 x 50) / 10 = 70 percent, at full weight.
      {"database percentage", {.DbWins = 6, .DbDraws = 2, .DbLosses = 2}, db, 10, 70},
      // 50 x 100 + 50 x 0 = 5000, x 0.01.
      {"half database, half own", {.DbWins = 10, .OwnLosses = 2}, {.WeightDB = 50}, 10, 50},
      // 2 own games of 4 wanted: own weight 100 x 2 / 4 = 50, the rest to
      // the empty database: 50 x 100 = 5000.
      {"too few own games", {.OwnWins = 2}, {.MinOwn = 4}, 0, 50},
      // Popular 50 of 40 games: 20 needed, 10 played: confidence 50. The
      // spare 50 lifts the value by 0.009 x 50: 50 + 22.5 = 72.5, rounded
      // away from zero.
      {"confidence below the needed games", {.DbWins = 10}, {.WeightDB = 100, .Popular = 50}, 40, 73},
      // 10 of 100 games is a share of 10 below 30: 20 more percent.
      {"sideline bonus", {.DbWins = 10}, {.WeightDB = 100, .Sidelines = 30}, 100, 120},
      // Depth 5 of 10: share 50, capped by the weight 40; score 0 gives 0.5:
      // 40 x 0.5 = 20, and the data keep the other 60: 60 + 20.
      {"minimax share", {.DbWins = 1, .MmDepth = 5}, {.WeightDB = 100, .MMweight = 40, .MMdepth = 10}, 1, 80},
      // -5 x 50 x 0.01 = -2.5: halves round away from zero.
      {"negative manual rounds away from zero", {.Manual = -5}, {.WeightNag = 50}, 0, -3},
  };
  for (const ScoreCase& c : cases) EXPECT_EQ(ScoreOf(c.S, c.P, c.Total), c.Expected) << c.Name;
}

// Entries and parameters from a damaged file or a remote server: no figure
// may divide by zero or leave the score's range. A count below zero counts as
// no game, a minimum of zero games asks for none.
TEST(BookEntryScore, HostileFiguresNeitherDivideByZeroNorWrap) {
  constexpr int Low = std::numeric_limits<std::int32_t>::min(), High = std::numeric_limits<std::int32_t>::max();
  const ScoreCase cases[] = {
      // No games and none needed: full confidence in nothing, the manual 7.
      {"negative database count, no games needed", {.DbWins = Low, .Manual = 7}, {.WeightDB = 100}, Low, 7},
      {"negative own count, no own games needed", {.OwnLosses = -5, .Manual = 3}, {}, 0, 3},
      // 100 x (100 + High - 100) x 100 x 0.0001 + 100 lies beyond an int.
      {"sideline bonus beyond the range", {.DbWins = 1, .Manual = 100}, {.WeightDB = 100, .Sidelines = High}, 1, High},
      {"manual value far below the range", {.Manual = Low}, {.WeightNag = 100}, 0, Low},
  };
  for (const ScoreCase& c : cases) EXPECT_EQ(ScoreOf(c.S, c.P, c.Total), c.Expected) << c.Name;
}

TEST(BookPositionOrder, ManualValuesFirstThenScoresThenDeeperMinimax) {
  BookPosition* position = BookPosition::Allocate();
  position->Add(new TestEntry("a2a3", {}));
  position->Add(new TestEntry("b2b3", {.Manual = -1}));
  position->Add(new TestEntry("c2c3", {}));
  position->Add(new TestEntry("d2d3", {.Mm2Depth = 4, .Mm2Score = 30}));
  position->Add(new TestEntry("e2e3", {.Manual = 2}));
  const int scores[] = {0, 10, 0, 0, 5};
  for (int i = 0; i < 5; i++) position->Scores[i] = scores[i];
  position->Order(true);
  std::string order;
  for (int i = 0; i < position->Count; i++) order += static_cast<char>('a' + position->Entries[i]->GetMove()->From % 8);
  // e (1005) first; among the keys of 0 the one with a second minimax score
  // (d) next; b (10 - 1000) last. A selection sort by swaps: a, swapped out
  // of the first place, ends up behind c.
  EXPECT_EQ(order, "edcab");
  position->Release();
}

TEST(BookPositionPool, FullPositionsRefuseAndPoolsGrowByTen) {
  const int live = LiveEntries;
  BookPosition* position = BookPosition::Allocate();
  for (int i = 0; i < BookPosition::MaxEntries; i++) EXPECT_FALSE(position->Add(new TestEntry("e2e4", {})));
  EXPECT_TRUE(position->Add(new TestEntry("d2d4", {})));
  EXPECT_EQ(position->Count, BookPosition::MaxEntries);
  EXPECT_EQ(LiveEntries, live + BookPosition::MaxEntries) << "the refused entry is deleted";
  position->Release();
  EXPECT_EQ(LiveEntries, live);

  const int made = BookPosition::MadeCount();
  std::vector<BookPosition*> taken;
  for (int i = BookPosition::FreeCount(); i >= 0; i--) taken.push_back(BookPosition::Allocate());
  EXPECT_EQ(BookPosition::MadeCount(), made + BookPosition::BlockPositions);
  for (BookPosition* p : taken) p->Release();
}

// How often each move is chosen, beside what a generator seeded like the
// book's gives for the expected weights.
std::map<std::string, int> Choices(TestBook& book, const char* fen, int asks) {
  GameBoard board;
  EXPECT_FALSE(board.SetFen(fen));
  std::map<std::string, int> counts;
  for (int i = 0; i < asks; i++) {
    const GameMove move = book.SelectMove(board);
    std::string text = "none";
    if (move.Valid) text = std::string{static_cast<char>('a' + move.From % 8), static_cast<char>('8' - move.From / 8)};
    counts[text]++;
  }
  return counts;
}

std::map<std::string, int> Expected(const std::vector<std::pair<std::string, int>>& weights, int asks) {
  MersenneTwister generator;
  SeedBookGenerator(generator);
  int sum = 0;
  for (const auto& [move, weight] : weights) sum += weight;
  std::map<std::string, int> counts;
  for (int i = 0; i < asks; i++) {
    if (sum == 0) {
      counts["none"]++;
      continue;
    }
    int r = static_cast<int>(generator.Next() % static_cast<std::uint32_t>(sum));
    for (const auto& [move, weight] : weights) {
      if (r < weight) {
        counts[move]++;
        break;
      }
      r -= weight;
    }
  }
  return counts;
}

Stats Percent(int wins) { return {.DbWins = wins, .DbLosses = 100 - wins}; }

TEST_F(BookTest, MoveChoiceTable) {
  constexpr const char* White = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
  constexpr const char* Black = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1";
  struct Case {
    const char* Name;
    std::vector<std::pair<const char*, Stats>> Moves;
    Parameters P;
    const char* Fen;
    // Expected weights in the order of the ordered entries, keyed by the
    // moving piece's square (its from-square's file and rank).
    std::vector<std::pair<std::string, int>> Weights;
  };
  Parameters db;
  db.WeightDB = 100;
  const Case cases[] = {
      // Manual values 5, 5 and 3 under the base parameters: the two fives
      // share the choice.
      {"highest manual values", {{"a2a3", {.Manual = 5}}, {"b2b3", {.Manual = 3}}, {"c2c3", {.Manual = 5}}}, {},
       White, {{"a2", 1}, {"c2", 1}, {"b2", 0}}},
      {"best scores without manual values", {{"a2a3", Percent(60)}, {"b2b3", Percent(60)}, {"c2c3", Percent(40)}},
       db, White, {{"a2", 1}, {"b2", 1}, {"c2", 0}}},
      // Randomness 2: 60, 59, 58, 57 weigh 3, 2, 1, 0.
      {"randomness", {{"d2d3", Percent(57)}, {"a2a3", Percent(60)}, {"c2c3", Percent(58)}, {"b2b3", Percent(59)}},
       {.WeightDB = 100, .Randomness = 2}, White, {{"a2", 3}, {"b2", 2}, {"c2", 1}, {"d2", 0}}},
      // A negative manual value counts as -100 for the best score but still
      // weighs by its own score (80 - 5 = 75 against the best 60: 16).
      {"negative manual value", {{"a2a3", {.DbWins = 80, .DbLosses = 20, .Manual = -5}}, {"b2b3", Percent(60)}}, db,
       White, {{"b2", 1}, {"a2", 16}}},
      // The side's minimum above every score: nothing to play.
      {"minimum score above all", {{"a2a3", Percent(60)}, {"b2b3", Percent(50)}},
       {.WeightDB = 100, .WhiteMinscore = 70}, White, {}},
      {"minimum score reached", {{"a2a3", Percent(60)}, {"b2b3", Percent(50)}},
       {.WeightDB = 100, .WhiteMinscore = 60}, White, {{"a2", 1}, {"b2", 0}}},
      {"Black's minimum for Black", {{"a7a6", Percent(60)}, {"b7b6", Percent(50)}},
       {.WeightDB = 100, .WhiteMinscore = 70, .BlackMinscore = 50}, Black, {{"a7", 1}, {"b7", 0}}},
      {"no moves", {}, {}, White, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TestBook book;
    book.open = 1;
    book.Moves = c.Moves;
    book.P = c.P;
    const int live = LiveEntries;
    EXPECT_EQ(Choices(book, c.Fen, 600), Expected(c.Weights, 600));
    EXPECT_EQ(LiveEntries, live) << "every position is released";
  }
}

TEST_F(BookTest, ClosedBookAndFullPositionChoice) {
  TestBook book;
  book.Moves = {{"e2e4", {.Manual = 1}}};
  EXPECT_EQ(Choices(book, "8/8/8/8/8/8/8/K6k w - - 0 1", 1), (std::map<std::string, int>{{"none", 1}}));

  // 160 entries with the best one last: ordering and choice see them all.
  book.open = 1;
  book.Moves.assign(BookPosition::MaxEntries, {"a2a3", Percent(10)});
  book.Moves.back() = {"h2h3", Percent(90)};
  book.Moves.push_back({"g2g3", Percent(99)});  // the 161st: refused
  book.P.WeightDB = 100;
  EXPECT_EQ(Choices(book, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 5),
            (std::map<std::string, int>{{"h2", 5}}));
}

}  // namespace
