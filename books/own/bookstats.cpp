// The own book's move statistics, gathered on request from its two games
// databases, the queue of big-database games not processed yet, and the
// rebuild of the position index.
#include <cstring>
#include <memory>
#include <vector>

#include "books/own/bookquelm.h"
#include "games/tags.h"

namespace {

using EntryPointer = std::unique_ptr<BookQuelmEntry>;

// One record of the position being updated, and whether it must be written.
struct TableRow {
  EntryPointer Entry;
  bool Changed = false;
};

// The side to move plays the move: its wins are the records' wins.
enum class Outcome { None, Win, Draw, Loss };

Outcome OutcomeFor(const Game& game, int side) {
  const GameTag* tag = game.Tags.Find(TagResult);
  const int code = tag ? tag->Value : 0;
  if (code == 3) return Outcome::Draw;
  if (code == 1) return side == GameBoard::White ? Outcome::Win : Outcome::Loss;
  if (code == 2) return side == GameBoard::Black ? Outcome::Win : Outcome::Loss;
  return Outcome::None;
}

// Plays the game's main line up to the position; the move that follows it
// there, or null when the line never reaches it or ends in it.
const GameMove* MoveAfter(Game& game, std::uint64_t key) {
  while (game.Board.HashKey() != key)
    if (game.Forward()) return nullptr;
  const GameNode* next = game.Current ? game.Current->MainChild : game.Root;
  return next && next->Move ? next->Move : nullptr;
}

TableRow& RowFor(std::vector<TableRow>& table, std::uint64_t key, const GameMove& move) {
  for (TableRow& row : table) {
    const GameMove& held = row.Entry->Move;
    if (held.From == move.From && held.To == move.To && held.Promotion == move.Promotion) return row;
  }
  TableRow row;
  row.Entry.reset(new BookQuelmEntry);
  row.Entry->Set(key, move);
  row.Changed = true;
  table.push_back(std::move(row));
  return table.back();
}

// A pass reached game reached: the first row carries that as its watermark,
// so that games which counted for no move (they end in the position, cannot
// be loaded or never reach it) are not looked at again. A position with no
// row yet gets a free record to hold it.
void Advance(std::vector<TableRow>& table, std::uint64_t key, std::int32_t reached, bool own) {
  if (table.empty()) {
    TableRow row;
    row.Entry.reset(new BookQuelmEntry);
    row.Entry->MakeFree(key);
    table.push_back(std::move(row));
  }
  TableRow& first = table.front();
  std::int32_t& watermark = own ? first.Entry->OwnGames : first.Entry->DBGames;
  if (static_cast<std::uint32_t>(watermark) < static_cast<std::uint32_t>(reached)) {
    watermark = reached;
    first.Changed = true;
  }
}

}  // namespace

bool BookQuelm::UpdateStats(const GameBoard& board, std::int32_t limit) {
  if (!open) return true;
  if (!Header.writable) {
    SetBookMessage(Header.ErrorText, 2010);
    return true;
  }
  const std::uint64_t key = board.HashKey();
  if (Positions.FindStart(key)) return true;

  // 1. The position's records; the highest watermarks say where to start.
  std::vector<TableRow> table;
  std::uint32_t maxDB = 0, maxOwn = 0;
  while (BookQuelmEntry* entry = Positions.ReadEntries()) {
    maxDB = std::max(maxDB, static_cast<std::uint32_t>(entry->DBGames));
    maxOwn = std::max(maxOwn, static_cast<std::uint32_t>(entry->OwnGames));
    TableRow row;
    row.Entry.reset(entry);
    // Extra free records add nothing; every record with a move stays, a
    // hidden one (manual below -100) too, or a game would write over it.
    if (!table.empty() && entry->IsFreeRecord()) continue;
    table.push_back(std::move(row));
  }

  // 2. The passes over both databases.
  auto pass = [&](GamesDatabase& database, std::uint32_t from, bool own) {
    const std::uint32_t count = database.GameCount;
    std::uint32_t loaded = 0, reached = from;
    bool stopped = false;
    database.StartPositionSearch(board);
    database.SkipPositionSearchTo(from + 1);
    for (std::uint32_t g = database.NextPositionMatch(); g != 0; g = database.NextPositionMatch()) {
      std::uint8_t flags = 0;
      std::unique_ptr<Game> game = database.LoadGame(g, flags);
      loaded++;
      reached = g;
      bool examined = false;
      if (game) {
        const GameTag* player = game->Tags.Find(board.Side == GameBoard::White ? TagWhite : TagBlack);
        const bool counts = !own || (player && std::strcmp(player->Text, "Computer") == 0);
        const GameMove* move = counts ? MoveAfter(*game, key) : nullptr;
        if (counts) examined = true;
        if (move) {
          TableRow& row = RowFor(table, key, *move);
          BookQuelmEntry& entry = *row.Entry;
          row.Changed = true;
          (own ? entry.OwnGames : entry.DBGames) = static_cast<std::int32_t>(g);
          switch (OutcomeFor(*game, board.Side)) {
            case Outcome::Win: own ? entry.IncOwnWins() : entry.IncDBWins(); break;
            case Outcome::Draw: own ? entry.IncOwnDraws() : entry.IncDBDraws(); break;
            case Outcome::Loss: own ? entry.IncOwnLosses() : entry.IncDBLosses(); break;
            case Outcome::None: break;
          }
        }
      }
      // Own games that were not the engine's count toward the limit but do
      // not stop the pass by themselves.
      if (limit > 0 && loaded >= static_cast<std::uint32_t>(limit) && (!own || examined)) {
        stopped = true;
        break;
      }
    }
    Advance(table, key, static_cast<std::int32_t>(stopped ? reached : count), own);
  };
  if (Header.DBname[0] && BigDatabase.IsOpen() && maxDB < BigDatabase.GameCount) pass(BigDatabase, maxDB, false);
  if (Header.OwnName[0] && OwnDatabase.IsOpen() && maxOwn < OwnDatabase.GameCount) pass(OwnDatabase, maxOwn, true);

  // 3. Write back what changed; every entry goes back to the pool on the way
  // out, whatever happens.
  bool failed = false;
  for (TableRow& row : table) {
    if (!row.Changed) continue;
    bool appended = false;
    if (Positions.WriteEntry(*row.Entry, &appended)) {
      SetBookMessage(Positions.ErrorText, 2055);
      failed = true;
      continue;
    }
    if (appended && Header.IncrementNrMoves() == 0) failed = true;
  }
  Positions.Flush();
  return failed;
}

