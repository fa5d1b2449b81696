// The move picker: best-first selection, the hash move stage, what the
// quiescence modes withhold, the ordering scores, killers, history and the
// ordering piece-square table.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/movepick.h"
#include "engine/search.h"
#include "engine/smp.h"
#include "search_fixture.h"

namespace {

class MovePickerTest : public SearchTest {
protected:
  void SetUp() override {
    SearchTest::SetUp();
    worker = &WakeWorkers();
    for (PlyRecord& r : worker->Stack().Records) r = PlyRecord();
  }
  void TearDown() override {
    SendWorkersToSleep();
    SearchTest::TearDown();
  }

  // A node at ply 1 ready for its first NextMove.
  PlyRecord& Prepare(ChessGame& game, int mode, Move hashMove, int depth = 0) {
    PlyRecord& record = worker->Stack().Records[1];
    game.BuildAttackMaps(record.Maps);
    record.Picker.Mode = mode;
    record.Picker.HashMove = hashMove;
    record.Picker.Alpha = -Infinity;
    record.Picker.Beta = Infinity;
    record.Picker.Depth = depth;
    record.Picker.List.Count = 0;
    record.Picker.List.Cursor = 0;
    record.Picker.Stage = StageHashMove;
    return record;
  }

  std::vector<std::string> AllMoves(ChessGame& game, PlyRecord& record) {
    std::vector<std::string> moves;
    std::uint32_t score;
    for (Move m; (m = MovePicker::NextMove(record, score, game, *worker, 1, false)) != NoMove;)
      moves.push_back(Text(game, m));
    return moves;
  }

