// The games database: its files byte by byte, loading and appending, marks,
// the mends of the append order and of MarkDeleted, renaming and deleting
// whole sets, damaged sets, read-only opens, the search by position, the
// rebuild and its leftovers, and the PGN import.
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "gamesdb_helpers.h"
#include "support/platform.h"
#include "support/scratch_directory.h"

namespace {

using namespace gamesdb_test;

std::uint32_t U32At(const std::vector<unsigned char>& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t(bytes[at + 3]) << 24;
}

void PutU32At(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; i++) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

constexpr int AddedInTotalMessage = 5;

const char* const Openings[] = {
    "e4 e5 Nf3 Nc6 Bb5 a6",
    "d4 d5 c4 e6 Nc3 Nf6",
    "e4 c5 Nf3 d6 d4 cxd4",
    "c4 e5 Nc3 Nf6 g3 d5",
    "e4 e6 d4 d5 Nc3 Bb4",
};

// The board at the end of a game of these moves, as FEN text.
std::string EndFen(const std::string& moves) {
  auto game = MakeGame(moves);
  while (!game->Forward()) {
  }
  return game->Board.GetFen();
}

class GamesDatabaseTest : public ::testing::Test {
protected:
  void SetUp() override {
    PrepareGameTables();
    ASSERT_TRUE(Scratch.Ready());
  }

  std::string Base(const std::string& name = "db") const { return Scratch.Path(name); }

  // A set with one game of each opening.
  void MakeSet(bool positions, bool players, const std::string& name = "db") {
    GamesDatabase db(Sink);
    ASSERT_FALSE(db.Create(Base(name), positions, players));
    for (const char* moves : Openings) ASSERT_FALSE(db.AddGame(*MakeGame(moves)));
  }

  std::vector<std::uint32_t> Matches(GamesDatabase& db, const char* fen) {
    GameBoard target;
    EXPECT_FALSE(target.SetFen(fen)) << fen;
    std::vector<std::uint32_t> found;
    db.StartPositionSearch(target);
    while (std::uint32_t g = db.NextPositionMatch()) found.push_back(g);
    return found;
  }

  std::map<std::string, std::vector<unsigned char>> SetBytes(const std::string& name = "db") const {
    std::map<std::string, std::vector<unsigned char>> files;
    for (const char* extension : {".fdb", ".fgf", ".fgr", ".fpi", ".fsi"})
      if (fs::exists(Base(name) + extension)) files[extension] = Scratch.ReadBytes(name + extension);
    return files;
  }

  ScratchDirectory Scratch;
  CountingSink Sink;
};

TEST_F(GamesDatabaseTest, ThreeGamesWithoutIndexesGiveTheirHeaderOffsetsAndRecords) {
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Create(Base(), false, false));
  for (int i = 0; i < 3; i++) ASSERT_FALSE(db.AddGame(*MakeGame(Openings[i])));
  db.Close();
  const auto header = Scratch.ReadBytes("db.fdb");
  const std::vector<unsigned char> expected = {1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1};
  EXPECT_EQ(header, expected);
  const auto offsets = Scratch.ReadBytes("db.fgr");
  ASSERT_EQ(offsets.size(), 16u);
  EXPECT_EQ(U32At(offsets, 0), 0u);
  EXPECT_EQ(U32At(offsets, 4), 4u);  // behind the records version
  EXPECT_LT(U32At(offsets, 4), U32At(offsets, 8));
  EXPECT_LT(U32At(offsets, 8), U32At(offsets, 12));
  const auto records = Scratch.ReadBytes("db.fgf");
  EXPECT_EQ(U32At(records, 0), 1u);
  for (int g = 1; g <= 3; g++) EXPECT_EQ(records[U32At(offsets, 4 * g)], 255) << g;
  EXPECT_FALSE(fs::exists(Base() + ".fpi"));
  EXPECT_FALSE(fs::exists(Base() + ".fsi"));

  ASSERT_FALSE(db.Open(Base(), false));
  std::uint8_t flags = 9;
  auto game = db.LoadGame(2, flags);
  ASSERT_TRUE(game);
  EXPECT_EQ(flags, 0);
  EXPECT_EQ(GameText(*game), GameText(*MakeGame(Openings[1])));
  EXPECT_EQ(db.CurrentGame, 2u);
  EXPECT_FALSE(db.LoadGame(0, flags));
  EXPECT_FALSE(db.LoadGame(4, flags));
}

TEST_F(GamesDatabaseTest, MarkDeletedChecksItsRangeAndCountsADeletionOnce) {
  MakeSet(true, true);
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Open(Base(), true));
  // Game 0 would set a bit of the records version word.
  EXPECT_TRUE(db.MarkDeleted(0));
  EXPECT_TRUE(db.MarkDeleted(6));
  EXPECT_FALSE(db.MarkDeleted(2));
  EXPECT_FALSE(db.MarkDeleted(2));
  EXPECT_EQ(db.DeletedCount, 1u);
  StringGameSink listing;
  db.SetSink(listing);
  db.PrintSummary();
  EXPECT_NE(listing.Text.find("2.DAlpha - Beta *. \n"), std::string::npos) << listing.Text;
  EXPECT_NE(listing.Text.find("1. Alpha - Beta *. \n   Event: ?. Site: ?. Date: ????.??.??, Round 1. \n"),
            std::string::npos)
      << listing.Text;
  db.Close();
  EXPECT_EQ(U32At(Scratch.ReadBytes("db.fgf"), 0), 1u);
  EXPECT_EQ(U32At(Scratch.ReadBytes("db.fdb"), 8), 1u);
  ASSERT_FALSE(db.Open(Base(), true));
  EXPECT_EQ(db.DeletedCount, 1u);

  // A record whose marker is gone is not marked.
  auto records = Scratch.ReadBytes("db.fgf");
  const std::uint32_t third = U32At(Scratch.ReadBytes("db.fgr"), 12);
  db.Close();
  records[third] = 7;
  Scratch.WriteBytes("db.fgf", records);
  ASSERT_FALSE(db.Open(Base(), true));
  EXPECT_TRUE(db.MarkDeleted(3));
  EXPECT_EQ(Scratch.ReadBytes("db.fgf"), records);
}