bool BookQuelm::RecalcStats(const GameBoard& board) {
  if (!open) return true;
  if (!Header.writable) {
    SetBookMessage(Header.ErrorText, 2010);
    return true;
  }
  std::vector<std::uint32_t> records;
  if (Positions.RecordsOf(board.HashKey(), records)) return true;
  BookQuelmEntry entry;
  for (std::uint32_t n : records) {
    if (Positions.ReadRecord(n, entry)) return true;
    entry.DBGames = entry.DBWins = entry.DBDraws = entry.DBLosses = 0;
    entry.OwnGames = entry.OwnWins = entry.OwnDraws = entry.OwnLosses = 0;
    if (Positions.WriteRecord(n, entry)) return true;
  }
  return UpdateStats(board, 0);
}

Game* BookQuelm::TakeGame(std::unique_ptr<Game> loaded, std::int32_t number) {
  auto game = std::make_unique<Game>();
  if (game->Reset() || game->CopyFrom(*loaded)) return nullptr;
  game->GameNumber = number;
  return game.release();
}

Game* BookQuelm::GetUnprocessedGameExcept(const GameBoard& board, std::set<std::int32_t>& except) {
  if (!open || !Header.DBname[0] || !BigDatabase.IsOpen()) return nullptr;
  BigDatabase.StartPositionSearch(board);
  if (NextUnprocessedGame > 0 && static_cast<std::uint32_t>(NextUnprocessedGame) <= BigDatabase.GameCount)
    BigDatabase.SkipPositionSearchTo(static_cast<std::uint32_t>(NextUnprocessedGame));
  for (std::uint32_t g = BigDatabase.NextPositionMatch(); g != 0; g = BigDatabase.NextPositionMatch()) {
    const std::int32_t number = static_cast<std::int32_t>(g);
    if (IsProcessed(number)) {
      if (number == NextUnprocessedGame) NextUnprocessedGame = number + 1;
      continue;
    }
    if (except.count(number)) continue;
    std::uint8_t flags = 0;
    std::unique_ptr<Game> loaded = BigDatabase.LoadGame(g, flags);
    if (!loaded) continue;  // a game that cannot be read is no game to hand out
    if (flags & GamesDatabase::DeletedFlag) {
      SetProcessed(number);
      continue;
    }
    Game* game = TakeGame(std::move(loaded), number);
    if (!game) continue;
    except.insert(number);
    return game;
  }
  return nullptr;
}

Game* BookQuelm::GetUnprocessedGame(const GameBoard& board) {
  std::set<std::int32_t> except;
  return GetUnprocessedGameExcept(board, except);
}

Game* BookQuelm::GetRandomGameExcept(std::set<std::int32_t>& except) {
  if (!open || !Header.DBname[0] || !BigDatabase.IsOpen() || BigDatabase.GameCount == 0) return nullptr;
  for (int draw = 0; draw < 1000; draw++) {
    const std::int32_t r = static_cast<std::int32_t>(generator.Next() % BigDatabase.GameCount + 1);
    if (r < NextUnprocessedGame || IsProcessed(r) || except.count(r)) continue;
    std::uint8_t flags = 0;
    std::unique_ptr<Game> loaded = BigDatabase.LoadGame(static_cast<std::uint32_t>(r), flags);
    if (!loaded) continue;
    if (flags & GamesDatabase::DeletedFlag) {
      SetProcessed(r);
      continue;
    }
    Game* game = TakeGame(std::move(loaded), r);
    if (!game) continue;
    except.insert(r);
    return game;
  }
  return nullptr;
}

Game* BookQuelm::GetRandomGame() {
  std::set<std::int32_t> except;
  return GetRandomGameExcept(except);
}

bool BookQuelm::SetProcessed(std::int32_t game) {
  if (!ProcessedSet.IsOpen() || !ProcessedSet.Writable || game <= 0) return true;
  if (IsProcessed(game)) return false;  // one entry per game keeps the chains short
  const std::uint32_t g = static_cast<std::uint32_t>(game);
  return ProcessedSet.Add(g & (ProcessedSet.BucketCount - 1), g, 1) || ProcessedSet.Flush();
}

bool BookQuelm::IsProcessed(std::int32_t game) {
  if (!ProcessedSet.IsOpen() || game <= 0) return false;
  const std::uint32_t g = static_cast<std::uint32_t>(game);
  ProcessedSet.SearchKey = g;
  ProcessedSet.SearchMask = 0xFFFFFFFFu;
  if (ProcessedSet.FindFirst(g & (ProcessedSet.BucketCount - 1))) return false;
  return ProcessedSet.FindNext() != 0;
}
