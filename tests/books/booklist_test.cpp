// The book list: configured rows made and opened (each failure reported and
// the next row tried), the one conversion between the book side's moves and
// the engine's, the book move for the engine's game with castling and
// repetitions, the CTG book of "ctgbook", and finished games offered to the
// books whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "books/book.h"
#include "books/booklist.h"
#include "books/ctg_fixture.h"
#include "books/own/bookquelm.h"
#include "books/polyglot_fixture.h"
#include "books/remote_server.h"
#include "engine/board_helpers.h"
#include "engine/game.h"
#include "engine/movetext.h"
#include "engine/settings.h"
#include "engine/stub_front_end.h"
#include "games/gamerecord.h"
#include "support/logger.h"
#include "support/output.h"
#include "support/scratch_directory.h"

namespace {

constexpr const char* StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
constexpr const char* CastlingFen = "r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w KQkq - 0 1";

GameMove MoveOf(const char* text) {
  GameMove move;
  move.FromText(text);
  return move;
}

GameMove Text(const char* text) {
  GameMove move;
  move.FromText(text);
  return move;
}

TEST(BookMoveConversion, TurnsBookMovesIntoTheEnginesListMoves) {
  const struct {
    const char* Fen;
    const char* Book;
    const char* Engine;  // coordinate text of the engine's move, "" for NoMove
    Move Flags;          // flags the engine's move must carry
  } cases[] = {
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "h1h1", "e1g1", MoveCastle},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "a1a1", "e1c1", MoveCastle},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "h8h8", "e8g8", MoveCastle},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "a8a8", "e8c8", MoveCastle},
      // Castling for the side not to move, or a right that is gone.
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "h8h8", "", 0},
      {"r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1", "h1h1", "", 0},
      {"4k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "b7b8n", "b7b8n", MovePawn | MovePromotion},
      {"4k3/8/8/8/8/8/1p6/4K3 b - - 0 1", "b2b1q", "b2b1q", MovePawn | MovePromotion},
      {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "e5d6", "e5d6", MovePawn | MoveEnPassant | MoveCapture},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e2e4", "e2e4", MovePawn | MoveDoublePush},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e2e5", "", 0},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e1g1", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Fen) + " " + c.Book);
    Position pos = FromFen(c.Fen);
    const Move move = EngineMoveOf(pos, Text(c.Book));
    if (!c.Engine[0]) {
      EXPECT_EQ(move, NoMove);
      continue;
    }
    ASSERT_NE(move, NoMove);
    EXPECT_EQ(SquareName(MoveFrom(move)) + SquareName(MoveTo(move)) +
                  (MovePromotionCode(move) ? std::string(1, PieceChars[MovePromotionCode(move) | 8]) : ""),
              c.Engine);
    EXPECT_EQ(move & c.Flags, c.Flags);
    // And back.
    EXPECT_TRUE(GameMoveOf(move).SameMove(Text(c.Book)));
    EXPECT_EQ(GameMoveOf(move).Valid, 1);
  }
  Position pos = FromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  EXPECT_EQ(EngineMoveOf(pos, GameMove()), NoMove);
  EXPECT_EQ(GameMoveOf(NoMove).Valid, 0);
  EXPECT_EQ(GameMoveOf(MoveNull).Valid, 0);
}

// Chess960: the corner names the side even where the king stands on its
// target square or beside its rook, and the engine's king move comes back
// as that corner.
TEST(BookMoveConversion, Chess960CastlingKeepsItsCorner) {
  const struct {
    const char* Fen;
    const char* Book;
    int KingFrom, KingTo;
  } cases[] = {
      {"1rk2r2/8/8/8/8/8/8/1RK2R2 w FBfb - 0 1", "a1a1", 58, 58},
      {"rk5r/8/8/8/8/8/8/RK5R w HAha - 0 1", "a1a1", 57, 58},
      {"rk5r/8/8/8/8/8/8/RK5R w HAha - 0 1", "h1h1", 57, 62},
      {"2r1kr2/8/8/8/8/8/8/4K3 b fc - 0 1", "h8h8", 4, 6},
      {"6kr/8/8/8/8/8/8/6KR b h - 0 1", "h8h8", 6, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Fen) + " " + c.Book);
    Position pos = FromFen(c.Fen);
    const Move move = EngineMoveOf(pos, Text(c.Book));
    ASSERT_NE(move, NoMove);
    EXPECT_TRUE(move & MoveCastle);
    EXPECT_EQ(MoveFrom(move), c.KingFrom);
    EXPECT_EQ(MoveTo(move), c.KingTo);
    EXPECT_TRUE(GameMoveOf(move).SameMove(Text(c.Book)));
  }
}

