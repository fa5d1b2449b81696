// The book list while no book kind can be made yet: configured books are
// reported and skipped, so only the CTG reader is ever asked for a move.
#include "books/booklist.h"

#include <cstring>
#include <string>

#include "books/ctg.h"
#include "engine/game.h"
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
