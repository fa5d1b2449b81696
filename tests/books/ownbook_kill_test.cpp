// A program killed while it stores games, gathers statistics, reorganises,
// upgrades or changes a parameter of the own book leaves a book that opens
// with its parameters and every record it held before. A child does the
// work; the test kills it at instants drawn from a fixed seed.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "books/own/bookquelm.h"
#include "games/gamesdb_helpers.h"
#include "games/killed_child.h"
#include "support/scratch_directory.h"

namespace {

using namespace gamesdb_test;

GameMove MoveOf(const char* text) {
  GameMove move;
  move.FromText(text);
  return move;
}

// The moves of the start position the book holds before any kill, with the
// manual score each carries.
const std::pair<const char*, int> EarlierMoves[] = {
    {"a2a3", 10}, {"a2a4", -20}, {"b2b3", 30}, {"b2b4", 40}, {"c2c3", 50}, {"c2c4", -60},
    {"d2d3", 70}, {"d2d4", 80},  {"e2e3", 90}, {"e2e4", 100}, {"g1f3", -100}, {"b1c3", 5},
};

class OwnBookKill : public KilledChildTest {
protected:
  void SetUp() override {
    PrepareGameTables();
    ASSERT_TRUE(Scratch.Ready());
    std::ofstream(Scratch.Path("big.pgn")) << ShortGames(60);
    GamesDatabase big;
    ASSERT_FALSE(big.Create(Scratch.Path("big"), true, false));
    ASSERT_FALSE(big.ImportPgn(Scratch.Path("big.pgn").c_str()));
    big.Close();
    BookQuelm book;
    ASSERT_FALSE(book.Create(Name().c_str()));
    ASSERT_FALSE(book.SetDatabase("big"));
    ASSERT_FALSE(book.SetOwnDatabase("own"));
    ASSERT_FALSE(book.SetRandomness(7));
    ASSERT_FALSE(book.SetMMdepth(40));
    ASSERT_FALSE(book.SetSidelines(12));
    for (auto [move, manual] : EarlierMoves) ASSERT_FALSE(book.UpdateMoveNag(Start, MoveOf(move), manual));
    ASSERT_FALSE(book.Close());
  }

  std::string Name() const { return Scratch.Path("book"); }

  // The book as the next session opens it: writable, the parameters set
  // before, and every earlier move with its manual score.
  void CheckBook(int randomness = 7, int mmDepth = 40, int sidelines = 12) {
    BookQuelm book;
    ASSERT_FALSE(book.Open(Name().c_str(), true)) << book.Header.ErrorText << " / " << book.Positions.ErrorText;
    EXPECT_EQ(book.writable, 1);
    EXPECT_EQ(book.GetRandomness(), randomness);
    EXPECT_EQ(book.GetMMdepth(), mmDepth);
    EXPECT_EQ(book.GetSidelines(), sidelines);
    EXPECT_STREQ(book.Header.DBname, "big");
    EXPECT_STREQ(book.Header.OwnName, "own");
    for (auto [move, manual] : EarlierMoves) {
      std::uint32_t record = 0;
      ASSERT_FALSE(book.Positions.FindRecord(Start.HashKey(), MoveOf(move), record)) << move;
      BookQuelmEntry entry;
      ASSERT_FALSE(book.Positions.ReadRecord(record, entry)) << move;
      EXPECT_TRUE(entry.Move.SameMove(MoveOf(move))) << move;
      EXPECT_EQ(entry.Manual, manual) << move;
    }
    // Still usable: a change goes through.
    EXPECT_FALSE(book.InsertMove(Start, MoveOf("h2h4")));
    EXPECT_FALSE(book.DeleteMove(Start, MoveOf("h2h4")));
  }

  void KillRepeatedly(const std::function<void()>& work, int rounds) {
    const int span = TwiceTheTimeOf(work);
    for (int round = 0; round < rounds; round++) {
      KillDuring(work, span);
      CheckBook();
      if (HasFailure()) {
        ADD_FAILURE() << "round " << round;
        return;
      }
    }
  }

