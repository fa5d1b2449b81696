// The game object and the repetition tests of the search, all judged on the
// position's key history.
#include "engine/game.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/movepick.h"
#include "engine/movetext.h"
#include "engine/settings.h"
#include "support/output.h"

static_assert(SearchHistoryRoom > MaxPly + 1, "the search must find room for its plies after the game's");
static_assert(KeptHistoryPlies + SearchHistoryRoom < MaxGamePlies, "cutting the window must make room");

namespace {

constexpr const char* StandardStartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// The oldest ply a repetition scan may look at: the fifty-move window, but
// never before the start of the history (a FEN may bring a high clock).
inline int OldestComparablePly(int ply, int fifty) { return std::max(0, ply - fifty); }

// Earlier positions with the same keys and side to move, newest first.
int CountRepetitions(const KeyPair* history, int ply, const KeyPair& keys, int fifty, int enough) {
  int matches = 0;
  for (int p = ply - 4; p >= OldestComparablePly(ply, fifty); p -= 2)
    if (history[p] == keys && ++matches >= enough) break;
  return matches;
}

bool AnyLegalMove(Position& pos, const MoveList& list) {
  for (int i = 0; i < list.Count; ++i) {
    UndoRecord undo;
    if (pos.MakeMove(list.Moves[i], undo)) {
      pos.UnmakeMove(undo);
      return true;
    }
  }
  return false;
}

}  // namespace

ChessGame::ChessGame() {
  GamePly = 0;
  HighestPly = 0;
  WindowStart = 0;
  ChessVariant = VariantNormal;
  Moves.Count = 0;
  Moves.Cursor = 0;
  Outcome = {};
  StartFen[0] = '\0';
  SetStartPosition();
}

ChessGame::ChessGame(const Position& board) : Position(board) {
  GamePly = 0;
  HighestPly = 0;
  Moves.Count = 0;
  Moves.Cursor = 0;
  Outcome = {};
  StartFen[0] = '\0';
}

void ChessGame::SetStartPosition() {
  ParseFEN(StandardStartFen);
  std::snprintf(StartFen, sizeof(StartFen), "%s", GetFEN());
  Outcome = {};
  GamePly = 0;
  HighestPly = 0;
  WindowStart = 0;
  Refresh();
}

bool ChessGame::SetFEN(const char* fen) {
  if (ParseFEN(fen)) return true;
  std::snprintf(StartFen, sizeof(StartFen), "%s", GetFEN());
  Outcome = {};
  GamePly = 0;
  HighestPly = 0;
  WindowStart = 0;
  Refresh();
  return false;
}

void ChessGame::ForgetOldestPlies() {
  const int drop = Ply - KeptHistoryPlies;
  if (drop <= 0) return;
  // The books get the game from StartFen on: it becomes the position at the
  // new window start, found by taking the dropped moves back on a copy.
  auto start = std::make_unique<Position>(static_cast<const Position&>(*this));
  for (int i = Ply - 1; i >= drop; --i) start->UnmakeMove(Undo[i]);
  std::snprintf(StartFen, sizeof(StartFen), "%s", start->GetFEN());
  const int records = HighestPly - WindowStart;  // the redo line's too
  std::memmove(Undo, Undo + drop, sizeof(UndoRecord) * static_cast<std::size_t>(records - drop));
  std::memmove(KeyHistory, KeyHistory + drop, sizeof(KeyPair) * static_cast<std::size_t>(Ply - drop));
  Ply -= drop;
  WindowStart += drop;
}

bool ChessGame::PlayMove(const Move& move) {
  // Only a move of this position's list: any other word would move pieces
  // that are not there.
  if (std::find(Moves.Moves, Moves.Moves + Moves.Count, move) == Moves.Moves + Moves.Count) return false;
  // One entry stays free, so that a move can still be tried on the game.
  if (Ply >= MaxGamePlies - 1) ForgetOldestPlies();
  // The redo line holds on only while the same moves are played again.
  const bool followsRedoLine = GamePly < HighestPly && Undo[Ply].Move == move;
  if (!MakeMove(move, Undo[Ply])) return false;
  ++GamePly;
  HighestPly = followsRedoLine ? std::max(HighestPly, GamePly) : GamePly;
  Refresh();
  return true;
}