TEST_F(GamesDatabaseTest, AppendingAfterALoadKeepsTheLoadedGameAndReplaceMarksIt) {
  MakeSet(true, true);
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Open(Base(), true));
  std::uint8_t flags;
  auto fifth = db.LoadGame(5, flags);
  ASSERT_TRUE(fifth);
  ASSERT_FALSE(db.AppendGame(*MakeGame("g3 g6")));
  EXPECT_EQ(db.GameCount, 6u);
  EXPECT_EQ(db.DeletedCount, 0u);
  ASSERT_TRUE(db.LoadGame(5, flags));
  EXPECT_EQ(flags, 0);

  while (!fifth->Forward()) {
  }
  ASSERT_FALSE(fifth->AddMoveText("e5"));
  ASSERT_FALSE(db.ReplaceGame(5, *fifth));
  EXPECT_EQ(db.GameCount, 7u);
  EXPECT_EQ(db.DeletedCount, 1u);
  ASSERT_TRUE(db.LoadGame(5, flags));
  EXPECT_EQ(flags, GamesDatabase::DeletedFlag);
  auto seventh = db.LoadGame(7, flags);
  ASSERT_TRUE(seventh);
  EXPECT_EQ(GameText(*seventh), GameText(*fifth));
  EXPECT_TRUE(db.ReplaceGame(9, *fifth));
  EXPECT_EQ(db.GameCount, 7u);
}

TEST_F(GamesDatabaseTest, PlayerCodesTakeSixCharactersFiveBitsEach) {
  const struct {
    const char* Name;
    std::uint32_t Code;
  } cases[] = {
      // 0 + 1 x 2^5 + 2 x 2^10 + 3 x 2^15 + 4 x 2^20 + 5 x 2^25: g and h are beyond six.
      {"Abcdefgh", 0 + (1u << 5) + (2u << 10) + (3u << 15) + (4u << 20) + (5u << 25)},
      {"aBCDEF", 0 + (1u << 5) + (2u << 10) + (3u << 15) + (4u << 20) + (5u << 25)},
      {"", 0},
      {"Z", 25},
      // ',' 26 and a blank 27.
      {"a, b", 0 + (26u << 5) + (27u << 10) + (1u << 15)},
      // Each byte of a UTF-8 letter lies outside 7-bit ASCII: 28 twice; a digit 29.
      {"\xc3\xa9" "1", 28 + (28u << 5) + (29u << 10)},
      // Latin-1 letters are bytes above 127 too, never letters.
      {"\xe9t\xe9", 28 + (19u << 5) + (28u << 10)},
  };
  for (const auto& c : cases) EXPECT_EQ(GamesDatabase::PlayerCode(c.Name), c.Code) << c.Name;

  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Create(Base(), false, true));
  ASSERT_FALSE(db.AddGame(*MakeGame("e4 e5", "Abcdefgh", "abcdefXY")));
  EXPECT_EQ(db.PlayerCount, 2u);
  db.Close();
  IndexFile players;
  ASSERT_FALSE(players.Open((Base() + ".fsi").c_str(), false));
  const std::uint32_t code = GamesDatabase::PlayerCode("Abcdefgh");
  for (std::uint32_t key : {code, code | GamesDatabase::BlackPlayer}) {
    players.SearchKey = key;
    players.SearchMask = 0xFFFFFFFFu;
    ASSERT_FALSE(players.FindFirst(key & (players.BucketCount - 1)));
    EXPECT_EQ(players.FindNext(), 1u) << key;
    EXPECT_EQ(players.FindNext(), 0u) << key;
  }
}

TEST_F(GamesDatabaseTest, OlderHeaderGetsItsFlagsOnAWritableOpenOnly) {
  MakeSet(true, false);
  auto header = Scratch.ReadBytes("db.fdb");
  header.resize(20);
  PutU32At(header, 0, 0);
  Scratch.WriteBytes("db.fdb", header);
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Open(Base(), false));
  EXPECT_TRUE(db.HasPositionIndex());
  EXPECT_FALSE(db.HasPlayerIndex());
  db.Close();
  EXPECT_EQ(Scratch.ReadBytes("db.fdb"), header);
  ASSERT_FALSE(db.Open(Base(), true));
  EXPECT_TRUE(db.NoPlayerIndex);
  db.Close();
  const auto written = Scratch.ReadBytes("db.fdb");
  ASSERT_EQ(written.size(), 22u);
  EXPECT_EQ(written[20], 0);
  EXPECT_EQ(written[21], 1);
}

