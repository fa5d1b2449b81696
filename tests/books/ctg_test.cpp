// The CTG reader: position codes and hashes, the move bytes on oriented
// boards, the walk from a position to the next, and the move choice over a
// book written by the fixture; damaged books find nothing and read nothing
// outside their pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "books/book.h"
#include "books/ctg.h"
#include "books/ctg_fixture.h"
#include "games/gameboard.h"
#include "support/scratch_directory.h"

namespace {

constexpr const char* StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
constexpr const char* AfterE4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1";
constexpr const char* AfterD4 = "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq d3 0 1";

// Move bytes of the format's table used below.
constexpr int PawnE2E4 = 0x5F, PawnD2D4 = 0xE6, KnightG1F3 = 0xF3, PawnC2C4 = 0x9B;
constexpr int KingSideCastling = 0x6B, QueenSideCastling = 0xF6;

TEST(CtgCode, StartPositionCodeAndHashAsTheFormatDefinesThem) {
  CTGReader reader;
  ASSERT_TRUE(reader.SetFen(StartFen));
  const std::vector<int> expected = {0x56, 0xb6, 0x0f, 0x79, 0x60, 0xf3, 0xa6, 0x0f, 0x58, 0xb0, 0x78,
                                     0xe0, 0xc1, 0xe1, 0xa6, 0x0f, 0x59, 0x60, 0xf3, 0xb6, 0x0f, 0x7f};
  ASSERT_EQ(reader.Current.CodeLength, static_cast<int>(expected.size()));
  for (std::size_t i = 0; i < expected.size(); i++) EXPECT_EQ(reader.Current.Code[i], expected[i]) << "byte " << i;
  EXPECT_EQ(reader.Current.Hash, 0xeb7ed3d7u);
}

TEST(CtgCode, RefusesWhatItCannotCode) {
  CTGReader reader;
  for (const char* fen : {"", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP w KQkq -",
                          "rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
                          "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq -",
                          // Chess960 rook files: the format knows only KQkq.
                          "nrbqkbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBQKBRN w GBgb -"})
    EXPECT_FALSE(reader.SetFen(fen)) << fen;
}

// Black to move is coded as White on the turned board; without castling
// rights a king on files a-d is coded on the mirrored board.
TEST(CtgCode, OrientationTurnsAndMirrors) {
  CTGReader black, white, mirrored, plain;
  ASSERT_TRUE(black.SetFen("4k3/4p3/8/8/8/8/8/4K3 b - - 0 1"));
  ASSERT_TRUE(white.SetFen("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1"));
  EXPECT_EQ(black.Current.ColourFlipped, 1);
  EXPECT_EQ(std::vector<int>(black.Current.Board, black.Current.Board + 64),
            std::vector<int>(white.Current.Board, white.Current.Board + 64));
  EXPECT_EQ(black.Current.Hash, white.Current.Hash);

  ASSERT_TRUE(mirrored.SetFen("5k2/8/8/8/8/8/1P6/2K5 w - - 0 1"));
  ASSERT_TRUE(plain.SetFen("2k5/8/8/8/8/8/6P1/5K2 w - - 0 1"));
  EXPECT_EQ(mirrored.Current.FilesMirrored, 1);
  EXPECT_EQ(plain.Current.FilesMirrored, 0);
  EXPECT_EQ(mirrored.Current.Hash, plain.Current.Hash);

  // Castling rights forbid the mirror.
  CTGReader castles;
  ASSERT_TRUE(castles.SetFen("r1k4r/8/8/8/8/8/8/R1K4R w KQ - 0 1"));
  EXPECT_EQ(castles.Current.FilesMirrored, 0);
}

// The en-passant file is coded only when a capture there is possible.
TEST(CtgCode, EnPassantFileOnlyWhenAPawnCanTake) {
  CTGReader withCapture, withoutCapture, none;
  ASSERT_TRUE(withCapture.SetFen("rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"));
  ASSERT_TRUE(withoutCapture.SetFen(AfterE4));
  ASSERT_TRUE(none.SetFen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1"));
  EXPECT_EQ(withCapture.Current.EpFile, 4);
  EXPECT_EQ(withCapture.Current.Code[0] & 0x20, 0x20);
  EXPECT_EQ(withoutCapture.Current.EpFile, -1);
  EXPECT_EQ(withoutCapture.Current.Hash, none.Current.Hash);
}

// Playing a book move on the coded board must reach the very code that the
// resulting FEN has: the next position is looked up by it.
TEST(CtgReader, MakeMoveReachesTheCodeOfTheResultingPosition) {
  struct Case {
    const char* Name;
    const char* Fen;
    int MoveByte;
    const char* Text;
    const char* After;
  };
  const Case cases[] = {
      {"double step", StartFen, PawnE2E4, "e2e4", "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -"},
      {"double step beside a pawn", "rnbqkbnr/ppp1pppp/8/8/3p4/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", PawnE2E4, "e2e4",
       "rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq e3"},
      // The fifth pawn from the a-file, one file left and one rank up.
      {"en passant removes the pawn", "rnbqkbnr/ppp1pppp/8/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d6 0 1", 0xDE, "e5d6",
       "rnbqkbnr/ppp1pppp/3P4/8/8/8/PPPP1PPP/RNBQKBNR b KQkq -"},
      {"king-side castling", "r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w KQkq - 0 1", KingSideCastling, "h1h1",
       "r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R4RK1 b kq -"},
      {"queen-side castling", "r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w KQkq - 0 1", QueenSideCastling, "a1a1",
       "r3k2r/pppppppp/8/8/8/8/PPPPPPPP/2KR3R b kq -"},
      {"black castles", "r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R b KQkq - 0 1", KingSideCastling, "h8h8",
       "r4rk1/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w KQ -"},
      // The first rook, up seven ranks: it takes the rook in its corner.
      {"rook taken in its corner", "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", 0xE1, "a1a8",
       "R3k2r/8/8/8/8/8/8/4K2R b Kk -"},
      {"promotion to a queen", "8/4P3/8/8/8/8/k7/4K3 w - - 0 1", 0xEC, "e7e8q", "4Q3/8/8/8/8/8/k7/4K3 b - -"},
      {"the other king is mirrored", "2k5/8/8/8/8/8/8/4K3 w - - 0 1", 0x13, "e1e2", "2k5/8/8/8/8/8/4K3/8 b - -"},
      {"a mirrored board turns back", "4k3/8/8/8/8/8/8/2K5 w - - 0 1", 0x13, "c1c2", "4k3/8/8/8/8/8/2K5/8 b - -"},
      {"mirrored move text", "4k3/8/8/8/8/8/1P6/2K5 w - - 0 1", 0xDB, "b2b4", "4k3/8/8/8/1P6/8/8/2K5 b - -"},
      {"black moves", AfterE4, PawnE2E4, "e7e5", "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq -"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    CTGReader reader, expected;
    ASSERT_TRUE(reader.SetFen(c.Fen));
    ASSERT_TRUE(expected.SetFen(c.After));
    EXPECT_EQ(reader.MoveToText(c.MoveByte), c.Text);
    CTGPosition child = reader.Current;
    const CTGSquares move = CTGReader::DecodeMove(child, c.MoveByte);
    CTGReader::MakeMove(child, move.From, move.To);
    ASSERT_EQ(child.CodeLength, expected.Current.CodeLength);
    EXPECT_TRUE(std::equal(child.Code, child.Code + child.CodeLength, expected.Current.Code));
    EXPECT_EQ(child.Hash, expected.Current.Hash);
  }
}

TEST(CtgReader, BytesThatNameNoMoveReadAsA8H7) {
  CTGReader reader;
  ASSERT_TRUE(reader.SetFen(StartFen));
  EXPECT_EQ(reader.MoveToText(0x02), "a8h7");  // not in the table
  EXPECT_EQ(reader.MoveToText(0x2C), "a8h7");  // the third queen: there is none
}

class CtgBookTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Scratch.Ready());
    SavedSource = BookSeedSource;
    BookSeedSource = [] { return 7u; };
  }
  void TearDown() override { BookSeedSource = SavedSource; }

