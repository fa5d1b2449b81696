// Move text: every legal move of the perft positions (and of their
// children) round-trips through coordinate text and SAN, under UCI and the
// other protocols, and text that names no move is refused.
#include <gtest/gtest.h>

#include <string>

#include "board_helpers.h"
#include "engine/movetext.h"
#include "engine/settings.h"
#include "shared_data.h"
#include "stub_front_end.h"

namespace {

// SAN as a careful writer gives it: piece letter, the least disambiguation,
// capture mark, promotion and check marks.
std::string WriteSan(Position& pos, const MoveList& list, Move m) {
  const int from = MoveFrom(m), to = MoveTo(m);
  const int kind = KindOf(pos.Board[from]);
  std::string san;
  auto square = [](int s) { return std::string{static_cast<char>('a' + FileOf(s)), static_cast<char>('0' + RankOf(s))}; };
  if (m & MoveCastle) {
    san = FileOf(to) == 2 ? "O-O-O" : "O-O";
  } else {
    if (kind == Pawn) {
      if (m & MoveCapture) san += static_cast<char>('a' + FileOf(from));
    } else {
      san += "PNK?BRQ"[kind - 1];
      bool clash = false, sameFile = false, sameRank = false;
      for (int i = 0; i < list.Count; ++i) {
        const Move o = list.Moves[i];
        if (o == m || MoveTo(o) != to || pos.Board[MoveFrom(o)] != pos.Board[from] || (o & MoveCastle)) continue;
        Position copy = pos;
        UndoRecord undo;
        if (!copy.MakeMove(o, undo)) continue;
        clash = true;
        sameFile |= FileOf(MoveFrom(o)) == FileOf(from);
        sameRank |= RowOf(MoveFrom(o)) == RowOf(from);
      }
      if (clash && (!sameFile || sameRank)) san += static_cast<char>('a' + FileOf(from));
      if (clash && sameFile) san += static_cast<char>('0' + RankOf(from));
    }
    if (m & MoveCapture) san += 'x';
    san += square(to);
    if (MovePromotionCode(m)) {
      san += '=';
      san += "PNK?BRQ"[KindOf(MovePromotionCode(m)) - 1];
    }
  }
  Position after = pos;
  UndoRecord undo;
  if (after.MakeMove(m, undo) && after.InCheck()) san += '+';
  return san;
}

void CheckRoundTrips(Position& pos) {
  MoveList list;
  GenerateMoves(pos, list, nullptr);
  for (int i = 0; i < list.Count; ++i) {
    const Move m = list.Moves[i];
    {
      Position copy = pos;
      UndoRecord undo;
      if (!copy.MakeMove(m, undo)) continue;
    }
    for (ProtocolKind kind : {ProtocolUci, ProtocolXboard, ProtocolConsole}) {
      StubFrontEnd frontEnd(kind);
      const char* text = MoveToText(pos, m);
      ASSERT_TRUE(IsMoveText(text)) << text;
      ASSERT_EQ(FindCoordinateMove(list, pos, text), i) << pos.GetFEN() << " " << text;
      ASSERT_EQ(list.Cursor, i + 1);
      ASSERT_TRUE(MatchCoordinateMove(pos, text, m)) << text;
    }
    const std::string san = WriteSan(pos, list, m);
    ASSERT_EQ(ParseSanMove(list, pos, san.c_str()), i) << pos.GetFEN() << " " << san;
  }
}

}  // namespace

TEST(MoveText, EveryLegalMoveOfThePerftPositionsRoundTrips) {
  REQUIRE_SHARED_FILE(path, "data/perft.txt");
  for (const PerftCase& c : ReadPerftCases(path)) {
    SCOPED_TRACE(c.Fen);
    Position root = FromFen(c.Fen.c_str());
    CheckRoundTrips(root);
    for (Move m : LegalMoves(root)) {
      Position child = root;
      UndoRecord undo;
      ASSERT_TRUE(child.MakeMove(m, undo));
      CheckRoundTrips(child);
    }
  }
}

TEST(MoveText, Chess960CastlingIsTheKingTakingItsRookUnderUci) {
  // Chess960 as a GUI chooses it: with it off, H for a king at home is
  // the standard right.
  const int savedVariant = Settings::DefaultVariant;
  Settings::DefaultVariant = VariantChess960;
  Position pos = FromFen("4k3/8/8/8/8/8/8/4K2R w H - 0 1");
  Settings::DefaultVariant = savedVariant;
  ASSERT_EQ(pos.ChessVariant, VariantChess960);
  MoveList list;
  GenerateMoves(pos, list, nullptr);
  const Move castle = MakeMoveWord(SquareE1, SquareG1) | MoveCastle;
  {
    StubFrontEnd uci(ProtocolUci);
    EXPECT_STREQ(MoveToText(pos, castle), "e1h1");
    const int index = FindCoordinateMove(list, pos, "e1h1");
    ASSERT_GE(index, 0);
    EXPECT_EQ(list.Moves[index], castle);
  }
  {
    StubFrontEnd xboard(ProtocolXboard);
    EXPECT_STREQ(MoveToText(pos, castle), "O-O");
  }
  EXPECT_STREQ(MoveToText(pos, castle), "O-O");  // no front end: not UCI
  // In normal chess castling is the king's two-square move.
  Position normal = FromFen("4k3/8/8/8/8/8/8/4K2R w K - 0 1");
  StubFrontEnd uci(ProtocolUci);
  EXPECT_STREQ(MoveToText(normal, castle), "e1g1");
}