  Worker* worker = nullptr;
};

TEST(MoveListSelection, PickBestTakesTheFirstHighestAndMoveToIndexShiftsTheRest) {
  MoveList list{};
  const std::uint32_t scores[] = {5, 9, 1, 9, 7};
  for (int i = 0; i < 5; ++i) {
    list.Moves[i] = static_cast<Move>(100 + i);
    list.Scores[i] = scores[i];
  }
  list.Count = 5;
  list.Cursor = 0;
  std::vector<Move> picked;
  Move m;
  while (PickBest(list, m) >= 0) picked.push_back(m);
  EXPECT_EQ(picked, (std::vector<Move>{101, 103, 104, 100, 102}));
  EXPECT_EQ(PickBest(list, m), -1);

  MoveToIndex(list, 4, 1);
  EXPECT_EQ(std::vector<Move>(list.Moves, list.Moves + 5), (std::vector<Move>{101, 102, 103, 104, 100}));
  EXPECT_EQ(list.Scores[1], 1u);  // the score travels with its move
}

TEST_F(MovePickerTest, ValidHashMoveComesFirstAndOnlyOnce) {
  ChessGame game;
  const Move hash = FindMove(game, "g1f3");
  PlyRecord& record = Prepare(game, GenerateAllMode, hash);
  std::uint32_t score;
  EXPECT_EQ(MovePicker::NextMove(record, score, game, *worker, 1, false), hash);
  EXPECT_EQ(score, HashMoveScore);
  const std::vector<std::string> rest = AllMoves(game, record);
  EXPECT_EQ(rest.size(), 19u);
  EXPECT_EQ(std::count(rest.begin(), rest.end(), "g1f3"), 0);
}

TEST_F(MovePickerTest, HashMoveFromAnEmptyOrEnemySquareIsDroppedAndTheNodeGeneratesNormally) {
  ChessGame game;
  for (const Move bogus : {MakeMoveWord(SquareB8 + 16, SquareB8 + 24),  // b6 is empty
                           MakeMoveWord(SquareB8, SquareB8 + 16)}) {    // b8 holds a black knight
    PlyRecord& record = Prepare(game, GenerateAllMode, bogus);
    const std::vector<std::string> moves = AllMoves(game, record);
    EXPECT_EQ(moves.size(), 20u);
    EXPECT_EQ(record.Picker.HashMove, NoMove);
  }
}

TEST_F(MovePickerTest, QuiescenceModesWithholdLosingCapturesAndUnsafeChecks) {
  // Qxd6 loses the queen to the c-pawn; Qa4+ lands where the knight takes.
  ChessGame game = FromFen("4k3/2p5/1n1p4/8/8/8/8/3QK3 w - - 0 1");
  PlyRecord& captures = Prepare(game, GenerateQuiescenceMode, NoMove);
  EXPECT_TRUE(AllMoves(game, captures).empty());

  PlyRecord& checks = Prepare(game, GenerateQuiescenceChecksMode, NoMove);
  const std::vector<std::string> moves = AllMoves(game, checks);
  EXPECT_EQ(std::count(moves.begin(), moves.end(), "d1h5"), 1);  // a safe check
  EXPECT_EQ(std::count(moves.begin(), moves.end(), "d1a4"), 0);
  EXPECT_EQ(std::count(moves.begin(), moves.end(), "d1d6"), 0);
}

TEST_F(MovePickerTest, OrderingScoresFollowTheRuleTable) {
  // White can take a free queen (b5), has killers on file, a castling move
  // and quiet moves.
  ChessGame game = FromFen("4k3/8/8/1q6/8/2N5/8/R3K3 w Q - 0 1");
  PlyRecord& record = Prepare(game, GenerateAllMode, NoMove);
  record.Killer1 = FindMove(game, "a1a7");
  record.Killer2 = FindMove(game, "a1b1");
  record.MateKiller = FindMove(game, "a1a8");
  MoveList& list = record.Picker.List;
  GenerateMoves(game, list, &record.Maps);
  const Move hash = FindMove(game, "c3e4");
  EXPECT_TRUE(ScoreMoves(list, *worker, game, record, hash, nullptr, 1));
  EXPECT_EQ(list.Moves[0], hash);
  auto scoreOf = [&](const char* text) {
    for (int i = 0; i < list.Count; ++i)
      if (Text(game, list.Moves[i]) == text) return list.Scores[i];
    ADD_FAILURE() << text;
    return 0u;
  };
  EXPECT_EQ(scoreOf("c3e4"), HashMoveScore);
  EXPECT_EQ(scoreOf("a1a8"), 0x45000000u);
  EXPECT_EQ(scoreOf("a1a7"), 0x16000000u);
  EXPECT_EQ(scoreOf("a1b1"), 0x15000000u);
  EXPECT_EQ(scoreOf("e1c1"), 0x8000000u + SquareC1);
  // Nxb5 wins the queen (exchange value 9639), less a quarter of the knight.
  EXPECT_EQ(scoreOf("c3b5"), 0x50000000u + 9639 - 3284 / 4);
  const std::uint32_t quiet = scoreOf("a1a2");
  EXPECT_GT(quiet, 0x2000000u - 1000);
  EXPECT_LT(quiet, 0x8000000u);
}

TEST_F(MovePickerTest, HistoryIsHalvedOnceAnEntryPassesTwoToTheTwentyFourth) {
  std::memset(worker->History, 0, sizeof worker->History);
  worker->History[2][21] = 0x1000000 - 10;
  worker->History[13][40] = 100;
  UpdateHistory(*worker, 4, 2, MakeMoveWord(11, 21));
  EXPECT_EQ(worker->History[2][21], (0x1000000u + 6) / 2);
  EXPECT_EQ(worker->History[13][40], 50u);
  UpdateHistory(*worker, 8, 2, MakeMoveWord(11, 21) | MoveCapture);  // captures teach nothing
  EXPECT_EQ(worker->History[2][21], (0x1000000u + 6) / 2);
}

TEST(Killers, QuietMovesShiftInCapturesAndPromotionsDoNot) {
  PlyRecord record;
  const Move a = MakeMoveWord(1, 2), b = MakeMoveWord(3, 4);
  UpdateKillers(record, a);
  UpdateKillers(record, a | 0x400000);  // the same move again: no shift
  EXPECT_EQ(record.Killer1, a);
  EXPECT_EQ(record.Killer2, NoMove);
  UpdateKillers(record, b);
  EXPECT_EQ(record.Killer1, b);
  EXPECT_EQ(record.Killer2, a);
  UpdateKillers(record, MakeMoveWord(5, 6) | MoveCapture);
  UpdateKillers(record, MakeMoveWord(8, 0) | MovePromotion);
  EXPECT_EQ(record.Killer1, b);
}

TEST(OrderingTable, KeepsTheFixedKnightRanksMirrorsBlackAndStaysInRange) {
  const int rank8[8] = {24, -55, -23, 13, -14, -3, -20, 30};
  const int rank1[8] = {-77, -2, -45, -49, -40, -42, 0, -80};
  for (int file = 0; file < 8; ++file) {
    EXPECT_EQ(OrderingPst.Values[0][PieceCode(White, Knight)][file], rank8[file]);
    EXPECT_EQ(OrderingPst.Values[0][PieceCode(White, Knight)][56 + file], rank1[file]);
  }
  for (int half = 0; half < 2; ++half)
    for (int code = 0; code < 16; ++code)
      for (int square = 0; square < 64; ++square) {
        const int value = OrderingPst.Values[half][code][square];
        if (code % 4 == 0) {
          EXPECT_EQ(value, 0);
        }
        EXPECT_GE(value, -321);
        EXPECT_LE(value, 362);
        if (code >= 8 && code % 4) {
          EXPECT_EQ(value, OrderingPst.Values[half][code - 8][square ^ 56]);
        }
      }
}

TEST(PrincipalVariation, UpdatePvPutsTheMoveBeforeTheChildLine) {
  static PlyStack block;
  block.Records[3].PvLength = 6;
  block.Records[3].Pv[3] = 30;
  block.Records[3].Pv[4] = 40;
  block.Records[3].Pv[5] = 50;
  UpdatePv(block, 20, 2);
  EXPECT_EQ(block.Records[2].PvLength, 6);
  EXPECT_EQ(std::vector<Move>(block.Records[2].Pv + 2, block.Records[2].Pv + 6), (std::vector<Move>{20, 30, 40, 50}));
}

}  // namespace