  std::string Write(const std::vector<CtgFixturePosition>& positions, const std::string& name = "book.ctg") {
    EXPECT_TRUE(WriteCtgBook(Scratch.Path(name), positions));
    return Scratch.Path(name);
  }

  // How often each answer comes in a number of asks.
  std::map<std::string, int> Answers(CTGReader& reader, const char* fen, int asks) {
    std::map<std::string, int> counts;
    for (int i = 0; i < asks; i++) {
      std::string text;
      counts[reader.GetMove(fen, text) ? text : "none " + text]++;
    }
    return counts;
  }

  ScratchDirectory Scratch;
  std::uint32_t (*SavedSource)() = nullptr;
};

// e4 leads to a position scoring 100 + 40 / 2 = 120, d4 to 60 + 40 / 2 = 80,
// Nf3 to a position outside the book (1).
std::vector<CtgFixturePosition> ScoredOpening() {
  return {
      {StartFen, {{PawnE2E4, 0}, {PawnD2D4, 0}, {KnightG1F3, 0}}},
      {AfterE4, {}, 100, 40, 10},
      {AfterD4, {}, 60, 40, 0},
  };
}

TEST_F(CtgBookTest, UniformPickKeepsOnlyTheBestMove) {
  CTGReader reader;
  reader.SetName(Write(ScoredOpening()));
  EXPECT_EQ(Answers(reader, StartFen, 20), (std::map<std::string, int>{{"e2e4", 20}}));
}

