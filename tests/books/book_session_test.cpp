// The program with its books, as a GUI meets them: books named in the
// configuration file, their messages in the greeting, book moves instead of
// searches, castling answered in the protocol's form, and a finished game
// offered to the books.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "books/ctg_fixture.h"
#include "books/own/bookquelm.h"
#include "books/remote_server.h"
#include "games/gamesdb.h"
#include "games/tags.h"
#include "frontend/engine_process.h"
#include "shared_data.h"
#include "support/capture.h"

namespace {

constexpr const char* DebianBook = "/usr/share/games/gnuchess/book.bin";
constexpr const char* CastlingFen = "r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w KQkq - 0 1";
constexpr const char* StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

std::string AbsoluteProgram() { return std::filesystem::absolute(EngineProgramPath()).string(); }

class BookSessionTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Scratch.Ready()); }

  // Starts the program under the configuration text, asks one UCI search
  // per position and answers every line up to each "bestmove".
  std::vector<std::string> UciSession(const std::string& ini, const std::vector<std::string>& positions,
                                      const std::vector<std::string>& prefix = {}) {
    std::ofstream(Scratch / "books.ini") << ini;
    std::vector<std::string> command = prefix;
    command.push_back(AbsoluteProgram());
    const std::string program = command.front();
    command.erase(command.begin());
    command.push_back("books");
    EngineProcess engine(program, command, Scratch.Path.string(), Scratch / "stderr");
    return UciSessionToBestMoves(engine, positions);
  }

  static bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  static std::vector<std::string> BestMoves(const std::vector<std::string>& lines) {
    std::vector<std::string> moves;
    for (const std::string& line : lines)
      if (line.rfind("bestmove ", 0) == 0) moves.push_back(line.substr(9, line.find(' ', 9) - 9));
    return moves;
  }

  TemporaryDirectory Scratch;
};

#define REQUIRE_DEBIAN_BOOK()                                                    \
  if (!std::filesystem::exists(DebianBook)) {                                    \
    if (RunningUnderCi()) FAIL() << "missing: " << DebianBook;                   \
    GTEST_SKIP() << "not installed: " << DebianBook;                             \
  }

TEST_F(BookSessionTest, PolyglotBookMovesUnderUci) {
  REQUIRE_DEBIAN_BOOK();
  const auto lines = UciSession(std::string("bookpoly ") + DebianBook + "\n",
                                {"position startpos",
                                 "position startpos moves e2e4 e7e5 g1f3 b8c6 f1b5 a7a6 b5a4 g8f6",
                                 "position fen r1bqk2r/pp2bppp/2nppn2/6B1/3NP3/2N5/PPPQ1PPP/R3KB1R w KQkq - 2 8"});
  EXPECT_TRUE(Has(lines, std::string("info string Using opening book '") + DebianBook + "'")) << lines.front();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "info string Quelm book move"), 3);
  // The book's heaviest moves: e4 at the start, castling in the Ruy Lopez
  // and in the Richter-Rauzer, each in UCI's king-move form.
  EXPECT_EQ(BestMoves(lines), (std::vector<std::string>{"e2e4", "e1g1", "e1c1"}));
}

// Debian's book belongs to root and may be read by anyone: the program run
// as another user must still open it.
TEST_F(BookSessionTest, ARootOwnedBookOpensForAnotherUser) {
  REQUIRE_DEBIAN_BOOK();
  if (geteuid() != 0 || !std::filesystem::exists("/usr/sbin/runuser"))
    GTEST_SKIP() << "needs root and runuser to run the program as nobody";
  std::filesystem::permissions(Scratch.Path, std::filesystem::perms::all);
  if (std::system(("/usr/sbin/runuser -u nobody -- test -x " + AbsoluteProgram()).c_str()) != 0)
    GTEST_SKIP() << "the user nobody cannot reach the program in this build directory";
  const auto lines = UciSession(std::string("bookpoly ") + DebianBook + "\n", {"position startpos"},
                                {"/usr/sbin/runuser", "-u", "nobody", "--"});
  EXPECT_TRUE(Has(lines, std::string("info string Using opening book '") + DebianBook + "'"));
  EXPECT_EQ(BestMoves(lines), std::vector<std::string>{"e2e4"});
}

TEST_F(BookSessionTest, CtgBookThroughBothKeywords) {
  const std::string path = Scratch / "fixture.ctg";
  ASSERT_TRUE(WriteCtgBook(path, {{StartFen, {{0x5F, 0}}}, {CastlingFen, {{0x6B, 0}}}}));
  const std::vector<std::string> positions = {"position startpos", std::string("position fen ") + CastlingFen};

  const auto listed = UciSession("bookctg " + path + "\n", positions);
  EXPECT_TRUE(Has(listed, "info string Using opening book '" + path + "'"));
  EXPECT_EQ(std::count(listed.begin(), listed.end(), "info string Quelm book move"), 2);
  EXPECT_EQ(BestMoves(listed), (std::vector<std::string>{"e2e4", "e1g1"}));

  const auto global = UciSession("ctgbook " + path + "\n", positions);
  EXPECT_EQ(std::count(global.begin(), global.end(), "info string CTG book move"), 2);
  EXPECT_EQ(BestMoves(global), (std::vector<std::string>{"e2e4", "e1g1"}));
}