// A book that answers what it is told and keeps what it is given.
class ScriptedBook : public Book {
public:
  explicit ScriptedBook(GameMove answer, int kind = BookKindPolyglot, bool storeFails = false)
      : Answer(answer), Kind(kind), StoreFails(storeFails) {
    open = 1;
  }
  int GetKind() const override { return Kind; }
  bool Create(const char*) override { return true; }
  bool Open(const char*, bool) override { return false; }
  bool Close() override { return false; }
  bool Flush() override { return false; }
  GameMove SelectMove(const GameBoard&) override {
    Asked++;
    return Answer;
  }
  BookPosition* GetBookPosition(const GameBoard&) override { return nullptr; }
  // Walks the game to its end: its length and last position tell whether
  // it came whole.
  bool StoreGame(Game& game) override {
    game.Rewind();
    StoredPlies = 0;
    while (!game.Forward()) StoredPlies++;
    StoredFen = game.Board.GetFen();
    return StoreFails;
  }

  GameMove Answer;
  int Kind;
  bool StoreFails;
  int Asked = 0;
  int StoredPlies = -1;
  std::string StoredFen;
};

class BookListTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Scratch.Ready());
    ResetSettings();
    CloseBooks();
  }
  void TearDown() override {
    CloseBooks();
    ResetSettings();
  }

  ScriptedBook* List(GameMove answer, int kind = BookKindPolyglot, bool storeFails = false) {
    auto book = std::make_unique<ScriptedBook>(answer, kind, storeFails);
    ScriptedBook* raw = book.get();
    EXPECT_FALSE(ListOpenBook(std::move(book)));
    return raw;
  }

  static ChessGame GameAt(const char* fen, std::vector<const char*> moves = {}) {
    ChessGame game;
    EXPECT_FALSE(game.SetFEN(fen));
    for (const char* text : moves) {
      const int index = FindCoordinateMove(game.Moves, game, text);
      EXPECT_GE(index, 0) << text;
      if (index >= 0) {
        EXPECT_TRUE(game.PlayMove(game.Moves.Moves[index]));
      }
    }
    return game;
  }

  static std::string Text(const ChessGame& game, Move move) { return move == NoMove ? "none" : MoveToText(game, move); }

  ScratchDirectory Scratch;
};