  ScratchDirectory Scratch;
  GameBoard Start;
};

TEST_F(OwnBookKill, StoringGames) {
  const std::string name = Name();
  KillRepeatedly(
      [name] {
        BookQuelm book;
        if (book.Open(name.c_str(), true)) return;
        for (int i = 0; i < 20; i++) {
          auto game = MakeGame("e4 e5 Nf3 Nc6", "Computer", "Opponent");
          book.StoreGame(*game);
        }
      },
      8);
}

TEST_F(OwnBookKill, GatheringStatistics) {
  const std::string name = Name();
  KillRepeatedly(
      [name] {
        BookQuelm book;
        if (book.Open(name.c_str(), true)) return;
        GameBoard board;
        book.RecalcStats(board);
        for (const char* first : {"e2e4", "d2d4", "g1f3", "a2a3", "h2h3"}) {
          GameBoard after;
          GameMove record;
          after.PlayMove(MoveOf(first), record);
          book.UpdateStats(after, 0);
        }
      },
      8);
}

// The start position's records are scattered among those of the position
// after 1. e4 first, so that grouping moves records about.
TEST_F(OwnBookKill, Reorganising) {
  const std::string name = Name();
  GameBoard afterE4;
  GameMove record;
  ASSERT_GT(afterE4.PlayMove(MoveOf("e2e4"), record), 0);
  const char* const replies[] = {"e7e5", "c7c5", "e7e6", "c7c6", "d7d5", "g8f6", "d7d6", "g7g6"};
  const char* const more[] = {"f2f3", "f2f4", "g2g3", "g2g4", "h2h3", "b1a3", "g1h3", "b1c3"};  // the last one is held
  {
    BookQuelm book;
    ASSERT_FALSE(book.Open(name.c_str(), true));
    for (int i = 0; i < 8; i++) {
      ASSERT_FALSE(book.UpdateMoveNag(afterE4, MoveOf(replies[i]), i + 1));
      ASSERT_FALSE(book.InsertMove(Start, MoveOf(more[i])));
    }
  }
  const auto work = [name] {
    BookQuelm book;
    if (book.Open(name.c_str(), true)) return;
    book.Reorganise();
    book.RebuildIndex();
  };
  const int span = TwiceTheTimeOf(work);
  for (int round = 0; round < 10; round++) {
    KillDuring(work, span);
    CheckBook();
    BookQuelm book;
    ASSERT_FALSE(book.Open(name.c_str(), false));
    for (int i = 0; i < 8; i++) {
      EXPECT_TRUE(book.HasMove(afterE4, MoveOf(replies[i]))) << round << " " << replies[i];
      EXPECT_TRUE(book.HasMove(Start, MoveOf(more[i]))) << round << " " << more[i];
    }
    // Twelve earlier moves, eight replies, seven more, and the free record
    // that each check's h2h4 leaves and the next one takes again.
    EXPECT_EQ(book.Positions.Count, 12 + 8 + 7 + 1);
    if (HasFailure()) return;
  }
}

// An upgrade of an old settings file, and parameters changed over and over:
// each replaces the whole file, so the old settings or the new survive.
TEST_F(OwnBookKill, UpgradingAndChangingParameters) {
  std::vector<unsigned char> image = Scratch.ReadBytes("book.bdf");
  image[0] = 4;
  const std::string name = Name();
  const int span = TwiceTheTimeOf([name] {
    BookQuelm book;
    if (!book.Open(name.c_str(), true)) book.SetRandomness(7);
  });
  for (int round = 0; round < 8; round++) {
    Scratch.WriteBytes("book.bdf", image);
    KillDuring(
        [name] {
          BookQuelm book;
          if (book.Open(name.c_str(), true)) return;
          for (int i = 0; i < 10; i++) book.SetRandomness(i % 2 ? 7 : 8);
          book.SetRandomness(7);
        },
        span * 4);
    BookQuelm book;
    ASSERT_FALSE(book.Open(name.c_str(), false)) << book.Header.ErrorText;
    const int randomness = book.GetRandomness();
    EXPECT_TRUE(randomness == 7 || randomness == 8) << randomness;
    book.Close();
    // A version 4 file has no minimax depth or sidelines: the defaults.
    CheckBook(randomness, 32, 0);
    if (HasFailure()) return;
  }
}

}  // namespace
