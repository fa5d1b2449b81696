// The program with its books, as a GUI meets them: books named in the
// configuration file, their messages in the greeting, book moves instead of
// searches, castling answered in the protocol's form, and a finished game
// offered to the books.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
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

// One process plays game after game under a GUI: after a game whose
// searches found nothing in the books, the next game asks them again.
TEST_F(BookSessionTest, UciNewGameAsksTheBooksAgain) {
  REQUIRE_DEBIAN_BOOK();
  std::ofstream(Scratch / "books.ini") << std::string("bookpoly ") + DebianBook + "\n";
  EngineProcess engine(AbsoluteProgram(), {"books"}, Scratch.Path.string(), Scratch / "stderr");
  ASSERT_TRUE(engine.Started());
  engine.Send("uci");
  ASSERT_TRUE(engine.ReadUntil("uciok"));
  // Eight searches in a row without a book move rest the books.
  for (int search = 0; search < 9; search++) {
    engine.Send("position fen 8/8/8/4k3/8/8/4K3/4R3 w - - 0 1");
    engine.Send("go depth 1");
    ASSERT_TRUE(engine.ReadUntil("bestmove")) << engine.TranscriptText();
  }
  engine.Send("ucinewgame");
  engine.Send("position startpos");
  engine.Send("go movetime 100");
  std::vector<std::string> lines;
  for (auto line = engine.ReadLine(); line; line = engine.ReadLine()) {
    lines.push_back(*line);
    if (line->rfind("bestmove", 0) == 0) break;
  }
  EXPECT_TRUE(Has(lines, "info string Quelm book move")) << engine.TranscriptText();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "bestmove e2e4");
  engine.Send("quit");
  EXPECT_EQ(engine.Finish(), 0);
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