TEST_F(GamesDatabaseTest, ARepeatedPositionIsIndexedOnce) {
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Create(Base(), true, false));
  // The start and three new positions, then the same four twice more.
  ASSERT_FALSE(db.AddGame(*MakeGame("Nf3 Nf6 Ng1 Ng8 Nf3 Nf6 Ng1 Ng8")));
  EXPECT_EQ(db.PositionCount, 4u);
  EXPECT_EQ(Matches(db, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"), std::vector<std::uint32_t>{1});
}

// A read-only open reads, lists and searches a set without changing a byte
// of it, the older header and a missing index included.
TEST_F(GamesDatabaseTest, AReadOnlyOpenNeverWrites) {
  MakeSet(true, true);
  auto header = Scratch.ReadBytes("db.fdb");
  header.resize(20);
  PutU32At(header, 0, 0);
  Scratch.WriteBytes("db.fdb", header);
  fs::remove(Base() + ".fpi");
  const auto before = SetBytes();
  const auto stamp = fs::last_write_time(Base() + ".fdb");
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Open(Base(), false));
  EXPECT_FALSE(db.HasPositionIndex());
  EXPECT_EQ(Matches(db, "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq -"), std::vector<std::uint32_t>{1});
  db.PrintSummary();
  std::uint8_t flags;
  EXPECT_TRUE(db.LoadGame(3, flags));
  EXPECT_TRUE(db.MarkDeleted(1));
  EXPECT_TRUE(db.AppendGame(*MakeGame("e4")));
  EXPECT_TRUE(db.Rebuild(0));
  EXPECT_TRUE(db.ImportPgn(EcoPgn().c_str()));
  EXPECT_TRUE(db.DeleteFiles());
  db.Close();
  EXPECT_EQ(SetBytes(), before);
  EXPECT_EQ(fs::last_write_time(Base() + ".fdb"), stamp);
  // The missing index was left out for the session, not marked away.
  ASSERT_FALSE(db.Open(Base(), true));
  EXPECT_FALSE(db.NoPositionIndex);
}

// Damaged sets: each is refused with a message, or opens without the bad
// index; nothing crashes, and loading or searching what opened is safe.
TEST_F(GamesDatabaseTest, DamagedSetsAreRefusedOrOpenWithoutTheBadIndex) {
  using Bytes = std::vector<unsigned char>;
  const struct {
    const char* What;
    const char* File;
    std::function<void(Bytes&)> Damage;
    bool Opens;
  } cases[] = {
      {"short header", ".fdb", [](Bytes& b) { b.resize(12); }, false},
      {"header version 2", ".fdb", [](Bytes& b) { PutU32At(b, 0, 2); }, false},
      {"version 1 header without its flags", ".fdb", [](Bytes& b) { b.resize(21); }, false},
      {"records version 2", ".fgf", [](Bytes& b) { PutU32At(b, 0, 2); }, false},
      {"offsets header 7", ".fgr", [](Bytes& b) { PutU32At(b, 0, 7); }, false},
      {"count above the offsets", ".fgr", [](Bytes& b) { b.resize(b.size() - 4); }, false},
      {"deleted above the count", ".fdb", [](Bytes& b) { PutU32At(b, 8, 6); }, false},
      {"last offset past the records", ".fgr", [](Bytes& b) { PutU32At(b, 20, 1u << 30); }, false},
      {"last offset into the version word", ".fgr", [](Bytes& b) { PutU32At(b, 20, 2); }, false},
      {"record without its 255", ".fgf", [](Bytes& b) { b[4] = 17; }, true},
      {"truncated last record", ".fgf", [](Bytes& b) { b.resize(b.size() - 3); }, true},
      {"position index of garbage", ".fpi", [](Bytes& b) { for (auto& c : b) c = 0xA5; }, true},
      {"position index cut to its version", ".fpi", [](Bytes& b) { b.resize(4); }, true},
      {"missing position index", ".fpi", [](Bytes& b) { b.clear(); }, true},
      {"missing player index", ".fsi", [](Bytes& b) { b.clear(); }, true},
      {"player index of garbage", ".fsi", [](Bytes& b) { for (auto& c : b) c = 0xFF; }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    MakeSet(true, true);
    Bytes bytes = Scratch.ReadBytes(std::string("db") + c.File);
    c.Damage(bytes);
    if (bytes.empty())
      fs::remove(Base() + c.File);
    else
      Scratch.WriteBytes(std::string("db") + c.File, bytes);
    for (bool writable : {false, true}) {
      Sink = CountingSink();
      GamesDatabase db(Sink);
      const bool failed = db.Open(Base(), writable);
      EXPECT_EQ(failed, !c.Opens);
      EXPECT_FALSE(Sink.Errors.empty() && Sink.Warnings.empty() && failed);
      if (failed) {
        EXPECT_FALSE(db.IsOpen());
        continue;
      }
      const auto found = Matches(db, "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -");
      std::uint8_t flags;
      for (std::uint32_t g = 1; g <= db.GameCount; g++) db.LoadGame(g, flags);
      db.PrintSummary();
      EXPECT_LE(found.size(), 3u);
    }
  }
}

// The Chess960 starts numbered 254, 510 and 766 hold a 254 byte in their
// start field, which a search for the tag marker would take for it.
TEST_F(GamesDatabaseTest, HeaderListingParsesTheStartField) {
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Create(Base(), false, false));
  for (int number : {254, 510, 766}) {
    Game game;
    ASSERT_FALSE(game.SetStartFrc(number));
    GameTag tag;
    tag.Parse(TagWhite, "Fischer");
    game.Tags.Set(tag);
    ASSERT_FALSE(db.AddGame(game));
  }
  Game fen;
  ASSERT_FALSE(fen.SetStartFen("4k3/8/8/8/8/8/8/4K2R w K -"));
  ASSERT_FALSE(db.AddGame(fen));
  StringGameSink listing;
  db.SetSink(listing);
  for (std::uint32_t g = 1; g <= 4; g++) db.PrintGameHeader(g);
  EXPECT_EQ(listing.Text,
            "1. Fischer - ? *. \n   Event: ?. Site: ?. Date: ????.??.??, Round 1. \n"
            "2. Fischer - ? *. \n   Event: ?. Site: ?. Date: ????.??.??, Round 1. \n"
            "3. Fischer - ? *. \n   Event: ?. Site: ?. Date: ????.??.??, Round 1. \n"
            "4. ? - ? *. \n   Event: ?. Site: ?. Date: ????.??.??, Round 1. \n");
}

