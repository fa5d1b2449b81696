// The book list while no book kind can be made yet: configured books are
// reported and skipped, so only the CTG reader is ever asked for a move.
#include "books/booklist.h"

#include <cstring>
#include <string>

#include "books/ctg.h"
#include "engine/game.h"
#include "engine/movegen.h"
#include "engine/movetext.h"
#include "frontend/frontend.h"
#include "frontend/settings.h"

namespace {

void Info(const char* text) {
  if (ActiveFrontEnd) ActiveFrontEnd->Info(text);
}

}  // namespace

void OpenConfiguredBooks() {
  if (ConfiguredBooks.Count > 0) Info("Could not create book object, playing without a book\n");
}

Move FindBookMove(ChessGame& game) {
  if (Settings::CtgBookSet && !Settings::CtgBook.empty()) {
    GlobalCTGReader.SetName(Settings::CtgBook);
    std::string text;
    if (GlobalCTGReader.GetMove(game.GetFEN(), text)) {
      Info("CTG book move");
      const int index = FindCoordinateMove(game.Moves, game, text.c_str());
      if (index >= 0) return game.Moves.Moves[index];
    }
  }
  const Move move = GetBookMove(game);
  if (move == NoMove) return NoMove;
  UndoRecord undo;
  if (!game.MakeMove(move, undo)) {
    Info("Illegal move found in book, ignoring it");
    return NoMove;
  }
  game.UnmakeMove(undo);
  Info("Quelm book move");
  return move;
}

Move GetBookMove(ChessGame&) { return NoMove; }

// With no open book a finished game has nowhere to go.
void OfferGameToBooks(ChessGame&, int) {}

void CloseBooks() {}

Move EngineMoveOf(const Position& pos, const GameMove& move) {
  if (!move.Valid || move.From < 0 || move.From > 63 || move.To < 0 || move.To > 63) return NoMove;
  int from = move.From, to = move.To, promotion = 0;
  const bool castling = move.From == move.To;
  if (castling) {
    const int row = RowOf(move.From), colour = row == 7 ? White : Black;
    if ((row != 0 && row != 7) || (FileOf(move.From) != 0 && FileOf(move.From) != 7) || colour != pos.Side)
      return NoMove;
    from = pos.KingSquare(colour);
    to = MakeSquare(FileOf(move.From) == 0 ? 2 : 6, row);
  } else if (move.Promotion) {
    promotion = PieceCode(pos.Side, static_cast<int>(move.Promotion & 7));
  }
  MoveList list;
  GenerateMoves(pos, list, nullptr);
  for (int i = 0; i < list.Count; ++i) {
    const Move m = list.Moves[i];
    if (MoveFrom(m) == from && MoveTo(m) == to && MovePromotionCode(m) == promotion &&
        ((m & MoveCastle) != 0) == castling)
      return m;
  }
  return NoMove;
}

GameMove GameMoveOf(Move move) {
  GameMove answer;
  if (move == NoMove || (move & MoveNull)) return answer;
  const int from = MoveFrom(move), to = MoveTo(move);
  if (move & MoveCastle) {
    // The king's target file names the side: Chess960 kings may stand
    // on either side of it.
    answer.From = answer.To = MakeSquare(FileOf(to) == 2 ? 0 : 7, RowOf(from));
  } else {
    answer.From = from;
    answer.To = to;
    answer.Promotion = static_cast<std::uint32_t>(KindOf(MovePromotionCode(move)));
  }
  answer.Valid = 1;
  return answer;
}