// Threshold 120 / 20 = 6 keeps e4 and d4; x is drawn from 0..200 and e4 is
// chosen for x <= 120: chances 121/201 and 80/201.
TEST_F(CtgBookTest, WeightedPickFollowsTheScores) {
  CTGReader reader;
  reader.SetName(Write(ScoredOpening()));
  reader.UniformPick = false;
  MersenneTwister same;
  SeedBookGenerator(same);
  reader.Generator = same;
  int expectedE4 = 0;
  constexpr int Asks = 2000;
  for (int i = 0; i < Asks; i++) expectedE4 += same.Next() % 201 <= 120;
  const auto counts = Answers(reader, StartFen, Asks);
  EXPECT_EQ(counts.size(), 2u);
  EXPECT_EQ(counts.at("e2e4"), expectedE4);
  EXPECT_EQ(counts.at("d2d4"), Asks - expectedE4);
}

TEST_F(CtgBookTest, BlackMovesComeBackInBlacksSquares) {
  CTGReader reader;
  reader.SetName(Write({{AfterE4, {{PawnE2E4, 0}, {PawnC2C4, 0}}}}));
  const auto counts = Answers(reader, AfterE4, 40);
  EXPECT_EQ(counts.size(), 2u);
  EXPECT_GT(counts.count("e7e5"), 0u);
  EXPECT_GT(counts.count("c7c5"), 0u);
}

