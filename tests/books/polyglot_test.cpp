// The Polyglot book: keys against the published vectors and pgn-extract,
// the reader against a plain scan of Debian's book.bin and against books
// that the polyglot tool builds, and the move choice on written books.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "books/polyglot.h"
#include "books/polyglot_fixture.h"
#include "games/gameboard.h"
#include "other_program.h"
#include "shared_data.h"
#include "support/scratch_directory.h"

namespace {

constexpr const char* StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
constexpr const char* DebianBook = "/usr/share/games/gnuchess/book.bin";
constexpr const char* PgnExtract = "/usr/games/pgn-extract";
constexpr const char* PolyglotTool = "/usr/games/polyglot";
constexpr const char* EcoPgn = "/usr/share/pgn-extract/eco.pgn";

#define REQUIRE_INSTALLED(path)                                                  \
  if (!std::filesystem::exists(path)) {                                          \
    if (RunningUnderCi()) FAIL() << "missing: " << (path);                       \
    GTEST_SKIP() << "not installed: " << (path);                                 \
  }

std::string RunCommand(const std::string& command) { return RunOtherProgram(command); }

// Every position of a PGN file as pgn-extract writes it after each move:
// the FEN and the Polyglot key in two comments.
std::vector<std::pair<std::string, std::uint64_t>> ExtractedPositions(const std::string& pgn) {
  const std::string text =
      RunCommand(std::string(PgnExtract) + " --fencomments --hashcomments -s \"" + pgn + "\" 2>/dev/null");
  std::vector<std::string> comments;
  for (std::size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open + 1)) {
    const std::size_t close = text.find('}', open);
    if (close == std::string::npos) break;
    std::string comment = text.substr(open + 1, close - open - 1);
    for (char& c : comment)
      if (c == '\n') c = ' ';
    const std::size_t first = comment.find_first_not_of(' '), last = comment.find_last_not_of(' ');
    comments.push_back(first == std::string::npos ? "" : comment.substr(first, last - first + 1));
    open = close;
  }
  std::vector<std::pair<std::string, std::uint64_t>> positions;
  // The pairs: a FEN (seven slashes) and right after it 1-16 hex digits;
  // the files' own comments fall outside.
  auto isFen = [](const std::string& text) { return std::count(text.begin(), text.end(), '/') == 7; };
  auto isKey = [](const std::string& text) {
    return !text.empty() && text.size() <= 16 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
  };
  for (std::size_t i = 0; i + 1 < comments.size(); i++) {
    if (!isFen(comments[i]) || !isKey(comments[i + 1])) continue;
    positions.emplace_back(comments[i], std::stoull(comments[i + 1], nullptr, 16));
    i++;
  }
  return positions;
}

std::vector<std::pair<std::string, std::uint64_t>> EcoPositions() { return ExtractedPositions(EcoPgn); }

// The lessons and puzzles of Debian's pychess, unpacked by .ci/run where the
// PGN reader's tests look for them (QUELM_PYCHESS names another root).
std::vector<std::string> PychessFiles() {
  const char* root = std::getenv("QUELM_PYCHESS");
  const std::filesystem::path learn =
      std::filesystem::path(root && *root ? root : "/tmp/pychess-root") / "usr/share/pychess/learn";
  std::vector<std::string> files;
  for (const char* folder : {"lessons", "puzzles"}) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(learn / folder, error))
      if (entry.path().extension() == ".pgn") files.push_back(entry.path().string());
  }
  return files;
}

TEST(PolyglotKey, PublishedVectors) {
  EXPECT_EQ(PolyglotKeyOf(StartFen), 0x463b96181691fc9cULL);
  REQUIRE_SHARED_FILE(path, "data/polyglot-keys.txt");
  std::ifstream in(path);
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    EXPECT_EQ(PolyglotKeyOf(line.substr(0, tab).c_str()), std::stoull(line.substr(tab + 1), nullptr, 16)) << line;
    checked++;
  }
  EXPECT_GT(checked, 0);
}

