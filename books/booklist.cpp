// The one door to the books: the configured books made and opened at
// start-up, the book move for the engine's game, finished games offered to
// the books, and the books closed at teardown. The only book file that
// knows the engine's game and move types.
#include "books/booklist.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "books/book.h"
#include "books/ctg.h"
#include "books/own/bookquelm.h"
#include "books/polyglot.h"
#include "books/remote/bookremote.h"
#include "engine/frontendport.h"
#include "engine/game.h"
#include "engine/movegen.h"
#include "engine/settings.h"
#include "games/gameboard.h"
#include "games/gamerecord.h"
#include "games/tags.h"
#include "support/output.h"
#include "support/socket.h"

std::vector<std::unique_ptr<Book>> OpenBooks;

namespace {

// Formats a text whole, however long the names in it.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

void Info(const std::string& text) {
  if (ActiveFrontEnd) ActiveFrontEnd->Info(text.c_str());
}

void Log(const std::string& text) { Printer.Print(ChannelLogOnly, true, "%s", text.c_str()); }

std::unique_ptr<Book> MakeBook(int kind) {
  switch (kind) {
    case BookKindOwn:
      return std::make_unique<BookQuelm>();
    case BookKindCtg:
      return std::make_unique<BookCTG>();
    case BookKindPolyglot:
      return std::make_unique<BookPolyglot>();
    case BookKindRemote:
      return std::make_unique<BookRemote>();
    default:
      return nullptr;
  }
}

// A remote book is connected rather than opened; name is "host[:port]".
void ConnectRemoteBook(std::unique_ptr<Book> book, const std::string& name) {
  auto& remote = static_cast<BookRemote&>(*book);
  if (remote.connection.SetAddress(name.c_str()) || remote.connection.Connect() != 0) {
    Info(Format("Opening client book on '%s' failed\n", name.c_str()));
    return;
  }
  remote.open = 1;
  Info("Opened client book\n");
  // Before listing: a full list deletes the book.
  remote.SetRandomness(Settings::BookRandom);
  ListOpenBook(std::move(book));
  Info(Format("Setting Book randomness to %d\n", Settings::BookRandom));
}

// An own book that another program keeps opens read-only, and the games
// this one finishes are then not stored: the user hears it with the book's
// other news, not in the log alone. Empty for every other book.
std::string ReadOnlyNotice(const Book& book, const std::string& name) {
  if (book.GetKind() != BookKindOwn || !static_cast<const BookQuelm&>(book).Header.LockedOut) return "";
  return Format("Book '%s' is in use by another program: opened read-only\n", name.c_str());
}

// The CTG format knows only the standard castling rules.
bool CtgUsable(const ChessGame& game) { return game.ChessVariant != VariantChess960; }

}  // namespace

bool InitialiseNetwork() { return Socket::Initialise(); }

void AddBook(const char* name, int kind) {
  if (!name || ConfiguredBooks.Count >= ConfiguredBookList::MaxBooks) return;
  ConfiguredBooks.Names[ConfiguredBooks.Count] = name;
  ConfiguredBooks.Kinds[ConfiguredBooks.Count] = kind;
  ConfiguredBooks.Count++;
}

bool OpenOwnBookCommand(const char* name) {
  AddBook(name, BookKindOwn);
  auto book = std::make_unique<BookQuelm>();
  if (book->Open(name, true)) {
    Printer.Print(ChannelStdout, true, "Opening book '%s' failed\n", name);
    return true;
  }
  Printer.Print(ChannelStdout, true, "%s", ReadOnlyNotice(*book, name).c_str());
  Printer.Print(ChannelStdout, true, "Using opening book '%s'\n", name);
  ListOpenBook(std::move(book));
  return false;
}

bool ListOpenBook(std::unique_ptr<Book> book) {
  if (OpenBooks.size() >= static_cast<std::size_t>(MaxOpenBooks)) return true;  // the book goes with the pointer
  OpenBooks.push_back(std::move(book));
  return false;
}

void OpenConfiguredBooks() {
  for (int i = 0; i < ConfiguredBooks.Count && i < ConfiguredBookList::MaxBooks; i++) {
    const std::string& name = ConfiguredBooks.Names[i];
    std::unique_ptr<Book> book = MakeBook(ConfiguredBooks.Kinds[i]);
    // A row that cannot be made is skipped alone: the rows after it may
    // still name good books.
    if (!book) {
      Info("Could not create book object, playing without a book\n");
      continue;
    }
    if (book->GetKind() == BookKindRemote) {
      ConnectRemoteBook(std::move(book), name);
      continue;
    }
    // Only the own format is ever changed; CTG and Polyglot files may well
    // be read-only.
    if (book->Open(name.c_str(), book->GetKind() == BookKindOwn)) {
      Info(Format("Opening book '%s' failed\n", name.c_str()));
      continue;
    }
    if (const std::string notice = ReadOnlyNotice(*book, name); !notice.empty()) Info(notice);
    Info(Format("Using opening book '%s'\n", name.c_str()));
    ListOpenBook(std::move(book));
  }
  for (const std::string& name : ConfiguredBooks.Dropped)
    Info(Format("Book '%s' not opened: at most %d books are used\n", name.c_str(), ConfiguredBookList::MaxBooks));
}