void ChessGame::SetVariant(int variant) {
  if (variant == ChessVariant) return;
  ChangeVariant(variant);
  // The moves played so far were made under the other rules: taking one back
  // could restore a right whose king or rook the new rules look for
  // elsewhere. The game goes on from here as a new one.
  if (GamePly > 0) {
    char fen[96];
    std::snprintf(fen, sizeof fen, "%s", GetFEN());
    const int variantBefore = Settings::DefaultVariant;
    Settings::DefaultVariant = variant;
    SetFEN(fen);
    Settings::DefaultVariant = variantBefore;
    return;
  }
  std::snprintf(StartFen, sizeof(StartFen), "%s", GetFEN());
  Refresh();
}

bool ChessGame::TakeBack() {
  if (Ply == 0) return false;
  --GamePly;
  UnmakeMove(Undo[Ply - 1]);
  Refresh();
  return true;
}

bool ChessGame::HasLegalMove() {
  // A game at the end of its key history refuses every move; legality is
  // then asked of a copy with room to spare.
  if (Ply >= MaxGamePlies) {
    Position copy = *this;
    copy.Ply = 0;
    return AnyLegalMove(copy, Moves);
  }
  return AnyLegalMove(*this, Moves);
}

bool ChessGame::CheckGameEnd(GameResult& r) {
  r = {};
  if (!HasLegalMove()) {
    if (InCheck()) {
      r.Reason = ReasonMate;
      r.Result = Side == Black ? ResultWhiteWins : ResultBlackWins;
    } else {
      r.Reason = ReasonStalemate;
      r.Result = ResultDraw;
    }
  } else if (Fifty >= 4 && CountRepetitions(KeyHistory, Ply, Keys(), Fifty, 2) >= 2) {
    r.Result = ResultDraw;
    r.Reason = ReasonRepetition;
  } else if (Fifty >= 100) {
    r.Result = ResultDraw;
    r.Reason = ReasonFiftyMoves;
  }
  Outcome = r;
  return r.Result != ResultNone;
}

void ChessGame::PrintResult(const GameResult& r) {
  static constexpr const char* Results[4] = {"", "1-0 {", "0-1 {", "1/2-1/2 {"};
  static constexpr const char* Reasons[8] = {"unknown}\n", "resigning}\n", "mate}\n", "stalemate}\n",
                                             "Repetition}\n", "50 moves}\n", "No mating material}\n", "Agreed}\n"};
  if (r.Result == ResultNone || r.Result > ResultDraw) return;
  const char* reason = r.Reason < 8 ? Reasons[r.Reason] : Reasons[0];
  // One call, so that no other output comes between the two halves.
  Printer.Print(ChannelStdout, true, "%s%s", Results[r.Result], reason);
}

int ChessGame::ClassifyMove(const Move& move) const {
  Position copy = *this;
  UndoRecord undo;
  if (!copy.MakeMove(move, undo)) return MoveClassIllegal;
  int flags = 0;
  if (undo.Captured != 0) flags |= MoveClassCaptures;
  if (copy.InCheck()) flags |= MoveClassChecks;
  if (copy.Fifty >= 4 && CountRepetitions(copy.KeyHistory, copy.Ply, copy.Keys(), copy.Fifty, 1) >= 1)
    flags |= MoveClassRepeats;
  return flags;
}

void ChessGame::GetMoveListText(char* out) {
  out[0] = '\0';
  const int entryPly = GamePly;
  while (TakeBack()) {
  }
  char* end = out;
  for (int i = 0; i < HighestPly - WindowStart; ++i) {
    const char* text = MoveToText(*this, Undo[i].Move);
    const size_t length = std::strlen(text);
    std::memcpy(end, text, length);
    end[length] = ' ';
    end += length + 1;
    *end = '\0';
    if (GamePly < HighestPly && !PlayMove(Undo[Ply].Move)) break;
  }
  while (GamePly > entryPly && TakeBack()) {
  }
}

bool Position::IsRepetition(int pliesFromRoot, std::uint32_t& count) const {
  return IsDrawByRepetition(KeyHistory, Ply, Keys(), pliesFromRoot, Fifty, count);
}

bool IsDrawByRepetition(const KeyPair* history, int ply, const KeyPair& keys, int pliesFromRoot, int fifty,
                        std::uint32_t& count) {
  count = 0;
  if (fifty < 4) return false;
  for (int p = ply - 4; p >= OldestComparablePly(ply, fifty); p -= 2) {
    if (!(history[p] == keys)) continue;
    ++count;
    // Inside the tree one repetition is a draw; an occurrence from before
    // the root needs a second one near the root.
    if (pliesFromRoot > 2 || p >= ply - pliesFromRoot || count >= 2) return true;
  }
  return false;
}