TEST(PolyglotKey, AgreesWithPgnExtractOnEveryEcoPosition) {
  REQUIRE_INSTALLED(PgnExtract);
  REQUIRE_INSTALLED(EcoPgn);
  const auto positions = EcoPositions();
  RETURN_IF_OPPONENT_CRASHED();
  ASSERT_GT(positions.size(), 5000u);
  int wrong = 0;
  for (const auto& [fen, key] : positions) {
    if (PolyglotKeyOf(fen.c_str()) != key && ++wrong < 10) ADD_FAILURE() << fen << " should key " << std::hex << key;
  }
  EXPECT_EQ(wrong, 0);
}

TEST(PolyglotKey, AgreesWithPgnExtractOnThePychessGames) {
  REQUIRE_INSTALLED(PgnExtract);
  const std::vector<std::string> files = PychessFiles();
  if (files.empty()) {
    if (RunningUnderCi()) FAIL() << "the pychess PGN files are not unpacked";
    GTEST_SKIP() << "the pychess PGN files are not unpacked";
  }
  std::size_t checked = 0;
  int wrong = 0;
  for (const std::string& file : files) {
    for (const auto& [fen, key] : ExtractedPositions(file)) {
      checked++;
      if (PolyglotKeyOf(fen.c_str()) != key && ++wrong < 10) ADD_FAILURE() << fen << " should key " << std::hex << key;
    }
    RETURN_IF_OPPONENT_CRASHED();
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(checked, 1000u);
}

class PolyglotBookTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Scratch.Ready()); }

  std::string Write(const std::vector<PolyglotFixtureEntry>& entries, const std::string& name = "book.bin") {
    WritePolyglotBook(Scratch.Path(name), entries);
    return Scratch.Path(name);
  }

  // The moves of the position as text ("e2e4", castling "h1h1") with weights.
  static std::vector<std::pair<std::string, int>> Moves(BookPolyglot& book, const char* fen) {
    GameBoard board;
    EXPECT_FALSE(board.SetFen(fen)) << fen;
    std::vector<std::pair<std::string, int>> moves;
    BookPosition* position = book.GetBookPosition(board);
    if (!position) return moves;
    for (int i = 0; i < position->Count; i++)
      moves.emplace_back(Text(*position->Entries[i]->GetMove()), position->Entries[i]->GetManual());
    position->Release();
    return moves;
  }

  static std::string Text(const GameMove& move) {
    std::string text;
    for (int square : {move.From, move.To}) {
      text += static_cast<char>('a' + square % 8);
      text += static_cast<char>('8' - square / 8);
    }
    if (move.Promotion) text += "  nk brq"[move.Promotion];
    return text;
  }

  // How often each move is chosen in a number of asks.
  static std::map<std::string, int> Choices(BookPolyglot& book, const char* fen, int asks) {
    GameBoard board;
    EXPECT_FALSE(board.SetFen(fen));
    std::map<std::string, int> counts;
    for (int i = 0; i < asks; i++) {
      const GameMove move = book.SelectMove(board);
      counts[move.Valid ? Text(move) : "none"]++;
    }
    return counts;
  }

  ScratchDirectory Scratch;
};

TEST_F(PolyglotBookTest, ChoosesOnlyAmongTheLargestWeight) {
  const std::uint64_t key = PolyglotKeyOf(StartFen);
  BookPolyglot book;
  ASSERT_FALSE(book.Open(Write({{key, PolyglotMove("e2e4"), 10}, {key, PolyglotMove("d2d4"), 10},
                                {key, PolyglotMove("c2c4"), 5}})
                             .c_str(),
                         false));
  const auto counts = Choices(book, StartFen, 1000);
  ASSERT_EQ(counts.size(), 2u);
  EXPECT_NEAR(counts.at("e2e4"), 500, 60);
  EXPECT_NEAR(counts.at("d2d4"), 500, 60);
}

// The choice generator has a fixed seed: every run of the program answers a
// position with the same sequence of moves.
TEST_F(PolyglotBookTest, SameSequenceInEveryRun) {
  const std::uint64_t key = PolyglotKeyOf(StartFen);
  const std::string path =
      Write({{key, PolyglotMove("e2e4"), 7}, {key, PolyglotMove("d2d4"), 7}, {key, PolyglotMove("g1f3"), 7}});
  auto sequence = [&] {
    BookPolyglot book;
    EXPECT_FALSE(book.Open(path.c_str(), false));
    GameBoard board;
    std::string moves;
    for (int i = 0; i < 30; i++) moves += Text(book.SelectMove(board)) + " ";
    return moves;
  };
  EXPECT_EQ(sequence(), sequence());
}