Move FindBookMove(ChessGame& game) {
  if (Settings::CtgBookSet && !Settings::CtgBook.empty() && CtgUsable(game)) {
    GlobalCTGReader.SetName(Settings::CtgBook);
    std::string text;
    if (GlobalCTGReader.GetMove(game.GetFEN(), text)) {
      Info("CTG book move");
      // Through the game side's move, so that castling ("h1h1") finds the
      // engine's castling move.
      GameMove move;
      const Move found = EngineMoveOf(game, move.FromText(text.c_str()));
      if (found != NoMove) {
        UndoRecord undo;
        if (game.MakeMove(found, undo)) {
          game.UnmakeMove(undo);
          return found;
        }
        Info("Illegal move found in book, ignoring it");
      }
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

Move GetBookMove(ChessGame& game) {
  if (OpenBooks.empty()) return NoMove;
  GameBoard board;  // made on the standard start position
  if (board.SetFen(game.GetFEN())) return NoMove;
  GameMove answer;
  for (const std::unique_ptr<Book>& book : OpenBooks) {
    if (book->GetKind() == BookKindCtg && !CtgUsable(game)) continue;
    answer = book->SelectMove(board);
    if (answer.Valid) break;
  }
  if (!answer.Valid) return NoMove;
  // Castling is a king onto one of the four corners; any other move to its
  // own square names nothing. EngineMoveOf keeps the castling flag apart, so
  // a plain e1g1 never matches the castling move.
  const Move move = EngineMoveOf(game, answer);
  if (move == NoMove) return NoMove;
  const int verdict = game.ClassifyMove(move);
  if (verdict & (MoveClassIllegal | MoveClassRepeats)) return NoMove;
  return move;
}

int BookQuelm::Addgame(int computerIsBlack, int result, const char* startFen, const char* moves) {
  if (!moves) return 1;
  Log(Format("Called BookQuelm::Addgame: %d %d fen=%s moves=%s\n", computerIsBlack, result,
             startFen ? startFen : "(none)", moves));
  Game game;
  if (startFen ? game.SetStartFen(startFen) : game.Reset()) {
    Log("# Error in start position\n");
    return 1;
  }
  GameTag tag;
  tag.Parse(TagWhite, computerIsBlack ? "Opponent" : "Computer");
  game.Tags.Set(tag);
  tag.Parse(TagBlack, computerIsBlack ? "Computer" : "Opponent");
  game.Tags.Set(tag);
  static constexpr const char* ResultTexts[4] = {nullptr, "1-0", "0-1", "1/2-1/2"};
  if (result < 1 || result > 3) {
    Log("# No result given\n");
    return 1;
  }
  tag.Parse(TagResult, ResultTexts[result]);
  game.Tags.Set(tag);

  int played = 0;
  const std::string text = moves;
  const char* separators = " \t\r\n";
  for (std::size_t begin = text.find_first_not_of(separators); begin != std::string::npos;) {
    const std::size_t end = text.find_first_of(separators, begin);
    const std::string word = text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    if (game.AddMoveText(word.c_str())) {
      Log("# Error in moves sequence\n");
      return 1;
    }
    played++;
    begin = end == std::string::npos ? end : text.find_first_not_of(separators, end);
  }
  if (played == 0) {
    Log("# Empty game\n");
    return 1;
  }
  game.Rewind();
  int stored = 0;
  for (std::size_t i = 0; i < OpenBooks.size(); i++) {
    if (OpenBooks[i]->StoreGame(game)) {
      Log(Format("Could not add played game to book %d\n", static_cast<int>(i + 1)));
    } else {
      Log(Format("Added played game to book %d\n", static_cast<int>(i + 1)));
      stored++;
    }
  }
  return stored > 0 ? 0 : 1;
}

void OfferGameToBooks(ChessGame& game, int computerIsBlack) {
  const int result = game.Outcome.Result;
  if (result == ResultNone) return;
  // Six characters per move and the end, as the text's writer needs.
  std::string moves(6 * static_cast<std::size_t>(game.HighestPly + 1) + 1, '\0');
  game.GetMoveListText(moves.data());
  moves.resize(std::strlen(moves.c_str()));
  BookQuelm::Addgame(computerIsBlack, result >= ResultWhiteWins && result <= ResultDraw ? result : 0, game.StartFen,
                     moves.c_str());
}

void CloseBooks() {
  // Last book first, the reverse of their opening.
  while (!OpenBooks.empty()) {
    OpenBooks.back()->Close();
    OpenBooks.pop_back();
  }
}

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