TEST_F(BookListTest, ConfiguredRowsEachReportedAndTheNextTried) {
  const std::uint64_t start = PolyglotKeyOf(StartFen);
  WritePolyglotBook(Scratch.Path("good.bin"), {{start, PolyglotMove("e2e4"), 1}});
  WriteCtgBook(Scratch.Path("good.ctg"), {{StartFen, {{0x5F, 0}}}});
  Scratch.WriteBytes("empty.bin", {});
  const std::string longPath = Scratch.Path(std::string(300, 'x') + ".bin");
  const std::string noServer = "127.0.0.1:" + std::to_string(remotetest::ClosedPort());
  struct Row {
    std::string Name;
    int Kind;
    std::string Said;
  };
  const std::vector<Row> rows = {
      {Scratch.Path("own"), 1, "Opening book '" + Scratch.Path("own") + "' failed\n"},
      {noServer, 7, "Opening client book on '" + noServer + "' failed\n"},
      {Scratch.Path("missing.bin"), 5, "Opening book '" + Scratch.Path("missing.bin") + "' failed\n"},
      {"x", 3, "Could not create book object, playing without a book\n"},
      {Scratch.Path(""), 5, "Opening book '" + Scratch.Path("") + "' failed\n"},
      {Scratch.Path("empty.bin"), 5, "Opening book '" + Scratch.Path("empty.bin") + "' failed\n"},
      {longPath, 5, "Opening book '" + longPath + "' failed\n"},
      {Scratch.Path("missing.ctg"), 4, "Opening book '" + Scratch.Path("missing.ctg") + "' failed\n"},
      {Scratch.Path("good.ctg"), 4, "Using opening book '" + Scratch.Path("good.ctg") + "'\n"},
      {Scratch.Path("good.bin"), 5, "Using opening book '" + Scratch.Path("good.bin") + "'\n"},
  };
  std::vector<std::string> expected;
  for (const Row& row : rows) {
    AddBook(row.Name.c_str(), row.Kind);
    expected.push_back(row.Said);
  }
  ConfiguredBooks.Dropped.push_back("seventeenth.bin");
  expected.push_back("Book 'seventeenth.bin' not opened: at most 16 books are used\n");

  StubFrontEnd frontEnd(ProtocolUci);
  OpenConfiguredBooks();
  EXPECT_EQ(frontEnd.Infos, expected);
  ASSERT_EQ(OpenBooks.size(), 2u);
  EXPECT_EQ(OpenBooks[0]->GetKind(), BookKindCtg);
  EXPECT_EQ(OpenBooks[1]->GetKind(), BookKindPolyglot);
  EXPECT_TRUE(OpenBooks[0]->open && OpenBooks[1]->open);
}