// An own book that another program keeps open is used read-only, and the
// games this one finishes are not stored: the dialogue says so beside the
// book's name, under UCI as under the console's "book", and says nothing
// when the book is free.
TEST_F(BookSessionTest, AnOwnBookInUseElsewhereIsReportedReadOnly) {
  const std::string name = Scratch / "own";
  {
    BookQuelm book;
    ASSERT_FALSE(book.Create(name.c_str())) << book.Header.ErrorText;
  }
  const std::string notice = "Book '" + name + "' is in use by another program: opened read-only";
  const auto free = UciSession("bookfile " + name + "\n", {"position startpos"});
  EXPECT_TRUE(Has(free, "info string Using opening book '" + name + "'"));
  EXPECT_FALSE(Has(free, "info string " + notice));

  BookQuelm other;  // the other program, holding the book writable
  ASSERT_FALSE(other.Open(name.c_str(), true)) << other.Header.ErrorText;
  ASSERT_FALSE(other.Header.LockedOut);
  const auto held = UciSession("bookfile " + name + "\n", {"position startpos"});
  EXPECT_TRUE(Has(held, "info string Using opening book '" + name + "'"));
  EXPECT_TRUE(Has(held, "info string " + notice)) << held.front();

  std::ofstream(Scratch / "books.ini") << "";
  EngineProcess engine(AbsoluteProgram(), {"books"}, Scratch.Path.string(), Scratch / "stderr");
  ASSERT_TRUE(engine.Started());
  engine.Send("console");
  engine.Send("book " + name);
  engine.Send("quit");
  bool said = false;
  for (auto line = engine.ReadLine(30000); line && !said; line = engine.ReadLine(30000))
    said = line->size() >= notice.size() && line->compare(line->size() - notice.size(), notice.size(), notice) == 0;
  EXPECT_TRUE(said) << engine.TranscriptText();
  EXPECT_EQ(engine.Finish(), 0);
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

// A file of a book's set that is not a regular file: a FIFO that no one
// writes, or a link to /dev/zero, which never ends. Either must leave the book
// refused (or the part of it that needs the file), the engine answering, and
// no byte of the other files changed.
enum class Hostile { Fifo, ZeroDevice };

struct HostileFileCase {
  const char* Name;
  const char* Keyword;   // the configuration line that names the book
  const char* Book;      // the name on that line, in the scratch directory
  const char* Replaced;  // the file of the set that is not a regular file
  Hostile Kind;
  bool BookFails;  // else the book opens without the file and answers b2b3
};

const HostileFileCase HostileFileCases[] = {
    {"OwnSettingsFifo", "bookfile", "own", "own.bdf", Hostile::Fifo, true},
    {"OwnSettingsZeroDevice", "bookfile", "own", "own.bdf", Hostile::ZeroDevice, true},
    {"OwnPositionsFifo", "bookfile", "own", "own.bpf", Hostile::Fifo, true},
    {"OwnPositionsZeroDevice", "bookfile", "own", "own.bpf", Hostile::ZeroDevice, true},
    {"OwnPositionIndexFifo", "bookfile", "own", "own.bpi", Hostile::Fifo, true},
    {"OwnProcessedSetFifo", "bookfile", "own", "own.bdd", Hostile::Fifo, true},
    {"OwnGamesHeaderFifo", "bookfile", "own", "owngames.fdb", Hostile::Fifo, true},
    {"OwnGamesRecordsFifo", "bookfile", "own", "owngames.fgf", Hostile::Fifo, true},
    {"OwnGamesOffsetsFifo", "bookfile", "own", "owngames.fgr", Hostile::Fifo, true},
    // A games database goes on without a position index it cannot open.
    {"OwnGamesPositionIndexFifo", "bookfile", "own", "owngames.fpi", Hostile::Fifo, false},
    {"BigDatabaseRecordsFifo", "bookfile", "own", "big.fgf", Hostile::Fifo, true},
    {"BigDatabasePositionIndexFifo", "bookfile", "own", "big.fpi", Hostile::Fifo, false},
    {"CtgPagesFifo", "bookctg", "fixture.ctg", "fixture.ctg", Hostile::Fifo, true},
    {"CtgPagesZeroDevice", "bookctg", "fixture.ctg", "fixture.ctg", Hostile::ZeroDevice, true},
    {"CtgIndexFifo", "bookctg", "fixture.ctg", "fixture.cto", Hostile::Fifo, true},
    {"CtgBoundsFifo", "bookctg", "fixture.ctg", "fixture.ctb", Hostile::Fifo, true},
    // The search driver's CTG book is first read at the first search.
    {"CtgSettingPagesFifo", "ctgbook", "fixture.ctg", "fixture.ctg", Hostile::Fifo, true},
    {"CtgSettingBoundsFifo", "ctgbook", "fixture.ctg", "fixture.ctb", Hostile::Fifo, true},
    {"PolyglotFifo", "bookpoly", "book.bin", "book.bin", Hostile::Fifo, true},
    {"PolyglotZeroDevice", "bookpoly", "book.bin", "book.bin", Hostile::ZeroDevice, true},
};

void PrintTo(const HostileFileCase& row, std::ostream* out) { *out << row.Name; }

class HostileBookFileTest : public ::testing::TestWithParam<HostileFileCase> {
protected:
  void SetUp() override { ASSERT_TRUE(Scratch.Ready()); }

  // An own book whose one move is b2b3, with a big database and an
  // own-games database, both with a position index; and a CTG book of e2e4.
  void BuildBooks() {
    GamesDatabase big;
    ASSERT_FALSE(big.Create(Scratch / "big", true, false));
    ASSERT_FALSE(big.Close());
    const std::string name = Scratch / "own";
    {
      BookQuelm book;
      ASSERT_FALSE(book.Create(name.c_str())) << book.Header.ErrorText;
      GameBoard start;
      GameMove move;
      ASSERT_FALSE(book.UpdateMoveNag(start, move.FromText("b2b3"), 100));
      ASSERT_FALSE(book.SetDatabase("big"));
      ASSERT_FALSE(book.SetOwnDatabase("owngames"));
      ASSERT_FALSE(book.Close());
    }
    {
      BookQuelm book;  // a writable open makes the processed set
      ASSERT_FALSE(book.Open(name.c_str(), true)) << book.Header.ErrorText;
    }
    for (const char* file : {"own.bdf", "own.bpf", "own.bpi", "own.bdd", "big.fgf", "big.fpi", "owngames.fdb",
                             "owngames.fgf", "owngames.fgr", "owngames.fpi"})
      ASSERT_TRUE(std::filesystem::is_regular_file(Scratch / file)) << file;
    const std::string ctg = Scratch / "fixture.ctg";
    ASSERT_TRUE(WriteCtgBook(ctg, {{StartFen, {{0x5F, 0}}}}));
  }

  void Replace(const std::string& file, Hostile kind) {
    const std::string path = Scratch / file;
    std::filesystem::remove(path);
    if (kind == Hostile::Fifo)
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    else
      std::filesystem::create_symlink("/dev/zero", path);
  }

  // The bytes of every regular file of the book sets.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(Scratch.Path))
      if (entry.is_regular_file()) files[entry.path().filename().string()] = ReadWholeFile(entry.path().string());
    return files;
  }

  // The files of the snapshot that are gone or changed since.
  std::vector<std::string> ChangedSince(const std::map<std::string, std::string>& before) const {
    const auto now = Snapshot();
    std::vector<std::string> changed;
    for (const auto& [name, bytes] : before) {
      const auto found = now.find(name);
      if (found == now.end() || found->second != bytes) changed.push_back(name);
    }
    return changed;
  }

  TemporaryDirectory Scratch;
};