// The null move of a searched line (current line, refutation, PV) in each
// dialogue's own form: UCI's "0000", which GUIs read as no move.
TEST(MoveText, NullMoveIsWrittenInTheFormOfTheDialogue) {
  const Position pos = FromFen("4k3/8/8/8/8/8/8/4K3 w - - 0 1");
  const struct {
    ProtocolKind Kind;
    const char* Text;
  } cases[] = {{ProtocolUci, "0000"}, {ProtocolXboard, "null"}, {ProtocolConsole, "null"}};
  for (const auto& c : cases) {
    StubFrontEnd front(c.Kind);
    EXPECT_STREQ(MoveToText(pos, MoveNull), c.Text) << c.Kind;
  }
}

TEST(MoveText, SpecialTexts) {
  const Position pos = FromFen("4k3/8/8/8/8/8/1p6/4K3 b - - 0 1");
  EXPECT_STREQ(MoveToText(pos, MakeMoveWord(49, 56) | MovePawn | MovePromotion | (Move(PieceCode(Black, Knight)) << 12)),
               "b2a1n");
  EXPECT_STREQ(MoveToText(pos, MoveNull), "null");
  EXPECT_TRUE(IsMoveText("e2e4q"));
  EXPECT_TRUE(IsMoveText("a0a8"));
  EXPECT_TRUE(IsMoveText("O-O-O"));
  EXPECT_FALSE(IsMoveText("e2e9"));
  EXPECT_FALSE(IsMoveText("O-O+"));
  EXPECT_FALSE(IsMoveText(nullptr));
  EXPECT_FALSE(IsMoveText("e2"));
}

TEST(MoveText, SanPicksTheNamedPiece) {
  Position pos = FromFen("4k3/8/8/3p4/2P1P3/8/8/1N2KN2 w - - 0 1");
  MoveList list;
  GenerateMoves(pos, list, nullptr);
  int index = ParseSanMove(list, pos, "exd5");
  ASSERT_GE(index, 0);
  EXPECT_EQ(MoveFrom(list.Moves[index]), 36);
  index = ParseSanMove(list, pos, "Nbd2");
  ASSERT_GE(index, 0);
  EXPECT_EQ(MoveFrom(list.Moves[index]), SquareB1);
  index = ParseSanMove(list, pos, "Nfd2!?");
  ASSERT_GE(index, 0);
  EXPECT_EQ(MoveFrom(list.Moves[index]), SquareF1);

  Position promotion = FromFen("2k5/4P3/8/8/8/8/8/4K3 w - - 0 1");
  GenerateMoves(promotion, list, nullptr);
  index = ParseSanMove(list, promotion, "e8=Q+");
  ASSERT_GE(index, 0);
  EXPECT_EQ(KindOf(MovePromotionCode(list.Moves[index])), Queen);
}

struct RefusedText {
  const char* Fen;
  const char* Text;
};

class MoveTextRefuses : public ::testing::TestWithParam<RefusedText> {};

TEST_P(MoveTextRefuses, TextThatNamesNoLegalMove) {
  Position pos = FromFen(GetParam().Fen);
  const std::string before = pos.GetFEN();
  MoveList list;
  GenerateMoves(pos, list, nullptr);
  EXPECT_EQ(FindCoordinateMove(list, pos, GetParam().Text), -1);
  EXPECT_EQ(ParseSanMove(list, pos, GetParam().Text), -1);
  EXPECT_EQ(pos.GetFEN(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MoveTextRefuses,
    ::testing::Values(RefusedText{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e2e5"},
                      RefusedText{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "a0a8"},
                      RefusedText{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "h0h1"},
                      RefusedText{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", ""},
                      RefusedText{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "Xe4"},
                      RefusedText{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "O-O"},
                      RefusedText{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
                                  "Nf3aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
                      // A pawn reaching the last rank must name its piece.
                      RefusedText{"2k5/4P3/8/8/8/8/8/4K3 w - - 0 1", "e7e8"},
                      RefusedText{"2k5/4P3/8/8/8/8/8/4K3 w - - 0 1", "e8"},
                      RefusedText{"2k5/4P3/8/8/8/8/8/4K3 w - - 0 1", "e8=K"},
                      // A pinned piece's move is illegal.
                      RefusedText{"4k3/4r3/8/8/8/8/4N3/4K3 w - - 0 1", "Nc3"},
                      // A king step is not castling.
                      RefusedText{"4k3/8/8/8/8/8/8/4K2R w K - 0 1", "Kg1"}));