TEST_F(PolyglotBookTest, RandomnessWidensTheChoice) {
  const std::uint64_t key = PolyglotKeyOf(StartFen);
  BookPolyglot book;
  ASSERT_FALSE(book.Open(Write({{key, PolyglotMove("e2e4"), 100}, {key, PolyglotMove("d2d4"), 98},
                                {key, PolyglotMove("c2c4"), 50}})
                             .c_str(),
                         false));
  // Percent of the largest weight: 100, 98, 50; randomness 5 gives weights
  // 6, 4 and 0.
  EXPECT_FALSE(book.SetRandomness(5));
  const auto counts = Choices(book, StartFen, 1000);
  ASSERT_EQ(counts.size(), 2u);
  EXPECT_NEAR(counts.at("e2e4"), 600, 60);
  EXPECT_NEAR(counts.at("d2d4"), 400, 60);
}

TEST_F(PolyglotBookTest, WhatTheReaderFindsInSmallBooks) {
  const std::uint64_t start = PolyglotKeyOf(StartFen);
  struct Case {
    const char* Name;
    std::vector<PolyglotFixtureEntry> Entries;
    std::vector<std::pair<std::string, int>> Expected;
    const char* Choice;
  };
  const Case cases[] = {
      {"one entry", {{start, PolyglotMove("e2e4"), 3}}, {{"e2e4", 3}}, "e2e4"},
      {"all weights 0", {{start, PolyglotMove("e2e4"), 0}, {start, PolyglotMove("d2d4"), 0}},
       {{"e2e4", 0}, {"d2d4", 0}}, "none"},
      {"every key below", {{start - 2, PolyglotMove("e2e4"), 3}, {start - 1, PolyglotMove("d2d4"), 3}}, {}, "none"},
      {"every key above", {{start + 1, PolyglotMove("e2e4"), 3}}, {}, "none"},
      {"neighbours on both sides",
       {{start - 1, PolyglotMove("a2a3"), 9}, {start, PolyglotMove("e2e4"), 2}, {start, PolyglotMove("d2d4"), 1},
        {start + 1, PolyglotMove("h2h3"), 9}},
       {{"e2e4", 2}, {"d2d4", 1}}, "e2e4"},
      {"empty entries and null moves are skipped",
       {{0, 0, 9}, {start, 0, 9}, {start, PolyglotMove("a1a1"), 9}, {start, PolyglotMove("g1f3"), 1}},
       {{"g1f3", 1}}, "g1f3"},
      // A promotion value that names no piece makes the entry unreadable:
      // the scan ends there and keeps what it had.
      {"unreadable entry ends the scan",
       {{start, PolyglotMove("e2e4"), 1}, {start, PolyglotMove("d2d4", 5), 9}, {start, PolyglotMove("c2c4"), 9}},
       {{"e2e4", 1}}, "e2e4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    BookPolyglot book;
    ASSERT_FALSE(book.Open(Write(c.Entries).c_str(), false));
    EXPECT_EQ(Moves(book, StartFen), c.Expected);
    EXPECT_EQ(Choices(book, StartFen, 1), (std::map<std::string, int>{{c.Choice, 1}}));
  }
}

TEST_F(PolyglotBookTest, PromotionsReadAsPieceCodes) {
  const char* fen = "8/P6k/8/8/8/8/8/K7 w - - 0 1";
  const std::uint64_t key = PolyglotKeyOf(fen);
  BookPolyglot book;
  ASSERT_FALSE(book.Open(Write({{key, PolyglotMove("a7a8", 1), 1}, {key, PolyglotMove("a7a8", 2), 1},
                                {key, PolyglotMove("a7a8", 3), 1}, {key, PolyglotMove("a7a8", 4), 1}})
                             .c_str(),
                         false));
  EXPECT_EQ(Moves(book, fen), (std::vector<std::pair<std::string, int>>{
                                  {"a7a8n", 1}, {"a7a8b", 1}, {"a7a8r", 1}, {"a7a8q", 1}}));
}

// The format writes castling as the king taking its own rook. The board
// decides: the king on its square, the rook in its corner, the right set.
TEST_F(PolyglotBookTest, CastlingDecidedByTheBoard) {
  struct Case {
    const char* Name;
    const char* Fen;
    const char* Move;
    const char* Read;
  };
  const Case cases[] = {
      {"king side", "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1h1", "h1h1"},
      {"queen side", "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1a1", "a1a1"},
      {"black king side", "r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "e8h8", "h8h8"},
      {"black queen side", "r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "e8a8", "a8a8"},
      {"right already gone", "r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1", "e1h1", "e1h1"},
      {"a rook moving e1-h1 stays a rook move", "4k3/8/8/8/8/8/8/4R1K1 w - - 0 1", "e1h1", "e1h1"},
      {"a king's two-square step stays what it is", "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1g1", "e1g1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::uint64_t key = PolyglotKeyOf(c.Fen);
    BookPolyglot book;
    // A rook move from the same corner beside it changes nothing.
    const char* rookMove = c.Move[1] == '1' ? (c.Move[2] == 'h' ? "h1g1" : "a1b1") : (c.Move[2] == 'h' ? "h8g8" : "a8b8");
    ASSERT_FALSE(book.Open(Write({{key, PolyglotMove(c.Move), 5}, {key, PolyglotMove(rookMove), 1}}).c_str(), false));
    const auto moves = Moves(book, c.Fen);
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0].first, c.Read);
  }
}

TEST_F(PolyglotBookTest, FilesThatAreNoBookDoNotOpen) {
  struct Case {
    const char* Name;
    std::size_t Size;
  };
  for (const Case& c : {Case{"empty", 0}, Case{"15 bytes", 15}, Case{"17 bytes", 17}, Case{"40 bytes", 40}}) {
    SCOPED_TRACE(c.Name);
    Scratch.WriteBytes("odd.bin", std::vector<unsigned char>(c.Size, 1));
    BookPolyglot book;
    EXPECT_TRUE(book.Open(Scratch.Path("odd.bin").c_str(), false));
    EXPECT_EQ(book.open, 0);
  }
  BookPolyglot missing, directory;
  EXPECT_TRUE(missing.Open(Scratch.Path("none.bin").c_str(), false));
  EXPECT_TRUE(directory.Open(Scratch.Path("").c_str(), false));
  // A closed book answers nothing.
  GameBoard board;
  EXPECT_FALSE(missing.SelectMove(board).Valid);
}

// Unsorted keys break the binary search; the reader must still stay inside
// the file and leave the pool as it found it.
TEST_F(PolyglotBookTest, UnsortedOrDamagedFilesLeakNothing) {
  const std::uint64_t start = PolyglotKeyOf(StartFen);
  std::vector<PolyglotFixtureEntry> unsorted;
  for (int i = 0; i < 50; i++) unsorted.push_back({start ^ (0x9E3779B97F4A7C15ULL * (i + 1)), PolyglotMove("e2e4"), 1});
  unsorted.push_back({start, PolyglotMove("d2d4"), 1});
  BookPolyglot book;
  ASSERT_FALSE(book.Open(Write(unsorted).c_str(), false));
  GameBoard board;
  for (int i = 0; i < 3; i++) book.SelectMove(board);
  const int made = BookPosition::MadeCount(), free = BookPosition::FreeCount();

  // An unreadable entry met by the binary search: no position at all.
  BookPolyglot damaged;
  ASSERT_FALSE(damaged.Open(Write({{start - 1, PolyglotMove("e2e4", 6), 1}, {start, PolyglotMove("e2e4"), 1},
                                   {start + 1, PolyglotMove("e2e4"), 1}},
                                  "damaged.bin")
                                .c_str(),
                            false));
  EXPECT_EQ(damaged.GetBookPosition(board), nullptr);
  for (int i = 0; i < 3; i++) book.SelectMove(board);
  EXPECT_EQ(BookPosition::MadeCount(), made);
  EXPECT_EQ(BookPosition::FreeCount(), free);
}

// The reads a probe may cost: the last entry, one per halving of the binary
// search, then one lower key (a sorted file shows one only where every key
// is below the position's), the position's own entries and the one entry
// that ends them.
std::uint64_t ProbeReadBound(std::uint64_t fileEntries, std::uint64_t positionEntries) {
  return 1 + std::bit_width(fileEntries) + 1 + positionEntries + 1;
}

// The start position's key at every place the binary search looks, and
// lower keys everywhere else: the search ends on the first entry, and a scan
// that skipped every lower key would read the whole file. Lower keys after
// the first show the file out of order, and the probe ends with no move.
TEST_F(PolyglotBookTest, KeysPlacedForTheSearchDoNotMakeAProbeReadTheFile) {
  const std::uint64_t start = PolyglotKeyOf(StartFen);
  constexpr std::size_t Entries = std::size_t{1} << 20;
  struct Case {
    const char* Name;
    std::uint64_t Filler;
  };
  for (const Case& c : {Case{"empty entries between", 0}, Case{"key 1 between", 1}}) {
    SCOPED_TRACE(c.Name);
    std::vector<PolyglotFixtureEntry> entries(Entries, {c.Filler, PolyglotMove("a2a3"), 1});
    entries.back() = {start, PolyglotMove("e2e4"), 1};
    std::uint64_t placed = 1;
    for (std::int64_t lo = -1, hi = Entries - 1; hi - lo > 1; placed++) {
      hi = (lo + hi) / 2;
      entries[static_cast<std::size_t>(hi)] = {start, PolyglotMove("e2e4"), 1};
    }
    BookPolyglot book;
    ASSERT_FALSE(book.Open(Write(entries).c_str(), false));
    EXPECT_EQ(Moves(book, StartFen), (std::vector<std::pair<std::string, int>>{}));
    EXPECT_LE(book.EntriesRead(), ProbeReadBound(Entries, placed));
    EXPECT_EQ(Choices(book, StartFen, 1), (std::map<std::string, int>{{"none", 1}}));
    EXPECT_LE(book.EntriesRead(), 2 * ProbeReadBound(Entries, placed));
  }
}

// One key repeated through the whole file: a probe reads the position up to
// the bound, keeps what a position holds and still answers its move.
TEST_F(PolyglotBookTest, ARepeatedKeyIsReadOnlyUpToTheBound) {
  const std::uint64_t start = PolyglotKeyOf(StartFen);
  constexpr std::size_t Entries = 100000;
  std::vector<PolyglotFixtureEntry> entries;
  for (std::size_t i = 0; i < Entries; i++) entries.push_back({start, PolyglotMove(i % 2 ? "d2d4" : "e2e4"), 1});
  BookPolyglot book;
  ASSERT_FALSE(book.Open(Write(entries).c_str(), false));
  const auto moves = Moves(book, StartFen);
  EXPECT_EQ(moves.size(), static_cast<std::size_t>(BookPosition::MaxEntries));
  EXPECT_LE(moves.size(), static_cast<std::size_t>(BookPolyglot::MaxEntriesOfOnePosition));
  EXPECT_LE(book.EntriesRead(), ProbeReadBound(Entries, BookPolyglot::MaxEntriesOfOnePosition));
  const auto choices = Choices(book, StartFen, 20);
  EXPECT_EQ(choices.count("none"), 0u);
  EXPECT_EQ(choices.size(), 2u);
}

TEST_F(PolyglotBookTest, ReadOnlyFileOpens) {
  const std::string path = Write({{PolyglotKeyOf(StartFen), PolyglotMove("e2e4"), 1}});
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  BookPolyglot book;
  EXPECT_FALSE(book.Open(path.c_str(), false));
  EXPECT_EQ(Choices(book, StartFen, 1), (std::map<std::string, int>{{"e2e4", 1}}));
}

// The console's listing: the board, the key, then each move with its
// weight, every line whole on standard output.
TEST_F(PolyglotBookTest, ListingOnStandardOutput) {
  const std::uint64_t key = PolyglotKeyOf(StartFen);
  BookPolyglot book;
  ASSERT_FALSE(book.Open(Write({{key, PolyglotMove("d2d4"), 3}, {key, PolyglotMove("e2e4"), 5}}).c_str(), false));
  GameBoard board;
  StreamCapture out(1, Scratch.Path("out")), err(2, Scratch.Path("err"));
  book.ShowBookMoves(board);
  book.Display();
  const std::string printed = out.Finish(), errors = err.Finish();
  EXPECT_EQ(errors, "");
  EXPECT_NE(printed.find("Hashkey = 0x463b96181691fc9c\nBook moves:\n"), std::string::npos) << printed;
  // "  %3d    %7d/%7d/%7d    %3d/%3d/%3d    ", then no minimax data twice.
  const std::string figures = "          0/      0/      0      0/  0/  0       n/a \t   n/a\n";
  EXPECT_NE(printed.find("  5  e2e4    5" + figures + "  3  d2d4    3" + figures), std::string::npos) << printed;
  EXPECT_NE(printed.find("The Polyglot book '" + Scratch.Path("book.bin") + "'; is opened\n"), std::string::npos);
}

class DebianBookTest : public PolyglotBookTest {
protected:
  void SetUp() override {
    PolyglotBookTest::SetUp();
    if (!std::filesystem::exists(DebianBook)) {
      if (RunningUnderCi()) FAIL() << "missing: " << DebianBook;
      GTEST_SKIP() << "not installed: " << DebianBook;
    }
    ASSERT_FALSE(Book.Open(DebianBook, false));
  }
  BookPolyglot Book;
};

TEST_F(DebianBookTest, StartPosition) {
  const auto moves = Moves(Book, StartFen);
  ASSERT_EQ(moves.size(), 13u);
  int largest = 0;
  std::string top;
  for (const auto& [move, weight] : moves)
    if (weight > largest) {
      largest = weight;
      top = move;
    }
  EXPECT_EQ(top, "e2e4");
  EXPECT_EQ(largest, 12135);
  EXPECT_EQ(Choices(Book, StartFen, 5), (std::map<std::string, int>{{"e2e4", 5}}));
}

// The format's word for a move the reader gave back: castling in the corner
// form is the king taking its rook again.
std::uint16_t FormatWordOf(const GameBoard& board, const GameMove& move) {
  if (move.From == move.To) return PolyglotMove(board.KingSquare[board.Side], move.From);
  static constexpr int Value[8] = {0, 0, 1, 0, 0, 2, 3, 4};
  return PolyglotMove(move.From, move.To, Value[move.Promotion & 7]);
}

// The binary search finds exactly what a scan of the whole file finds, for
// every position of the ECO openings.
TEST_F(DebianBookTest, BinarySearchEqualsAPlainScan) {
  REQUIRE_INSTALLED(PgnExtract);
  REQUIRE_INSTALLED(EcoPgn);
  auto positions = EcoPositions();
  RETURN_IF_OPPONENT_CRASHED();
  ASSERT_GT(positions.size(), 5000u);
  positions.emplace_back(StartFen, PolyglotKeyOf(StartFen));
  const auto scan = ScanPolyglotBook(DebianBook);
  const std::uint64_t bookEntries = std::filesystem::file_size(DebianBook) / BookPolyglot::EntrySize;
  int withMoves = 0;
  for (std::size_t i = 0; i < positions.size(); i++) {
    const auto& [fen, key] = positions[i];
    GameBoard board;
    ASSERT_FALSE(board.SetFen(fen.c_str()));
    std::vector<std::pair<int, int>> read, scanned;
    const std::uint64_t readBefore = Book.EntriesRead();
    BookPosition* position = Book.GetBookPosition(board);
    ASSERT_NE(position, nullptr);
    for (int j = 0; j < position->Count; j++)
      read.emplace_back(FormatWordOf(board, *position->Entries[j]->GetMove()), position->Entries[j]->GetManual());
    position->Release();
    if (const auto found = scan.find(key); found != scan.end())
      for (const PolyglotFixtureEntry& entry : found->second) scanned.emplace_back(entry.Move, entry.Weight);
    EXPECT_EQ(read, scanned) << fen;
    EXPECT_LE(Book.EntriesRead() - readBefore, ProbeReadBound(bookEntries, scanned.size())) << fen;
    withMoves += !read.empty();
  }
  EXPECT_GT(withMoves, 1000);
}

// The book holds the queen-side castling of this Richter-Rauzer position as
// e1a1 beside the rook move a1d1: both are read as what they are.
TEST_F(DebianBookTest, CastlingBesideARookMoveFromTheSameCorner) {
  const char* fen = "r1bqk2r/pp2bppp/2nppn2/6B1/3NP3/2N5/PPPQ1PPP/R3KB1R w KQkq - 2 8";
  ASSERT_EQ(PolyglotKeyOf(fen), 0xfc41957918f7eaf6ULL);
  std::map<std::string, int> moves;
  for (const auto& [move, weight] : Moves(Book, fen)) moves[move] = weight;
  EXPECT_EQ(moves.count("e1a1"), 0u);
  EXPECT_EQ(moves["a1a1"], 593);
  EXPECT_GT(moves.count("a1d1"), 0u);
}

// A book the polyglot tool builds from games (2 per win, 1 per draw,
// castling as the king taking its rook, a position with both O-O and Rf1),
// read back: every move of its own listing with the share it gives.
TEST_F(PolyglotBookTest, BooksThePolyglotToolBuilds) {
  REQUIRE_INSTALLED(PolyglotTool);
  std::ofstream(Scratch.Path("games.pgn")) << R"([Result "1-0"]

1. e4 e5 2. Nf3 Nc6 3. Bc4 Bc5 4. O-O Nf6 5. Re1 1-0

[Result "1/2-1/2"]

1. e4 e5 2. Nf3 Nc6 3. Bc4 Bc5 4. Rf1 Nf6 1/2-1/2

[Result "0-1"]

1. d4 d5 2. c4 e6 3. Nc3 Nf6 4. Bg5 Be7 5. e3 O-O 0-1

[Result "1/2-1/2"]

1. d4 d5 2. c4 c6 1/2-1/2
)";
  const std::string bin = Scratch.Path("games.bin");
  RunCommand(std::string(PolyglotTool) + " make-book -pgn " + Scratch.Path("games.pgn") + " -bin " + bin +
             " -min-game 1 >/dev/null 2>&1");
  RETURN_IF_OPPONENT_CRASHED();
  BookPolyglot book;
  ASSERT_FALSE(book.Open(bin.c_str(), false));
  int checked = 0;
  bool sawCastling = false;
  for (const char* colour : {"white", "black"}) {
    const std::string listing = Scratch.Path(std::string(colour) + ".txt");
    RunCommand(std::string(PolyglotTool) + " dump-book -bin " + bin + " -color " + colour + " -out " + listing +
               " >/dev/null 2>&1");
    RETURN_IF_OPPONENT_CRASHED();
    std::ifstream in(listing);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("Dump", 0) == 0 || line.empty()) continue;
      // "1: 1. e4{75%} e5 2. Nf3{100%} ..." : moves with the share of the
      // book's weight the tool gives them.
      std::istringstream words(line.substr(line.find(':') + 1));
      GameBoard board;
      std::string word;
      while (words >> word) {
        if (word.back() == '.') continue;
        const std::size_t brace = word.find('{');
        const std::string san = word.substr(0, brace);
        const GameMove* parsed = board.ParseSan(san.c_str());
        ASSERT_TRUE(parsed && parsed->Valid) << san << " in " << line;
        const GameMove move = *parsed;
        if (brace != std::string::npos) {
          const int share = std::stoi(word.substr(brace + 1));
          BookPosition* position = book.GetBookPosition(board);
          ASSERT_NE(position, nullptr);
          int sum = 0, weight = -1;
          for (int i = 0; i < position->Count; i++) {
            sum += position->Entries[i]->GetManual();
            if (position->Entries[i]->GetMove()->SameMove(move)) weight = position->Entries[i]->GetManual();
          }
          position->Release();
          ASSERT_GE(weight, 0) << san << " missing in " << line;
          EXPECT_EQ(static_cast<int>(100.0 * weight / sum + 0.5), share) << san << " in " << line;
          sawCastling |= move.IsCastling();
          checked++;
        }
        GameMove record;
        ASSERT_NE(board.PlayMove(move, record), 0) << san;
      }
    }
  }
  EXPECT_GE(checked, 15);
  EXPECT_TRUE(sawCastling);
  // O-O won, Rf1 drew: the book plays O-O.
  EXPECT_EQ(Choices(book, "r1bqk1nr/pppp1ppp/2n5/2b1p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4", 3),
            (std::map<std::string, int>{{"h1h1", 3}}));
}

}  // namespace