TEST_F(GamesDatabaseTest, NamesLongerThanEightyCharactersOrNotInAsciiOpenTheirOwnFiles) {
  GamesDatabase named(Sink);
  ASSERT_FALSE(named.Create(Base("parties-\xc3\xa9t\xc3\xa9"), true, true));
  ASSERT_FALSE(named.AddGame(*MakeGame(Openings[0], "J\xc3\xb6rg", "\xe9mile")));
  named.Close();
  ASSERT_FALSE(named.Open(Base("parties-\xc3\xa9t\xc3\xa9"), false));
  EXPECT_EQ(named.GameCount, 1u);
  EXPECT_TRUE(named.HasPlayerIndex());

  const std::string longName = std::string(60, 'a') + std::string(40, 'b');
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Create(Base(longName), false, false));
  ASSERT_FALSE(db.AddGame(*MakeGame(Openings[0])));
  db.Close();
  EXPECT_TRUE(fs::exists(Base(longName) + ".fgf"));
  EXPECT_FALSE(fs::exists(Base(longName.substr(0, 80)) + ".fgf"));
  ASSERT_FALSE(db.Open(Base(longName), false));
  EXPECT_EQ(db.GameCount, 1u);
}

// Names are kept whole in memory: a set of a 60-character name in a
// directory whose path is 100 characters long is created with both indexes,
// takes an import that rebuilds it first, and rebuilds and renames itself.
TEST_F(GamesDatabaseTest, ALongNameInALongDirectoryCreatesImportsRebuildsAndRenames) {
  const std::size_t scratch = Scratch.Path("").size();
  ASSERT_LT(scratch, 99u);
  const std::string directory = Scratch.Path(std::string(100 - scratch, 'd'));
  ASSERT_EQ(directory.size(), 100u);
  ASSERT_TRUE(fs::create_directory(directory));
  const std::string base = directory + "/" + std::string(60, 'n');
  std::ofstream(Scratch.Path("games.pgn")) << ShortGames(150);

  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Create(base, true, true)) << Sink.Text;
  ASSERT_FALSE(db.ImportPgn(Scratch.Path("games.pgn").c_str())) << Sink.Text;
  EXPECT_TRUE(Sink.Errors.empty()) << Sink.Text;
  EXPECT_NE(Sink.Text.find(Messages.Text(19)), std::string::npos) << Sink.Text;
  EXPECT_EQ(db.GameCount, 150u);
  EXPECT_EQ(db.PlayerCount, 300u);
  {
    // Sized by the rebuild for 100 x 150 positions: 8 buckets, not one.
    IndexFile positions;
    ASSERT_FALSE(positions.Open((base + ".fpi").c_str(), false));
    EXPECT_EQ(positions.BucketCount, 8u);
    EXPECT_EQ(std::string(positions.FileName), base + ".fpi");
  }
  const std::string fen = EndFen("a3 a6 Nf3");
  EXPECT_EQ(Matches(db, fen.c_str()), (std::vector<std::uint32_t>{1}));

  ASSERT_FALSE(db.MarkDeleted(1));
  ASSERT_FALSE(db.Rebuild(0)) << Sink.Text;
  EXPECT_EQ(db.GameCount, 149u);
  EXPECT_EQ(db.DeletedCount, 0u);
  EXPECT_TRUE(db.HasPositionIndex());
  EXPECT_TRUE(db.HasPlayerIndex());
  EXPECT_TRUE(Matches(db, fen.c_str()).empty());
  std::uint8_t flags;
  auto first = db.LoadGame(1, flags);
  ASSERT_TRUE(first);
  EXPECT_EQ(TagValue(first->Tags, TagEvent), "g2");

  const std::string renamed = directory + "/" + std::string(60, 'r');
  ASSERT_FALSE(db.Rename(renamed)) << Sink.Text;
  EXPECT_TRUE(db.HasPositionIndex());
  EXPECT_TRUE(db.HasPlayerIndex());
  db.Close();
  ASSERT_FALSE(db.Open(renamed, false));
  EXPECT_EQ(db.GameCount, 149u);
  EXPECT_TRUE(db.HasPositionIndex());
  EXPECT_TRUE(db.HasPlayerIndex());
  EXPECT_EQ(Matches(db, EndFen("a4 a6 Nf3").c_str()), (std::vector<std::uint32_t>{1}));
  EXPECT_TRUE(Sink.Errors.empty()) << Sink.Text;
  // The set's five files and nothing of the rebuild.
  std::set<std::string> files;
  for (const auto& entry : fs::directory_iterator(directory)) files.insert(entry.path().filename().string());
  std::set<std::string> expected;
  for (const char* extension : {".fdb", ".fgf", ".fgr", ".fpi", ".fsi"}) expected.insert(std::string(60, 'r') + extension);
  EXPECT_EQ(files, expected);
}