TEST_P(HostileBookFileTest, IsRefusedWithoutHoldingTheEngineOrChangingTheBook) {
  const HostileFileCase& row = GetParam();
  BuildBooks();
  Replace(row.Replaced, row.Kind);
  const auto before = Snapshot();
  const std::string book = Scratch / row.Book;
  std::ofstream(Scratch / "books.ini") << row.Keyword << " " << book << "\n";
  // A program that reads /dev/zero into memory must meet a limit long
  // before the machine does. The 32-bit program has its own; the sanitizers
  // need their address space.
  std::string program = AbsoluteProgram();
  std::vector<std::string> arguments = {"books"};
#ifndef __SANITIZE_ADDRESS__
  if (sizeof(void*) == 8) {
    arguments = {"-c", "ulimit -v 4000000 && exec \"$0\" \"$@\"", program, "books"};
    program = "/bin/sh";
  }
#endif
  EngineProcess engine(program, arguments, Scratch.Path.string(), Scratch / "stderr");
  ASSERT_TRUE(engine.Started());
  engine.Send("uci");
  ASSERT_TRUE(engine.ReadUntil("uciok", 20000)) << "start-up holds; transcript:\n" << engine.TranscriptText();
  engine.Send("position startpos");
  engine.Send("go depth 1");
  const auto best = engine.ReadUntil("bestmove", 20000);
  ASSERT_TRUE(best) << "the search holds; transcript:\n" << engine.TranscriptText();
  engine.Send("quit");
  EXPECT_EQ(engine.Finish(20000), 0);

  const std::string transcript = engine.TranscriptText();
  const bool listed = std::string(row.Keyword) != "ctgbook";
  const std::string failed = "info string Opening book '" + book + "' failed\n";
  EXPECT_EQ(transcript.find(failed) != std::string::npos, listed && row.BookFails) << transcript;
  if (row.BookFails) {
    EXPECT_EQ(transcript.find("book move"), std::string::npos) << transcript;
  } else {
    EXPECT_NE(transcript.find("info string Using opening book '" + book + "'\n"), std::string::npos) << transcript;
    EXPECT_EQ(best->substr(0, 13), "bestmove b2b3") << transcript;
  }
  EXPECT_EQ(ChangedSince(before), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(EveryFileOfTheSets, HostileBookFileTest, ::testing::ValuesIn(HostileFileCases),
                         [](const ::testing::TestParamInfo<HostileFileCase>& info) { return info.param.Name; });

}  // namespace