// Rows that cannot be used are reported one by one, and the Polyglot book
// after them still opens.
TEST_F(BookSessionTest, BadRowsBeforeAGoodBook) {
  REQUIRE_DEBIAN_BOOK();
  const std::string missing = Scratch / "missing.bin";
  const std::string server = "127.0.0.1:" + std::to_string(remotetest::ClosedPort());
  const auto lines = UciSession(
      "bookclient " + server + "\nbookfile own\nbookpoly " + missing + "\nbookpoly " + DebianBook + "\n",
      {"position startpos"});
  const std::vector<std::string> expected = {
      "info string Opening client book on '" + server + "' failed",
      "info string Opening book 'own' failed",
      "info string Opening book '" + missing + "' failed",
      std::string("info string Using opening book '") + DebianBook + "'",
  };
  std::vector<std::string> books;
  for (const std::string& line : lines)
    if (line.find("book") != std::string::npos && line.find("Quelm book move") == std::string::npos) books.push_back(line);
  EXPECT_EQ(books, expected);
  EXPECT_EQ(BestMoves(lines), std::vector<std::string>{"e2e4"});
}

// The end of an xboard game hands the game, every move of it, to the books.
TEST_F(BookSessionTest, AFinishedGameIsOfferedToTheBooks) {
  REQUIRE_DEBIAN_BOOK();
  std::ofstream(Scratch / "books.ini") << "logging on\nbookpoly " << DebianBook << "\n";
  EngineProcess engine(AbsoluteProgram(), {"books"}, Scratch.Path.string(), Scratch / "stderr");
  ASSERT_TRUE(engine.Started());
  for (const char* line : {"xboard", "protover 2", "new", "force", "e2e4", "e7e5", "g1f3", "b8c6", "f1c4", "g8f6",
                           "e1g1", "result 1-0 {White wins}", "quit"})
    engine.Send(line);
  EXPECT_EQ(engine.Finish(), 0);
  const std::string log = ReadWholeFile(Scratch / "books.log");
  // "force" left the engine on neither side (-1); result 1 is White's win.
  EXPECT_NE(log.find("Called BookQuelm::Addgame: -1 1 fen=rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - "
                     "moves=e2e4 e7e5 g1f3 b8c6 f1c4 g8f6 e1g1 \n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Added played game to book 1"), std::string::npos) << log;
}

// A book built here, named in "bookfile": its move is played, and a finished
// game lands in its own-games database with the engine's side named.
TEST_F(BookSessionTest, OwnBookMovesAndStoredGames) {
  const std::string name = Scratch / "own";
  {
    BookQuelm book;
    ASSERT_FALSE(book.Create(name.c_str())) << book.Header.ErrorText;
    GameBoard start;
    GameMove move;
    ASSERT_FALSE(book.UpdateStats(start, 0));
    ASSERT_FALSE(book.UpdateMoveNag(start, move.FromText("b2b3"), 100));
    ASSERT_FALSE(book.SetOwnDatabase("owngames"));
    ASSERT_FALSE(book.Close());
  }
  const auto lines = UciSession("bookfile " + name + "\n", {"position startpos"});
  EXPECT_TRUE(Has(lines, "info string Using opening book '" + name + "'"));
  EXPECT_TRUE(Has(lines, "info string Quelm book move"));
  EXPECT_EQ(BestMoves(lines), std::vector<std::string>{"b2b3"});

  std::ofstream(Scratch / "books.ini") << "bookfile " << name << "\n";
  EngineProcess engine(AbsoluteProgram(), {"books"}, Scratch.Path.string(), Scratch / "stderr");
  ASSERT_TRUE(engine.Started());
  for (const char* line : {"xboard", "protover 2", "new", "force", "e2e4", "e7e5", "result 0-1 {Black wins}", "quit"})
    engine.Send(line);
  EXPECT_EQ(engine.Finish(), 0);
  GamesDatabase games;
  ASSERT_FALSE(games.Open(Scratch / "owngames", false));
  ASSERT_EQ(games.GameCount, 1u);
  std::uint8_t flags = 0;
  auto game = games.LoadGame(1, flags);
  ASSERT_TRUE(game);
  // "force" left the engine on neither side, which counts as Black.
  EXPECT_STREQ(game->Tags.Find(TagWhite)->Text, "Opponent");
  EXPECT_STREQ(game->Tags.Find(TagBlack)->Text, "Computer");
  EXPECT_EQ(game->Tags.Find(TagResult)->Value, 2);
}

// The console's "book": the book opened writable, the texts on standard
// output, and a refusal for a missing book, a directory and no name.
TEST_F(BookSessionTest, ConsoleBookCommand) {
  const std::string name = Scratch / "own";
  {
    BookQuelm book;
    ASSERT_FALSE(book.Create(name.c_str()));
  }
  std::filesystem::create_directory(Scratch / "folder");
  std::ofstream(Scratch / "books.ini") << "";
  EngineProcess engine(AbsoluteProgram(), {"books"}, Scratch.Path.string(), Scratch / "stderr");
  ASSERT_TRUE(engine.Started());
  // The console's prompt may stand before a text on its line.
  auto answered = [&engine](const std::string& text) {
    for (auto line = engine.ReadLine(30000); line; line = engine.ReadLine(30000))
      if (line->size() >= text.size() && line->compare(line->size() - text.size(), text.size(), text) == 0) return true;
    return false;
  };
  engine.Send("console");
  engine.Send("book " + name);
  EXPECT_TRUE(answered("Using opening book '" + name + "'")) << engine.TranscriptText();
  engine.Send("book " + Scratch / "missing");
  EXPECT_TRUE(answered("Opening book '" + Scratch / "missing" + "' failed")) << engine.TranscriptText();
  engine.Send("book " + Scratch / "folder");
  EXPECT_TRUE(answered("Opening book '" + Scratch / "folder" + "' failed")) << engine.TranscriptText();
  engine.Send("book");
  EXPECT_TRUE(answered("ERROR - book: Missing Parameter")) << engine.TranscriptText();
  engine.Send("quit");
  EXPECT_EQ(engine.Finish(), 0);
  EXPECT_FALSE(std::filesystem::exists(Scratch / "missing.bdf"));
}

}  // namespace
