// Game moves: coordinate text in and out, and the pool of game-record moves.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "games/gamemove.h"

namespace {

TEST(GameMoveText, ReadsCoordinateText) {
  const struct {
    const char* Text;
    bool Valid;
    int From, To;
    unsigned Promotion;
  } cases[] = {
      {"e7e8q", true, 12, 4, 7},  {"e7e8Q", true, 12, 4, 7},   {"e2e4", true, 52, 36, 0},
      {"e2e4 ", true, 52, 36, 0}, {"a7a8n", true, 8, 0, 2},    {"h2h1b", true, 55, 63, 5},
      {"h2h1R", true, 55, 63, 6}, {"h1h1", true, 63, 63, 0},   {"a8a8", true, 0, 0, 0},
      {"e2e4x", false, 52, 36, 0}, {"e2e4\n", false, 52, 36, 0}, {"e2e", false, -1, -1, 0},
      {"", false, -1, -1, 0},     {"i2e4", false, -1, 36, 0},  {"e2e9", false, 52, -1, 0},
      {"e0e4", false, -1, 36, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    GameMove move;
    move.FromText(c.Text);
    EXPECT_EQ(move.Valid, c.Valid ? 1 : 0);
    EXPECT_EQ(move.From, c.From);
    EXPECT_EQ(move.To, c.To);
    if (c.Valid) {
      EXPECT_EQ(move.Promotion, c.Promotion);
    }
  }
  GameMove move;
  EXPECT_EQ(move.FromText(nullptr).Valid, 0);
}

// Lines from files and sockets lose their line ends in one place.
TEST(GameMoveText, LinesLoseTheirLineEnds) {
  for (const char* line : {"e2e4\n", "e2e4\r\n", "e2e4\r", "e2e4"}) {
    GameMove move;
    EXPECT_EQ(move.FromTextLine(line).Valid, 1) << line;
    EXPECT_EQ(move.To, 36);
  }
  GameMove move;
  EXPECT_EQ(move.FromTextLine("e7e8q\n").Promotion, 7u);
  EXPECT_EQ(move.FromTextLine("\n").Valid, 0);
  EXPECT_EQ(move.FromTextLine("e2e4x\n").Valid, 0);
  EXPECT_EQ(move.FromTextLine("e2e4                 \n").Valid, 0);
  EXPECT_EQ(move.FromTextLine(nullptr).Valid, 0);
}

std::string Printed(const GameMove& move) {
  std::FILE* out = std::tmpfile();
  move.Print(out);
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  return text;
}

TEST(GameMoveText, PrintsCoordinatesAndCastlingWords) {
  const struct {
    const char* Text;
    const char* Printed;
  } cases[] = {
      {"h8h8", "O-O"}, {"h1h1", "O-O"}, {"a1a1", "O-O-O"}, {"a8a8", "O-O-O"},
      {"e7e8q", "e7e8q"}, {"e2e4", "e2e4"}, {"b2a1N", "b2a1n"},
  };
  for (const auto& c : cases) {
    GameMove move;
    move.FromText(c.Text);
    EXPECT_EQ(Printed(move), c.Printed) << c.Text;
  }
}

TEST(PooledGameMove, ComesFromBlocksOfTwentyAndGoesBack) {
  std::vector<PooledGameMove*> moves;
  GameMove model;
  model.FromText("e7e8q");
  model.Place = 17;
  model.CapturedPiece = 14;
  for (int i = 0; i < 2 * PooledGameMove::BlockObjects + 1; i++) {
    PooledGameMove* move = PooledGameMove::Alloc(model);
    ASSERT_NE(move, nullptr);
    moves.push_back(move);
  }
  EXPECT_EQ(std::set<PooledGameMove*>(moves.begin(), moves.end()).size(), moves.size());
  for (PooledGameMove* move : moves) {
    EXPECT_TRUE(move->SameMove(model));
    EXPECT_EQ(move->Place, 17);
    EXPECT_EQ(move->CapturedPiece, 14);
  }
  PooledGameMove* last = moves.back();
  last->Delete();
  moves.pop_back();
  // The free list hands the object just given back out again, reset.
  PooledGameMove* again = PooledGameMove::Alloc();
  EXPECT_EQ(again, last);
  EXPECT_EQ(again->Valid, 0);
  EXPECT_EQ(again->Place, 0);
  again->Delete();
  for (PooledGameMove* move : moves) move->Delete();
}

// Game records are read on more than one thread (the remote book's server
// side): each thread's objects stay its own while others take and return.
TEST(PooledGameMove, ThreadsNeverShareAnObject) {
  constexpr int Threads = 4, Rounds = 200, Held = 30;
  std::vector<std::thread> threads;
  std::vector<int> clashes(Threads, 0);
  for (int t = 0; t < Threads; t++)
    threads.emplace_back([t, &clashes] {
      for (int round = 0; round < Rounds; round++) {
        std::vector<PooledGameMove*> mine;
        for (int i = 0; i < Held; i++) {
          PooledGameMove* move = PooledGameMove::Alloc();
          if (!move) continue;
          move->Place = t * 100000 + round * 100 + i;
          mine.push_back(move);
        }
        for (int i = 0; i < static_cast<int>(mine.size()); i++)
          if (mine[static_cast<std::size_t>(i)]->Place != t * 100000 + round * 100 + i) clashes[static_cast<std::size_t>(t)]++;
        for (PooledGameMove* move : mine) move->Delete();
      }
    });
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < Threads; t++) EXPECT_EQ(clashes[static_cast<std::size_t>(t)], 0) << "thread " << t;
}

}  // namespace