// A create that fails takes away the files it made, so that the next open
// finds no half-made set; a name the system cannot hold, for the set or its
// rebuild, is refused before any file is made, and the message says why.
TEST_F(GamesDatabaseTest, AFailedCreateLeavesNothingBehindAndATooLongNameIsRefusedUpFront) {
  // Deeper than the system's longest path, in parts it takes.
  std::string deep = Scratch.Path("");
  while (deep.size() <= 4096) deep += std::string(200, 'p') + "/";
  const struct {
    const char* Case;
    std::string Name;
    std::string Blocked;  // a directory in the place of this file
    bool TooLong;
  } cases[] = {
      {"position index", Base("blocked"), ".fpi", false},
      {"player index", Base("blocked"), ".fsi", false},
      {"offsets", Base("blocked"), ".fgr", false},
      {"last part", Base(std::string(240, 'x')), "", true},
      {"whole path", deep + "db", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    Sink = CountingSink();
    if (!c.Blocked.empty()) {
      ASSERT_TRUE(fs::create_directory(c.Name + c.Blocked));
    }
    GamesDatabase db(Sink);
    EXPECT_TRUE(db.Create(c.Name, true, true));
    EXPECT_FALSE(db.IsOpen());
    ASSERT_EQ(Sink.Errors, std::vector<int>{30}) << Sink.Text;
    EXPECT_EQ(Sink.Text.find("too long") != std::string::npos, c.TooLong) << Sink.Text;
    std::error_code error;
    for (const char* extension : {".fdb", ".fgf", ".fgr", ".fpi", ".fsi"}) {
      if (extension != c.Blocked) {
        EXPECT_FALSE(fs::exists(c.Name + extension, error)) << extension;
      }
    }
    if (c.Blocked.empty()) continue;
    // The blocker was not ours to take; once it is gone the name works.
    EXPECT_TRUE(fs::is_directory(c.Name + c.Blocked));
    EXPECT_TRUE(db.Open(c.Name, true));
    fs::remove(c.Name + c.Blocked);
    ASSERT_FALSE(db.Create(c.Name, true, true)) << Sink.Text;
    ASSERT_FALSE(db.AddGame(*MakeGame(Openings[0])));
    EXPECT_EQ(Matches(db, EndFen(Openings[0]).c_str()), std::vector<std::uint32_t>{1});
    ASSERT_FALSE(db.DeleteFiles());
  }
  // The longest last part that is taken.
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Create(Base(std::string(LongestFileName() - 22, 'y')), true, true)) << Sink.Text;
  ASSERT_FALSE(db.AddGame(*MakeGame(Openings[0])));
  ASSERT_FALSE(db.Rebuild(0)) << Sink.Text;
  EXPECT_EQ(db.GameCount, 1u);
}

TEST_F(GamesDatabaseTest, RenameAndDeleteCheckFirstAndTakeTheWholeSet) {
  MakeSet(true, true);
  MakeSet(false, false, "other");
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Open(Base(), true));
  const auto before = SetBytes();
  // "other" exists: nothing may move.
  EXPECT_TRUE(db.Rename(Base("other")));
  EXPECT_EQ(SetBytes(), before);
  EXPECT_TRUE(db.IsOpen());
  // A stray index of the target name counts too.
  std::ofstream(Base("third") + ".fsi") << "x";
  EXPECT_TRUE(db.Rename(Base("third")));
  EXPECT_EQ(SetBytes(), before);

  ASSERT_FALSE(db.Rename(Base("renamed")));
  EXPECT_EQ(SetBytes("renamed"), before);
  EXPECT_TRUE(SetBytes().empty());
  EXPECT_TRUE(db.IsOpen());
  EXPECT_TRUE(db.IsWritable());
  EXPECT_EQ(db.Name(), Base("renamed"));

  // An index that did not open this session goes with the set.
  db.Close();
  auto garbage = Scratch.ReadBytes("renamed.fpi");
  std::fill(garbage.begin(), garbage.end(), 0);
  Scratch.WriteBytes("renamed.fpi", garbage);
  ASSERT_FALSE(db.Open(Base("renamed"), true));
  EXPECT_FALSE(db.HasPositionIndex());
  EXPECT_FALSE(db.DeleteFiles());
  EXPECT_TRUE(SetBytes("renamed").empty());
  EXPECT_FALSE(db.IsOpen());
  EXPECT_TRUE(db.DeleteFiles());
}

constexpr const char* AfterE4E5 = "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq -";
constexpr const char* AfterE4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -";

