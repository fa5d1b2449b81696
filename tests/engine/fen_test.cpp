// FEN set-up and output: round trips, the castling and en-passant fields,
// and malformed text refused with its message and the board kept.
#include <gtest/gtest.h>

#include <string>

#include "board_helpers.h"
#include "engine/settings.h"

namespace {

constexpr const char* StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// The variant a GUI chose, as the dialogues set it, for one test's span.
class DefaultVariantAs {
public:
  explicit DefaultVariantAs(int variant) : Saved(Settings::DefaultVariant) { Settings::DefaultVariant = variant; }
  ~DefaultVariantAs() { Settings::DefaultVariant = Saved; }
  DefaultVariantAs(const DefaultVariantAs&) = delete;
  DefaultVariantAs& operator=(const DefaultVariantAs&) = delete;

private:
  int Saved;
};

}  // namespace

TEST(Fen, StartPositionRoundTripsWithoutCounters) {
  Position pos;
  ASSERT_FALSE(pos.ParseFEN(StartFen));
  EXPECT_STREQ(pos.GetFEN(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  EXPECT_EQ(pos.ChessVariant, VariantNormal);
  EXPECT_EQ(pos.Castling, 15);
  EXPECT_EQ(pos.Fifty, 0);
  EXPECT_EQ(pos.Ply, 0);
}

TEST(Fen, EnPassantSquareKeptOnlyWhenAPawnCanTake) {
  Position pos;
  ASSERT_FALSE(pos.ParseFEN("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1")) << pos.Message;
  EXPECT_EQ(pos.EpSquare, -1);
  EXPECT_STREQ(pos.GetFEN(), "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -");

  ASSERT_FALSE(pos.ParseFEN("rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1")) << pos.Message;
  EXPECT_EQ(pos.EpSquare, 44);
  EXPECT_STREQ(pos.GetFEN(), "rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq e3");
}

TEST(Fen, RookFileLettersSelectChess960) {
  Position pos;
  ASSERT_FALSE(pos.ParseFEN("1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb - 0 1")) << pos.Message;
  EXPECT_EQ(pos.ChessVariant, VariantChess960);
  EXPECT_EQ(pos.CastleRookSquare[CastleRookSlot(White, false)], SquareG1);
  EXPECT_EQ(pos.CastleRookSquare[CastleRookSlot(White, true)], SquareB1);
  EXPECT_EQ(pos.CastleRookSquare[CastleRookSlot(Black, false)], SquareG8);
  EXPECT_EQ(pos.CastleRookSquare[CastleRookSlot(Black, true)], SquareB8);
  EXPECT_STREQ(pos.GetFEN(), "1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb -");
  EXPECT_EQ(pos.CastleMask[SquareE1], 12u);
  EXPECT_EQ(pos.CastleMask[SquareG1], 14u);
  EXPECT_EQ(pos.CastleMask[SquareB1], 13u);
  EXPECT_EQ(pos.CastleMask[SquareG8], 11u);
  EXPECT_EQ(pos.CastleMask[SquareB8], 7u);
}

// Letters that name the corner rooks of a king on its home square are the
// standard rights while Chess960 is off; when it is on, they stay Chess960's.
TEST(Fen, CornerRookLettersOfAKingAtHomeKeepTheVariant) {
  const struct {
    int Variant;
    const char* Fen;
    const char* Written;
  } cases[] = {
      {VariantNormal, "r3k2r/8/8/8/8/8/8/R3K2R w HAha - 0 1", "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -"},
      {VariantNormal, "r3k2r/8/8/8/8/8/8/R3K2R b Ah - 0 1", "r3k2r/8/8/8/8/8/8/R3K2R b Qk -"},
      // A king off its home square castles only in Chess960.
      {VariantNormal, "rk5r/8/8/8/8/8/8/RK5R w HAha - 0 1", "rk5r/8/8/8/8/8/8/RK5R w HAha -"},
      {VariantChess960, "r3k2r/8/8/8/8/8/8/R3K2R w HAha - 0 1", "r3k2r/8/8/8/8/8/8/R3K2R w HAha -"},
  };
  for (const auto& c : cases) {
    const DefaultVariantAs variant(c.Variant);
    Position pos;
    ASSERT_FALSE(pos.ParseFEN(c.Fen)) << c.Fen << ": " << pos.Message;
    EXPECT_STREQ(pos.GetFEN(), c.Written) << c.Fen;
    const bool rookFileLettersStay = std::string(c.Written).find_first_of("AH") != std::string::npos;
    EXPECT_EQ(pos.ChessVariant, rookFileLettersStay ? VariantChess960 : VariantNormal) << c.Fen;
  }
}

TEST(Fen, DefaultVariantChess960FindsRooksForKQLetters) {
  const int saved = Settings::DefaultVariant;
  Settings::DefaultVariant = 1;
  Position pos;
  const bool failed = pos.ParseFEN("1r2k1r1/pppppppp/8/8/8/8/PPPPPPPP/1R2K1R1 w KQkq - 0 1");
  Settings::DefaultVariant = saved;
  ASSERT_FALSE(failed) << pos.Message;
  EXPECT_EQ(pos.ChessVariant, VariantChess960);
  EXPECT_EQ(pos.CastleRookSquare[CastleRookSlot(White, false)], SquareG1);
  EXPECT_EQ(pos.CastleRookSquare[CastleRookSlot(White, true)], SquareB1);
  EXPECT_STREQ(pos.GetFEN(), "1r2k1r1/pppppppp/8/8/8/8/PPPPPPPP/1R2K1R1 w GBgb -");
}

// K, Q, k and q name the outermost rook on their side of the king; a GUI
// names an inner rook by its file.
TEST(Fen, KingAndQueenLettersTakeTheOutermostRookInChess960) {
  const struct {
    const char* Fen;
    int Colour;
    bool QueenSide;
    int RookSquare;
    const char* Written;
  } cases[] = {
      {"4k3/8/8/8/8/8/8/4KR1R w K - 0 1", White, false, SquareH1, "4k3/8/8/8/8/8/8/4KR1R w H -"},
      {"4k3/8/8/8/8/8/8/R1R1K3 w Q - 0 1", White, true, SquareA1, "4k3/8/8/8/8/8/8/R1R1K3 w A -"},
      {"1r1rk3/8/8/8/8/8/8/4K3 b q - 0 1", Black, true, SquareB8, "1r1rk3/8/8/8/8/8/8/4K3 b b -"},
      {"3k1rr1/8/8/8/8/8/8/4K3 b k - 0 1", Black, false, SquareG8, "3k1rr1/8/8/8/8/8/8/4K3 b g -"},
  };
  const DefaultVariantAs chess960(VariantChess960);
  for (const auto& c : cases) {
    Position pos;
    ASSERT_FALSE(pos.ParseFEN(c.Fen)) << c.Fen << ": " << pos.Message;
    EXPECT_EQ(pos.CastleRookSquare[CastleRookSlot(c.Colour, c.QueenSide)], c.RookSquare) << c.Fen;
    EXPECT_STREQ(pos.GetFEN(), c.Written) << c.Fen;
  }
}

TEST(Fen, RightsThatDoNotFitAreDroppedWithAMessage) {
  Position pos;
  ASSERT_FALSE(pos.ParseFEN("4k3/8/8/8/8/8/8/5K1R w K - 0 1"));
  EXPECT_EQ(pos.Castling, 0);
  EXPECT_STREQ(pos.Message, "White king-side castle flag set, but king not on e1\n");
  Position fresh = pos;
  fresh.ComputeKeys();
  EXPECT_EQ(fresh.Hashkey, pos.Hashkey);

  ASSERT_FALSE(pos.ParseFEN("4k3/8/8/8/8/8/8/R3K3 w KQ - 0 1"));
  EXPECT_EQ(pos.Castling, CastleWhiteQueenSide);

  // Chess960: a right is kept only with the king on its back rank.
  ASSERT_FALSE(pos.ParseFEN("4k3/8/8/8/8/8/5K2/7R w H - 0 1"));
  EXPECT_EQ(pos.Castling, 0);
}

TEST(Fen, HalfMoveClockIsReadAndCapped) {
  Position pos;
  ASSERT_FALSE(pos.ParseFEN("4k3/8/8/8/8/8/8/4K3 w - - 75 120"));
  EXPECT_EQ(pos.Fifty, 75);
  ASSERT_FALSE(pos.ParseFEN("4k3/8/8/8/8/8/8/4K3 w - - 99999999999999999999 1"));
  EXPECT_GE(pos.Fifty, 100);
  EXPECT_LE(pos.Fifty, 1000000);
  ASSERT_FALSE(pos.ParseFEN("4k3/8/8/8/8/8/8/4K3 b - -"));
  EXPECT_EQ(pos.Fifty, 0);
  EXPECT_EQ(pos.Side, Black);
}

// A GUI may send the board and the side alone, or the castling field too:
// the rights then are those of a king and rook still on their home squares,
// with no en-passant square and the counters at their start.
TEST(Fen, MissingCastlingAndEnPassantFieldsAreReadAsAtHome) {
  const struct {
    int Variant;
    const char* Fen;
    const char* Written;
  } cases[] = {
      {VariantNormal, "r3k2r/8/8/8/8/8/8/R3K2R w", "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -"},
      {VariantNormal, "r3k2r/8/8/8/8/8/8/1R2K2R b ", "r3k2r/8/8/8/8/8/8/1R2K2R b Kkq -"},
      {VariantNormal, "r3k2r/8/8/8/8/8/8/R4K1R w", "r3k2r/8/8/8/8/8/8/R4K1R w kq -"},
      {VariantNormal, "1r1k3r/8/8/8/8/8/8/4K3 w", "1r1k3r/8/8/8/8/8/8/4K3 w - -"},
      {VariantNormal, "rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq",
       "rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq -"},
      {VariantChess960, "r3k2r/8/8/8/8/8/8/R3K2R w", "r3k2r/8/8/8/8/8/8/R3K2R w HAha -"},
  };
  for (const auto& c : cases) {
    const DefaultVariantAs variant(c.Variant);
    Position pos;
    ASSERT_FALSE(pos.ParseFEN("4k3/8/8/8/8/8/8/4K3 w - - 42 1"));
    ASSERT_FALSE(pos.ParseFEN(c.Fen)) << c.Fen << ": " << pos.Message;
    EXPECT_STREQ(pos.GetFEN(), c.Written) << c.Fen;
    EXPECT_EQ(pos.EpSquare, -1) << c.Fen;
    EXPECT_EQ(pos.Fifty, 0) << c.Fen;
    Position fresh = pos;
    fresh.ComputeKeys();
    EXPECT_EQ(fresh.Hashkey, pos.Hashkey) << c.Fen;
  }
}

TEST(Fen, MirroredFenSwapsColoursAndRanks) {
  Position pos;
  ASSERT_FALSE(pos.ParseFEN("rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"));
  EXPECT_STREQ(pos.GetMirroredFEN(), "rnbqkbnr/pppp1ppp/8/3Pp3/8/8/PPP1PPPP/RNBQKBNR w kqKQ e6");
  Position mirrored;
  ASSERT_FALSE(mirrored.ParseFEN(pos.GetMirroredFEN())) << mirrored.Message;
  EXPECT_EQ(mirrored.EpSquare, 20);
  EXPECT_EQ(mirrored.Castling, 15);
}

struct MalformedFen {
  const char* Fen;
  const char* Message;
};

class FenRejects : public ::testing::TestWithParam<MalformedFen> {};

TEST_P(FenRejects, WithItsMessageAndTheBoardKept) {
  Position pos;
  ASSERT_FALSE(pos.ParseFEN("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 5 1"));
  const std::string before = pos.GetFEN();
  const std::uint64_t key = pos.Hashkey;
  EXPECT_TRUE(pos.ParseFEN(GetParam().Fen));
  EXPECT_STREQ(pos.Message, GetParam().Message);
  EXPECT_EQ(pos.GetFEN(), before);
  EXPECT_EQ(pos.Hashkey, key);
  EXPECT_EQ(pos.Fifty, 5);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FenRejects,
    ::testing::Values(
        MalformedFen{nullptr, "BAD FEN: No fen string given\n"},
        MalformedFen{"", "Bad FEN: No board given\n"},
        MalformedFen{"   ", "Bad FEN: No board given\n"},
        MalformedFen{"rnbqkbnrr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
                     "Bad FEN: Too many digits on rank 8\n"},
        MalformedFen{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKB1 w KQkq - 0 1", "Bad FEN: Too few digits on rank 1\n"},
        MalformedFen{"rnbqkbnr/pppppppp/8/44/8/8/PPPPPPPP/RNBQKBNR1 w KQkq - 0 1",
                     "Bad FEN: Too many digits on rank 1\n"},
        MalformedFen{"rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
                     "Bad FEN: Unexpected character '9' on rank 6\n"},
        MalformedFen{"rnbqkbnr/pppxpppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
                     "Bad FEN: Unexpected character 'x' on rank 7\n"},
        MalformedFen{"rnbqkbnr/pppppppp/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
                     "Bad FEN: The board has 7 ranks instead of 8\n"},
        MalformedFen{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR/8 w KQkq - 0 1",
                     "Bad FEN: The board has more than 8 ranks\n"},
        MalformedFen{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", "Bad FEN: Side to move missing or not a single letter\n"},
        MalformedFen{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR 1 KQkq - 0 1",
                     "Bad FEN: Side to move missing or not a single letter\n"},
        MalformedFen{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq e9 0 1", "Bad FEN: Bad en passant field\n"},
        MalformedFen{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq e6 0 1",
                     "Bad FEN: e6 cannot be an en passant square\n"},
        MalformedFen{"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e3 0 1",
                     "Bad FEN: e3 cannot be an en passant square\n"},
        MalformedFen{"P3k3/8/8/8/8/8/8/4K3 w - - 0 1", "Bad FEN: Pawn on rank 8\n"},
        MalformedFen{"4k3/8/8/8/8/8/8/p3K3 w - - 0 1", "Bad FEN: Pawn on rank 1\n"},
        MalformedFen{"4k3/8/8/8/8/P7/PPPPPPPP/4K3 w - - 0 1", "Bad FEN: More than 8 white pawns\n"},
        MalformedFen{"4k3/8/8/NNNNNNNN/NNNNNNNN/8/8/4K3 w - - 0 1", "Bad FEN: More than 16 white men\n"},
        MalformedFen{"4k3/8/8/8/8/8/8/K3K3 w - - 0 1", "Bad FEN: More than one white king\n"},
        MalformedFen{"8/8/8/8/8/8/8/4K3 w - - 0 1", "Bad FEN: Illegal board\n"},
        MalformedFen{"4k3/8/8/8/8/8/8/8 w - - 0 1", "Bad FEN: Illegal board\n"},
        MalformedFen{"4k3/8/8/8/8/8/8/4R1K1 w - - 0 1", "Bad FEN: Illegal board\n"}));