// A remote book is connected, listed and handed the configured randomness,
// which it keeps without asking its server.
TEST_F(BookListTest, ARemoteBookIsConnectedAndGivenTheRandomness) {
  remotetest::Server server([](const remotetest::Request&) { return remotetest::Script(); }, 1);
  ASSERT_TRUE(server.Ready());
  const int savedRandom = Settings::BookRandom;
  Settings::BookRandom = 5;
  AddBook((" " + server.Address() + " ").c_str(), BookKindRemote);
  StubFrontEnd frontEnd(ProtocolUci);
  OpenConfiguredBooks();
  Settings::BookRandom = savedRandom;
  EXPECT_EQ(frontEnd.Infos, (std::vector<std::string>{"Opened client book\n", "Setting Book randomness to 5\n"}));
  ASSERT_EQ(OpenBooks.size(), 1u);
  EXPECT_EQ(OpenBooks[0]->GetKind(), BookKindRemote);
  EXPECT_TRUE(OpenBooks[0]->open);
  EXPECT_EQ(OpenBooks[0]->GetRandomness(), 5);
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(BookListTest, AFullListDropsTheBook) {
  for (int i = 0; i < MaxOpenBooks; i++) List(GameMove());
  EXPECT_TRUE(ListOpenBook(std::make_unique<ScriptedBook>(GameMove())));
  EXPECT_EQ(OpenBooks.size(), static_cast<std::size_t>(MaxOpenBooks));
  for (int i = 0; i < 20; i++) AddBook("more", 5);
  EXPECT_EQ(ConfiguredBooks.Count, ConfiguredBookList::MaxBooks);
}

TEST_F(BookListTest, TheFirstBookWithAnAnswerWins) {
  ChessGame game = GameAt(StartFen);
  ScriptedBook* first = List(MoveOf("e2e4"));
  ScriptedBook* second = List(MoveOf("d2d4"));
  EXPECT_EQ(Text(game, GetBookMove(game)), "e2e4");
  EXPECT_EQ(second->Asked, 0);
  first->Answer = GameMove();
  EXPECT_EQ(Text(game, GetBookMove(game)), "d2d4");
}

TEST_F(BookListTest, BookAnswersAsEngineMoves) {
  struct Case {
    const char* Name;
    const char* Fen;
    std::vector<const char*> Played;
    const char* Answer;
    const char* Expected;
  };
  const Case cases[] = {
      {"castling in the corner form", CastlingFen, {}, "h1h1", "e1g1"},
      {"queen-side castling", CastlingFen, {}, "a1a1", "e1c1"},
      {"black castles", CastlingFen, {"a2a3"}, "a8a8", "e8c8"},
      // The king's plain two-square step is not the castling form.
      {"a king step is not castling", CastlingFen, {}, "e1g1", "none"},
      {"castling of the other side", CastlingFen, {}, "h8h8", "none"},
      // Only the four corners name castling.
      {"a move to its own square", StartFen, {}, "e2e2", "none"},
      {"the white king's square", CastlingFen, {}, "e1e1", "none"},
      {"a promotion", "8/P6k/8/8/8/8/8/K7 w - - 0 1", {}, "a7a8n", "a7a8n"},
      {"an illegal move", StartFen, {}, "e2e5", "none"},
      // Back at the start, the knight's move would repeat a position.
      {"a repetition is refused", StartFen, {"g1f3", "g8f6", "f3g1", "f6g8"}, "g1f3", "none"},
      {"a new move after the repetition", StartFen, {"g1f3", "g8f6", "f3g1", "f6g8"}, "e2e4", "e2e4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    CloseBooks();
    List(MoveOf(c.Answer));
    ChessGame game = GameAt(c.Fen, c.Played);
    const Move move = GetBookMove(game);
    EXPECT_EQ(Text(game, move), c.Expected);
    if (std::string(c.Answer).substr(0, 2) == std::string(c.Answer).substr(2, 2) && move != NoMove) {
      EXPECT_TRUE(move & MoveCastle);
    }
  }
}

TEST_F(BookListTest, CtgBooksSitOutChess960) {
  ChessGame game = GameAt(StartFen);
  game.ChessVariant = VariantChess960;
  ScriptedBook* ctg = List(MoveOf("e2e4"), BookKindCtg);
  List(MoveOf("d2d4"));
  EXPECT_EQ(Text(game, GetBookMove(game)), "d2d4");
  EXPECT_EQ(ctg->Asked, 0);
}

TEST_F(BookListTest, TheCtgBookOfTheSettingCastlesAsTheEngine) {
  const std::string path = Scratch.Path("castles.ctg");
  ASSERT_TRUE(WriteCtgBook(path, {{CastlingFen, {{0x6B, 0}}}}));
  Settings::CtgBook = path;
  Settings::CtgBookSet = true;
  StubFrontEnd frontEnd(ProtocolUci);
  ChessGame game = GameAt(CastlingFen);
  const Move move = FindBookMove(game);
  EXPECT_EQ(Text(game, move), "e1g1");
  EXPECT_TRUE(move & MoveCastle);
  EXPECT_EQ(frontEnd.Infos, std::vector<std::string>{"CTG book move"});

  // Not in Chess960: the format knows only the standard castling.
  frontEnd.Infos.clear();
  game.ChessVariant = VariantChess960;
  EXPECT_EQ(FindBookMove(game), NoMove);
  EXPECT_TRUE(frontEnd.Infos.empty());
}

TEST_F(BookListTest, BookCtgInTheListAnswersWithCastling) {
  const std::string path = Scratch.Path("castles.ctg");
  ASSERT_TRUE(WriteCtgBook(path, {{StartFen, {{0x5F, 0}}}, {CastlingFen, {{0x6B, 0}}}}));
  AddBook(path.c_str(), BookKindCtg);
  StubFrontEnd frontEnd(ProtocolUci);
  OpenConfiguredBooks();
  ASSERT_EQ(OpenBooks.size(), 1u);
  ChessGame game = GameAt(CastlingFen);
  frontEnd.Infos.clear();
  const Move move = FindBookMove(game);
  EXPECT_EQ(Text(game, move), "e1g1");
  EXPECT_EQ(frontEnd.Infos, std::vector<std::string>{"Quelm book move"});
}

// The log of a test: opened on the printer for the length of a scope.
class ScopedLog {
public:
  explicit ScopedLog(const std::string& base) : Base(base) {
    EXPECT_FALSE(Log.Open(base.c_str()));
    Printer.SetLogger(&Log);
  }
  ~ScopedLog() { Close(); }
  std::string Close() {
    Printer.SetLogger(nullptr);
    if (Log.IsOpen()) Log.Close();
    return ReadWholeFile(Base + ".log");
  }

private:
  std::string Base;
  Logger Log;
};

TEST_F(BookListTest, AddgameRefusesWhatIsNoGame) {
  struct Case {
    const char* Name;
    int Result;
    const char* Fen;
    const char* Moves;
    const char* Logged;  // null: no log line at all
  };
  const Case cases[] = {
      {"no move text", 1, nullptr, nullptr, nullptr},
      {"result 0", 0, nullptr, "e2e4", "# No result given\n"},
      {"result 4", 4, nullptr, "e2e4", "# No result given\n"},
      {"no moves", 1, nullptr, " \t\r\n ", "# Empty game\n"},
      {"a move that cannot be played", 3, nullptr, "e2e4 e7e5 e1e3", "# Error in moves sequence\n"},
      {"a start position that is none", 1, "8/8/8/8 w - -", "e2e4", "# Error in start position\n"},
  };
  ScriptedBook* book = List(GameMove());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ScopedLog log(Scratch.Path("refused"));
    EXPECT_EQ(BookQuelm::Addgame(0, c.Result, c.Fen, c.Moves), 1);
    const std::string text = log.Close();
    if (c.Logged)
      EXPECT_NE(text.find(c.Logged), std::string::npos) << text;
    else
      EXPECT_EQ(text.find("Addgame"), std::string::npos) << text;
    EXPECT_EQ(text.find("Added played game"), std::string::npos);
    EXPECT_EQ(book->StoredPlies, -1);
  }
}

TEST_F(BookListTest, AddgameTellsWhichBooksStoredTheGame) {
  ScopedLog log(Scratch.Path("stored"));
  // No open book: nobody stored it.
  EXPECT_EQ(BookQuelm::Addgame(1, 1, nullptr, "e2e4 e7e5"), 1);
  List(GameMove(), BookKindPolyglot, true);
  EXPECT_EQ(BookQuelm::Addgame(1, 2, nullptr, "e2e4 e7e5"), 1);
  ScriptedBook* taker = List(GameMove());
  EXPECT_EQ(BookQuelm::Addgame(1, 3, nullptr, "e2e4 e7e5"), 0);
  EXPECT_EQ(taker->StoredPlies, 2);
  const std::string text = log.Close();
  EXPECT_NE(text.find("Called BookQuelm::Addgame: 1 3 fen=(none) moves=e2e4 e7e5\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Could not add played game to book 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Added played game to book 2\n"), std::string::npos) << text;
}

// A game far longer than any fixed buffer reaches the books whole, from the
// front end's game to the book's stored record.
TEST_F(BookListTest, AFinishedGameReachesTheBooksWhole) {
  ScriptedBook* book = List(GameMove());
  ChessGame game = GameAt(StartFen, {"e2e4", "e7e5"});
  const char* shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
  // The game object keeps up to 800 plies.
  for (int i = 0; i < 4 * 190; i++) {
    const int index = FindCoordinateMove(game.Moves, game, shuffle[i % 4]);
    ASSERT_GE(index, 0);
    ASSERT_TRUE(game.PlayMove(game.Moves.Moves[index]));
  }
  ASSERT_TRUE(game.PlayMove(game.Moves.Moves[FindCoordinateMove(game.Moves, game, "d2d4")]));
  const int plies = game.GamePly;
  GameBoard last;
  ASSERT_FALSE(last.SetFen(game.GetFEN()));
  const std::string lastFen = last.GetFen();

  OfferGameToBooks(game, 0);
  EXPECT_EQ(book->StoredPlies, -1) << "a game without a result is not offered";
  game.Outcome.Result = ResultDraw;
  OfferGameToBooks(game, 0);
  EXPECT_EQ(book->StoredPlies, plies);
  EXPECT_EQ(book->StoredFen, lastFen);

  // Past 4096 characters of move text.
  std::string moves = "e2e4 e7e5";
  for (int i = 0; i < 4 * 225; i++) moves += std::string(" ") + shuffle[i % 4];
  moves += " d2d4";
  ASSERT_GT(moves.size(), 4500u);
  EXPECT_EQ(BookQuelm::Addgame(0, 1, StartFen, moves.c_str()), 0);
  EXPECT_EQ(book->StoredPlies, 2 + 900 + 1);
  EXPECT_EQ(book->StoredFen, lastFen);
}

}  // namespace