TEST_F(GamesDatabaseTest, SearchFindsMainLinesOnlySkipsDeletedGamesAndAgreesWithoutItsIndex) {
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Create(Base(), true, false));
  for (const char* moves : Openings) ASSERT_FALSE(db.AddGame(*MakeGame(moves)));
  // Game 6 reaches 1. e4 e5 only in a side line: 1. e4 c5 (1... e5).
  auto sideLine = MakeGame("e4 c5 Nf3");
  ASSERT_FALSE(sideLine->Forward());
  ASSERT_FALSE(sideLine->AddVariationMoveText("e5"));
  ASSERT_FALSE(db.AddGame(*sideLine));
  // Game 7 reaches it by transposition-free repetition of the same moves.
  ASSERT_FALSE(db.AddGame(*MakeGame("e4 e5 Nf3 Nf6")));
  const struct {
    const char* Fen;
    std::vector<std::uint32_t> Games;
  } cases[] = {
      {AfterE4E5, {1, 7}},
      {AfterE4, {1, 3, 5, 6, 7}},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", {1, 2, 3, 4, 5, 6, 7}},
      // The same placement with Black to move, and without castling rights.
      {"rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -", {}},
      {"rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w - -", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Matches(db, c.Fen), c.Games) << c.Fen;
  ASSERT_FALSE(db.MarkDeleted(7));
  EXPECT_EQ(Matches(db, AfterE4E5), std::vector<std::uint32_t>{1});
  db.Close();
  {
    // Entries a killed append left: one for a number above the count, and
    // the number 1 met again at the end of its chain.
    IndexFile index;
    ASSERT_FALSE(index.Open((Base() + ".fpi").c_str(), true));
    GameBoard start;
    const std::uint32_t key = static_cast<std::uint32_t>(start.HashKey());
    ASSERT_FALSE(index.Add(key & (index.BucketCount - 1), key, 1));
    ASSERT_FALSE(index.Add(key & (index.BucketCount - 1), key, 99));
  }
  ASSERT_FALSE(db.Open(Base(), false));
  EXPECT_EQ(Matches(db, cases[2].Fen), (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6}));
  db.Close();
  fs::remove(Base() + ".fpi");
  ASSERT_FALSE(db.Open(Base(), false));
  ASSERT_FALSE(db.HasPositionIndex());
  EXPECT_EQ(Matches(db, AfterE4E5), std::vector<std::uint32_t>{1});
  for (const auto& c : cases) {
    std::vector<std::uint32_t> live = c.Games;
    live.erase(std::remove(live.begin(), live.end(), 7u), live.end());
    EXPECT_EQ(Matches(db, c.Fen), live) << c.Fen;
  }
}

TEST_F(GamesDatabaseTest, RebuildDropsDeletedGamesAndRenumbers) {
  MakeSet(true, true);
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Open(Base(), true));
  ASSERT_FALSE(db.MarkDeleted(2));
  ASSERT_FALSE(db.MarkDeleted(4));
  ASSERT_FALSE(db.Rebuild(0));
  EXPECT_TRUE(db.IsOpen());
  EXPECT_TRUE(db.IsWritable());
  EXPECT_EQ(db.GameCount, 3u);
  EXPECT_EQ(db.DeletedCount, 0u);
  EXPECT_EQ(db.PlayerCount, 6u);
  std::uint8_t flags;
  for (std::uint32_t g = 1; g <= 3; g++) {
    auto game = db.LoadGame(g, flags);
    ASSERT_TRUE(game);
    EXPECT_EQ(GameText(*game), GameText(*MakeGame(Openings[g == 1 ? 0 : g == 2 ? 2 : 4]))) << g;
  }
  EXPECT_EQ(Matches(db, AfterE4), (std::vector<std::uint32_t>{1, 2, 3}));
  // Nothing of the rebuild is left beside the set.
  for (const auto& entry : fs::directory_iterator(Scratch.Path("")))
    EXPECT_EQ(entry.path().filename().string().rfind("db.", 0), 0u) << entry.path();
  EXPECT_EQ(std::distance(fs::directory_iterator(Scratch.Path("")), fs::directory_iterator()), 5);
}

// A rebuild killed after its commit marker is finished by the next writable
// open and read where it lies by a read-only one; one killed before it is
// cleared away.
TEST_F(GamesDatabaseTest, OpenFinishesACommittedRebuildAndClearsAnUnfinishedOne) {
  MakeSet(true, true);
  fs::create_directory(Base("db.rebuild-1-0"));
  MakeSet(true, true, "db.rebuild-1-0/db");
  {
    GamesDatabase db(Sink);
    ASSERT_FALSE(db.Open(Base("db.rebuild-1-0/db"), true));
    ASSERT_FALSE(db.AddGame(*MakeGame("b3 b6")));
  }
  std::ofstream(Base("db.rebuild-1-0/commit")).close();
  // Half of the renames done.
  fs::rename(Base("db.rebuild-1-0/db.fgf"), Base("db.fgf"));
  fs::rename(Base("db.rebuild-1-0/db.fdb"), Base("db.fdb"));
  const auto stale = SetBytes();
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Open(Base(), false));
  EXPECT_EQ(db.GameCount, 6u);
  EXPECT_EQ(Matches(db, "rnbqkbnr/p1pppppp/1p6/8/8/1P6/P1PPPPPP/RNBQKBNR w KQkq -"), std::vector<std::uint32_t>{6});
  db.Close();
  EXPECT_EQ(SetBytes(), stale);
  ASSERT_FALSE(db.Open(Base(), true));
  EXPECT_EQ(db.GameCount, 6u);
  EXPECT_FALSE(fs::exists(Base("db.rebuild-1-0")));
  EXPECT_EQ(Matches(db, "rnbqkbnr/p1pppppp/1p6/8/8/1P6/P1PPPPPP/RNBQKBNR w KQkq -"), std::vector<std::uint32_t>{6});
  db.Close();

  fs::create_directory(Base("db.rebuild-2-0"));
  MakeSet(true, true, "db.rebuild-2-0/db");
  const auto kept = SetBytes();
  ASSERT_FALSE(db.Open(Base(), true));
  EXPECT_FALSE(fs::exists(Base("db.rebuild-2-0")));
  EXPECT_EQ(db.GameCount, 6u);
  db.Close();
  EXPECT_EQ(SetBytes(), kept);
}