TEST_F(CtgBookTest, AnnotationsAndRecommendations) {
  // "!!" with a recommended result beats any statistics; "!" beats plain
  // statistics; a result marked "not to be played" is never played, even
  // when it is all the book has.
  struct Case {
    const char* Name;
    int E4Annotation, E4Recommendation, D4Recommendation;
    std::map<std::string, int> Expected;
  };
  const Case cases[] = {
      {"brilliant", 3, 128, 0, {{"e2e4", 10}}},
      {"good", 1, 128, 0, {{"e2e4", 10}}},
      {"recommended without annotation counts its games", 0, 128, 0, {{"e2e4", 10}}},
      {"the better one is not to be played", 0, 64, 0, {{"d2d4", 10}}},
      {"nothing may be played", 0, 64, 64, {{"none a1a1\n", 10}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    CTGReader reader;
    reader.SetName(Write({{StartFen, {{PawnE2E4, c.E4Annotation}, {PawnD2D4, 0}}},
                          {AfterE4, {}, 100, 40, 10, c.E4Recommendation},
                          {AfterD4, {}, 60, 40, 0, c.D4Recommendation}}));
    EXPECT_EQ(Answers(reader, StartFen, 10), c.Expected);
  }
}

TEST_F(CtgBookTest, CastlingAnsweredInTheCornerForm) {
  const char* fen = "r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R b KQkq - 0 1";
  CTGReader reader;
  reader.SetName(Write({{fen, {{KingSideCastling, 0}}}}));
  EXPECT_EQ(Answers(reader, fen, 3), (std::map<std::string, int>{{"h8h8", 3}}));
}

TEST_F(CtgBookTest, PositionsOutsideTheBookAndPositionsWithoutMoves) {
  CTGReader reader;
  reader.SetName(Write({{StartFen, {}}}));
  EXPECT_EQ(Answers(reader, StartFen, 1), (std::map<std::string, int>{{"none a1a1\n", 1}}));
  EXPECT_EQ(Answers(reader, AfterE4, 1), (std::map<std::string, int>{{"none a1a1\n", 1}}));
}

TEST_F(CtgBookTest, CompanionFilesFollowTheCaseOfTheName) {
  CTGReader upper;
  upper.SetName(Write(ScoredOpening(), "BOOK.CTG"));
  EXPECT_TRUE(std::filesystem::exists(Scratch.Path("BOOK.CTO")));
  EXPECT_EQ(Answers(upper, StartFen, 1), (std::map<std::string, int>{{"e2e4", 1}}));

  Write(ScoredOpening());
  for (const std::string& name : {std::string(), std::string("x"), Scratch.Path("book.ct"), Scratch.Path("book")}) {
    CTGReader reader;
    reader.SetName(name);
    EXPECT_EQ(Answers(reader, StartFen, 1), (std::map<std::string, int>{{"none a1a1\n", 1}})) << name;
  }
}

// A page whose entries fill it up to offset, where the given bytes follow:
// damage that a page walk meets only near the end of the page.
std::vector<unsigned char> PageEndingWith(std::uint32_t offset, const std::vector<unsigned char>& last) {
  std::vector<unsigned char> page(CTGReader::PageSize, 0);
  std::uint32_t at = 4, count = 0;
  while (at < offset) {
    // An entry of a one-byte code, no moves and the statistics block: 35 to
    // 289 bytes.
    std::uint32_t size = std::min<std::uint32_t>(289, offset - at);
    if (offset - at - size > 0 && offset - at - size < 35) size = offset - at - 35;
    page[at] = 1;
    page[at + 1] = static_cast<unsigned char>(size - 34);
    at += size;
    count++;
  }
  std::copy(last.begin(), last.end(), page.begin() + at);
  page[0] = static_cast<unsigned char>((count + 1) >> 8);
  page[1] = static_cast<unsigned char>(count + 1);
  return page;
}

// Damaged books: each finds nothing and reads nothing outside the page (the
// sanitizer build watches the reads).
TEST_F(CtgBookTest, DamagedBooksFindNothing) {
  CTGReader probe;
  ASSERT_TRUE(probe.SetFen(StartFen));
  const std::uint32_t slot = (probe.Current.Hash & 31) + 31;
  const std::uint64_t pageStart = (slot + 1) * std::uint64_t{CTGReader::PageSize};

  auto patch = [&](const std::string& name, std::uint64_t offset, std::vector<unsigned char> bytes) {
    std::vector<unsigned char> file = Scratch.ReadBytes(name);
    if (file.size() < offset + bytes.size()) file.resize(offset + bytes.size());
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(offset));
    Scratch.WriteBytes(name, file);
  };
  auto truncate = [&](const std::string& name, std::uint64_t size) {
    std::filesystem::resize_file(Scratch.Path(name), size);
  };
  struct Case {
    const char* Name;
    std::function<void()> Damage;
  };
  const Case cases[] = {
      {"no index file", [&] { std::filesystem::remove(Scratch.Path("book.cto")); }},
      {"no bounds file", [&] { std::filesystem::remove(Scratch.Path("book.ctb")); }},
      {"no pages file", [&] { std::filesystem::remove(Scratch.Path("book.ctg")); }},
      {"short bounds file", [&] { truncate("book.ctb", 6); }},
      {"index shorter than the slot", [&] { truncate("book.cto", 16 + 4 * slot); }},
      {"short page", [&] { truncate("book.ctg", pageStart + 100); }},
      {"page past the file", [&] { patch("book.cto", 16 + 4 * slot, {0xFF, 0xFF, 0xFF, 0xFF}); }},
      {"count 65535 over an empty page", [&] {
         std::vector<unsigned char> page(CTGReader::PageSize, 0);
         page[0] = page[1] = 0xFF;
         patch("book.ctg", pageStart, page);
       }},
      {"code length past the page", [&] { patch("book.ctg", pageStart, PageEndingWith(4080, {31})); }},
      {"move list past the page", [&] {
         std::vector<unsigned char> entry(probe.Current.Code, probe.Current.Code + probe.Current.CodeLength);
         entry.push_back(255);
         patch("book.ctg", pageStart, PageEndingWith(4072, entry));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    CTGReader reader;
    reader.SetName(Write(ScoredOpening()));
    c.Damage();
    EXPECT_EQ(Answers(reader, StartFen, 1), (std::map<std::string, int>{{"none a1a1\n", 1}}));
  }
}

// The CTG book in the book list: read-only, and its position's moves marked
// by what the book says of the positions they lead to.
TEST_F(CtgBookTest, BookCtgOpensReadOnlyAndMarksItsMoves) {
  const std::string path = Write({
      {StartFen, {{PawnE2E4, 1}, {PawnD2D4, 0}, {KnightG1F3, 0}, {0x02, 0}}},  // 0x02 names no move
      {AfterE4, {}, 1, 0, 0, 128},  // "!" and recommended
      {AfterD4, {}, 1, 0, 0, 64},   // not to be played
  });
  BookCTG writable, missing, book;
  EXPECT_TRUE(writable.Open(path.c_str(), true));
  EXPECT_TRUE(missing.Open(Scratch.Path("none.ctg").c_str(), false));
  ASSERT_FALSE(book.Open(path.c_str(), false));
  EXPECT_EQ(book.open, 1);

  GameBoard board;
  BookPosition* position = book.GetBookPosition(board);
  ASSERT_NE(position, nullptr);
  std::map<std::string, int> manual;
  for (int i = 0; i < position->Count; i++) {
    const GameMove& move = *position->Entries[i]->GetMove();
    manual[std::string{static_cast<char>('a' + move.From % 8), static_cast<char>('8' - move.From / 8),
                       static_cast<char>('a' + move.To % 8), static_cast<char>('8' - move.To / 8)}] =
        position->Entries[i]->GetManual();
  }
  position->Release();
  EXPECT_EQ(manual, (std::map<std::string, int>{{"e2e4", 5}, {"d2d4", -5}, {"g1f3", 0}}));

  // The reader's own choice: e4 beats the unknown Nf3, d4 is never played.
  const GameMove chosen = book.SelectMove(board);
  EXPECT_TRUE(chosen.Valid);
  EXPECT_EQ(chosen.From, 52);
  EXPECT_EQ(chosen.To, 36);
}

}  // namespace