TEST_F(GamesDatabaseTest, ImportRebuildsFirstFromAHundredAndOneGames) {
  const struct {
    int Games;
    bool Rebuilds;
  } cases[] = {{150, true}, {101, true}, {100, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Games);
    std::ofstream(Scratch.Path("games.pgn")) << ShortGames(c.Games);
    Sink = CountingSink();
    GamesDatabase db(Sink);
    ASSERT_FALSE(db.Create(Base(), true, true));
    ASSERT_FALSE(db.ImportPgn(Scratch.Path("games.pgn").c_str()));
    EXPECT_EQ(db.GameCount, static_cast<std::uint32_t>(c.Games)) << Sink.Text;
    EXPECT_EQ(Sink.Text.find(Messages.Text(19)) != std::string::npos, c.Rebuilds) << Sink.Text;
    IndexFile positions;
    ASSERT_FALSE(positions.Open((Base() + ".fpi").c_str(), false));
    // 100 x 150 positions planned: 7 buckets rounded up to 8; else one.
    EXPECT_EQ(positions.BucketCount, c.Rebuilds ? (c.Games * 100 / 2048 <= 4 ? 4u : 8u) : 1u);
    positions.Close();
    std::uint8_t flags;
    auto last = db.LoadGame(db.GameCount, flags);
    ASSERT_TRUE(last);
    EXPECT_EQ(TagValue(last->Tags, TagEvent), std::string("g").append(std::to_string(c.Games)));
  }
}

// The rebuild before an import sizes the position index; when it fails, the
// import fails with it and leaves the set as it was, rather than filling an
// index of one bucket and answering success.
TEST_F(GamesDatabaseTest, AFailedRebuildBeforeAnImportFailsTheImport) {
  MakeSet(true, true);
  std::ofstream(Scratch.Path("games.pgn")) << ShortGames(150);
  // A file where the rebuild makes its directory.
  const std::string blocker = Base("db.rebuild-" + std::to_string(ProcessId()) + "-0");
  std::ofstream(blocker) << "x";
  const auto before = SetBytes();
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Open(Base(), true));
  EXPECT_TRUE(db.ImportPgn(Scratch.Path("games.pgn").c_str()));
  EXPECT_FALSE(Sink.Errors.empty()) << Sink.Text;
  EXPECT_NE(Sink.Text.find(Messages.Text(30)), std::string::npos) << Sink.Text;
  EXPECT_EQ(Sink.Text.find(Messages.Text(AddedInTotalMessage)), std::string::npos) << Sink.Text;
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(db.GameCount, 5u);
  db.Close();
  EXPECT_EQ(SetBytes(), before);

  // The same import goes through once the rebuild can work.
  fs::remove(blocker);
  Sink = CountingSink();
  ASSERT_FALSE(db.Open(Base(), true));
  ASSERT_FALSE(db.ImportPgn(Scratch.Path("games.pgn").c_str())) << Sink.Text;
  EXPECT_EQ(db.GameCount, 155u);
  EXPECT_TRUE(Sink.Errors.empty()) << Sink.Text;
}

// The import counts its games to size the index before it reads them: in
// every line-end form, 101 games make it rebuild first, and every game is
// stored.
TEST_F(GamesDatabaseTest, AnImportReadsLfCrLfAndLoneCrFilesAlike) {
  for (const char* lineEnd : {"\n", "\r\n", "\r"}) {
    SCOPED_TRACE(lineEnd[0] == '\n' ? "LF" : lineEnd[1] ? "CRLF" : "CR");
    std::string text;
    for (char c : ShortGames(101)) {
      if (c == '\n')
        text += lineEnd;
      else
        text += c;
    }
    std::ofstream(Scratch.Path("games.pgn"), std::ios::binary) << text;
    Sink = CountingSink();
    GamesDatabase db(Sink);
    ASSERT_FALSE(db.Create(Base(), true, true));
    ASSERT_FALSE(db.ImportPgn(Scratch.Path("games.pgn").c_str())) << Sink.Text;
    EXPECT_EQ(db.GameCount, 101u);
    EXPECT_NE(Sink.Text.find("101 " + std::string(Messages.Text(1))), std::string::npos) << Sink.Text;
    EXPECT_NE(Sink.Text.find(Messages.Text(19)), std::string::npos) << Sink.Text;
    std::uint8_t flags;
    auto last = db.LoadGame(101, flags);
    ASSERT_TRUE(last);
    EXPECT_EQ(TagValue(last->Tags, TagEvent), "g101");
  }
}

// More games than one commit takes: the batches follow each other, each
// game keeps its number, and every one is indexed.
TEST_F(GamesDatabaseTest, ALargeImportCommitsInBatchesAndIndexesEveryGame) {
  constexpr int Games = 20500;
  std::ofstream(Scratch.Path("games.pgn")) << ShortGames(Games);
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Create(Base(), true, true));
  ASSERT_FALSE(db.AddGame(*MakeGame(Openings[0])));
  ASSERT_FALSE(db.ImportPgn(Scratch.Path("games.pgn").c_str()));
  ASSERT_EQ(db.GameCount, Games + 1u);
  EXPECT_EQ(db.PlayerCount, 2 * (Games + 1u));
  std::uint8_t flags;
  for (std::uint32_t g : {2u, 20001u, 20002u, Games + 1u}) {
    auto game = db.LoadGame(g, flags);
    ASSERT_TRUE(game) << g;
    EXPECT_EQ(TagValue(game->Tags, TagEvent), std::string("g").append(std::to_string(g - 1)));
  }
  // 1. a3 a6 2. Nf3 opens every 200th game from the second on.
  const std::string fen = EndFen("a3 a6 Nf3");
  const auto found = Matches(db, fen.c_str());
  ASSERT_EQ(found.size(), (Games + 199u) / 200);
  for (std::size_t i = 0; i < found.size(); i++) EXPECT_EQ(found[i], 2 + 200 * i);
  db.Close();
  fs::remove(Base() + ".fpi");
  ASSERT_FALSE(db.Open(Base(), false));
  EXPECT_EQ(Matches(db, fen.c_str()), found);
}

TEST_F(GamesDatabaseTest, ImportSkipsABadGameWithItsLineAndKeepsTheRest) {
  std::ofstream(Scratch.Path("games.pgn")) << ShortGames(5, 2);
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Create(Base(), true, true));
  ASSERT_FALSE(db.ImportPgn(Scratch.Path("games.pgn").c_str()));
  EXPECT_EQ(db.GameCount, 4u);
  ASSERT_EQ(Sink.Warnings.size(), 1u) << Sink.Text;
  EXPECT_TRUE(Sink.Errors.empty()) << Sink.Text;
  EXPECT_EQ(Sink.Warnings[0], 9);
  EXPECT_EQ(Sink.Lines[0], 2 * 4 + 3) << Sink.Text;
  std::uint8_t flags;
  auto third = db.LoadGame(3, flags);
  ASSERT_TRUE(third);
  EXPECT_EQ(TagValue(third->Tags, TagEvent), "g4");
}

TEST_F(GamesDatabaseTest, APgnFileThatCannotBeOpenedLeavesTheSetUnchanged) {
  MakeSet(true, true);
  const auto before = SetBytes();
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Open(Base(), true));
  EXPECT_TRUE(db.ImportPgn(Scratch.Path("missing.pgn").c_str()));
  ASSERT_EQ(Sink.Errors.size(), 1u);
  EXPECT_EQ(Sink.Errors[0], 43);
  EXPECT_NE(Sink.Text.find("missing.pgn"), std::string::npos);
  EXPECT_TRUE(db.ImportPgn(nullptr));
  db.Close();
  EXPECT_EQ(SetBytes(), before);
}

// Records of the older move encoding are read by their own rule, kept so by
// appends, and re-encoded by a rebuild only.
TEST_F(GamesDatabaseTest, OlderRecordsAreReadByTheirRuleAndRebuiltIntoTheCurrentOne) {
  GamesDatabase db(Sink);
  ASSERT_FALSE(db.Create(Base(), true, false));
  db.Close();
  auto records = Scratch.ReadBytes("db.fgf");
  PutU32At(records, 0, 0);
  Scratch.WriteBytes("db.fgf", records);
  ASSERT_FALSE(db.Open(Base(), true));
  EXPECT_EQ(db.RecordsFileVersion, 0u);
  EXPECT_NE(Sink.Text.find("WARNING: gamesfile is using an older format. Rebuild the database to correct this\n"),
            std::string::npos);
  // White's bishop takes the rook on a8: the older rule keeps Black's a-side
  // right, the current one ends it.
  const std::string moves = "g3 h5 Bg2 h4 Bxb7 h3 Bxa8 e5 Bf3 Be7";
  ASSERT_FALSE(db.AddGame(*MakeGame(Openings[0])));
  ASSERT_FALSE(db.AddGame(*MakeGame(moves)));
  std::uint8_t flags;
  auto second = db.LoadGame(2, flags);
  ASSERT_TRUE(second);
  const std::string text = GameText(*MakeGame(moves));
  EXPECT_EQ(GameText(*second), text);
  ASSERT_FALSE(db.Rebuild(0));
  EXPECT_EQ(db.RecordsFileVersion, 1u);
  second = db.LoadGame(2, flags);
  ASSERT_TRUE(second);
  EXPECT_EQ(GameText(*second), text);
  EXPECT_EQ(Matches(db, EndFen(moves).c_str()), std::vector<std::uint32_t>{2});
  EXPECT_EQ(Matches(db, EndFen(Openings[0]).c_str()), std::vector<std::uint32_t>{1});
}

}  // namespace
