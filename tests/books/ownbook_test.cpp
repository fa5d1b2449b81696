// The own book: the settings file's and the position file's bytes, every
// version and damaged file it meets, the moves and their edits, the
// parameters, the maintenance that rewrites the files, and the statistics
// gathered from games databases.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "books/own/bookquelm.h"
#include "games/gameboard.h"
#include "games/gamerecord.h"
#include "games/gamesdb.h"
#include "games/tags.h"
#include "support/indexfile.h"
#include "support/messages.h"
#include "support/scratch_directory.h"

namespace {

using Bytes = std::vector<unsigned char>;

GameMove MoveOf(const char* text) {
  GameMove move;
  move.FromText(text);
  return move;
}

std::uint32_t U32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}

class OwnBookTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Scratch.Ready());
    LoadMessagesFile(QUELM_DATA_DIR "/english");
  }
  std::string Path(const std::string& name) const { return Scratch.Path(name); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }
  // A new book "book" with the given moves of the start position.
  void MakeBook(const std::string& name = "book") {
    BookQuelm book;
    ASSERT_FALSE(book.Create(Path(name).c_str())) << book.Header.ErrorText;
    book.Close();
  }
  // The version 5 image of a book with default settings and the names given.
  static Bytes DefaultImage(const char* posName) {
    Bytes image(180, 0);
    image[0] = 5;
    std::memcpy(&image[110], posName, std::strlen(posName));
    image[160] = 50;
    image[161] = 100;
    image[162] = 50;
    image[166] = 5;
    image[170] = 50;
    image[171] = 3;
    image[172] = 50;
    image[173] = 45;
    image[174] = 20;
    image[177] = 32;
    image[178] = 90;
    return image;
  }

  ScratchDirectory Scratch;
  GameBoard Start;
};

// The files a new book makes, byte for byte.
TEST_F(OwnBookTest, CreateWritesTheSettingsAndPositionHeaders) {
  MakeBook();
  EXPECT_EQ(Scratch.ReadBytes("book.bdf"), DefaultImage("book"));
  Bytes header(20, 0);
  header[0] = 4;
  EXPECT_EQ(Scratch.ReadBytes("book.bpf"), header);
  EXPECT_TRUE(Exists("book.bpi"));
  // A second Create changes nothing and says why.
  BookQuelm again;
  EXPECT_TRUE(again.Create(Path("book").c_str()));
  EXPECT_STREQ(again.Header.ErrorText, Messages.Text(2002));
  EXPECT_EQ(Scratch.ReadBytes("book.bdf"), DefaultImage("book"));
}

// Any directory will do, and the stored name never holds it; a name that the
// 40-character field cannot hold is refused rather than cut.
TEST_F(OwnBookTest, CreateInDeepDirectoriesAndRefusesLongNames) {
  std::filesystem::create_directories(Path("deep/er/dir"));
  BookQuelm book;
  ASSERT_FALSE(book.Create(Path("deep/er/dir/b").c_str())) << book.Header.ErrorText;
  EXPECT_STREQ(book.Header.PosName, "b");
  book.Close();
  ASSERT_FALSE(book.Open(Path("deep/er/dir/b").c_str(), false));
  book.Close();
  const std::string longName(41, 'x');
  EXPECT_TRUE(book.Create(Path(longName).c_str()));
  EXPECT_FALSE(Exists(longName + ".bdf"));
  // Only the 40 characters of the book's own name are stored: the directory
  // it lives in may be as long as the system allows.
  const std::string directory = Path(std::string(100, 'd') + "/" + std::string(100, 'e'));
  std::filesystem::create_directories(directory);
  const std::string deep = directory + "/" + std::string(40, 'b');
  ASSERT_FALSE(book.Create(deep.c_str())) << book.Header.ErrorText;
  book.Close();
  EXPECT_TRUE(std::filesystem::exists(deep + ".bdf"));
  EXPECT_TRUE(std::filesystem::exists(deep + ".bpf"));
  ASSERT_FALSE(book.Open(deep.c_str(), true)) << book.Header.ErrorText;
  EXPECT_EQ(book.Header.PosName, std::string(40, 'b'));
  book.Close();
}

// A record's bytes in version 4: every field at its offset, figures too large
// for their fields kept at the largest value they can hold.
TEST_F(OwnBookTest, RecordBytesAndSaturation) {
  MakeBook();
  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), true));
  BookQuelmEntry entry;
  entry.Set(Start, MoveOf("e7e8q"));
  entry.Key = 0x1122334455667788ull;
  ASSERT_FALSE(entry.SetDB(1000, 7, 8, 9));
  entry.OwnGames = 20000000;  // past 24 bits
  entry.OwnWins = 3;
  entry.OwnDraws = 4;
  entry.OwnLosses = 5;
  entry.Manual = -100;
  entry.SetMinimax(12, 199000);    // a mate score
  entry.SetMinimax2(300, -199000);
  ASSERT_FALSE(book.UpdateMove(Start, entry));
  const Bytes file = Scratch.ReadBytes("book.bpf");
  ASSERT_EQ(file.size(), 20u + 46u);
  EXPECT_EQ(U32(file, 2), 1u);
  const Bytes record(file.begin() + 20, file.end());
  const Bytes expected = {255, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,  // marker, key
                          0xE8, 0x03, 0, 0,                                      // database games 1000
                          0xFF, 0xFF, 0xFF,                                      // own games saturated
                          0x0C, 0x71,                                            // e7 (12) | e8 (4) << 6 | queen 7 << 12
                          7, 0, 0, 0, 8, 0, 0, 0, 9, 0, 0, 0,                    // database results
                          3, 0, 0, 4, 0, 0, 5, 0, 0,                             // own results
                          0x9C,                                                  // manual -100
                          12, 0xFF, 0x7F,                                        // depth 12, score 32767
                          127, 0x00, 0x80};                                      // depth 127, score -32768
  EXPECT_EQ(record, expected);
  BinFile64 scratch;
  ASSERT_FALSE(scratch.Create(Path("record").c_str(), BinFileBinary | BinFileUpdate));
  ASSERT_FALSE(entry.SavePosition(scratch, 4));
  EXPECT_TRUE(entry.Saturated);
  entry.OwnGames = 5;
  entry.SetMinimax(12, 100);
  entry.SetMinimax2(0, 0);
  ASSERT_FALSE(entry.SavePosition(scratch, 4));
  EXPECT_FALSE(entry.Saturated);
  EXPECT_EQ(book.Header.NrMoves, 1);
}

TEST_F(OwnBookTest, SetDBRefusesMoreResultsThanGamesAndNegatives) {
  BookQuelmEntry entry;
  entry.Set(Start, MoveOf("e2e4"));
  EXPECT_TRUE(entry.SetDB(10, 5, 3, 3));
  EXPECT_EQ(entry.DBGames, 0);
  EXPECT_FALSE(entry.SetDB(10, 5, 3, 2));
  EXPECT_EQ(entry.DBLosses, 2);
  // Summed in 32 bits these wrap to a small figure.
  EXPECT_TRUE(entry.SetOwn(10, 0x7FFFFFFF, 0x7FFFFFFF, 4));
  EXPECT_TRUE(entry.SetOwn(10, -5, 1, 1));
  EXPECT_EQ(entry.OwnGames, 0);
}

// A version 3 file: 40-byte records, no minimax, read with a warning; new
// records keep the 40-byte form.
TEST_F(OwnBookTest, VersionThreePositionFile) {
  MakeBook();
  {
    BookQuelm book;
    ASSERT_FALSE(book.Open(Path("book").c_str(), true));
    ASSERT_FALSE(book.InsertMove(Start, MoveOf("e2e4")));
  }
  // Turn the file into version 3: the same record without its last six bytes.
  Bytes file = Scratch.ReadBytes("book.bpf");
  file[0] = 3;
  file.resize(20 + 40);
  Scratch.WriteBytes("book.bpf", file);
  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), true)) << book.Positions.ErrorText;
  EXPECT_EQ(book.Positions.Version, 3);
  BookPosition* position = book.GetBookPosition(Start);
  ASSERT_NE(position, nullptr);
  ASSERT_EQ(position->Count, 1);
  EXPECT_EQ(position->Entries[0]->GetMinimaxDepth(), 0);
  position->Release();
  ASSERT_FALSE(book.InsertMove(Start, MoveOf("d2d4")));
  EXPECT_EQ(Scratch.ReadBytes("book.bpf").size(), 20u + 2 * 40u);
  EXPECT_TRUE(book.HasMove(Start, MoveOf("d2d4")));
}

// Two positions whose keys share the stored high half and the bucket bits
// share index entries; only the record's full key tells them apart.
TEST_F(OwnBookTest, KeysSharingTheStoredHalfAndBucket) {
  MakeBook();
  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), true));
  const std::uint64_t a = 0xABCDEF0100001234ull, b = 0xABCDEF0177771234ull;
  for (auto [key, text] : {std::pair{a, "e2e4"}, std::pair{b, "d2d4"}, std::pair{a, "c2c4"}}) {
    BookQuelmEntry entry;
    entry.Set(key, MoveOf(text));
    ASSERT_FALSE(book.UpdateMove(Start, entry));
  }
  for (auto [key, count] : {std::pair{a, 2}, std::pair{b, 1}}) {
    ASSERT_FALSE(book.Positions.FindStart(key));
    int found = 0;
    while (BookQuelmEntry* entry = book.Positions.ReadEntries()) {
      EXPECT_EQ(entry->Key, key);
      found++;
      BookQuelmEntry::Free(entry);
    }
    EXPECT_EQ(found, count);
  }
  EXPECT_TRUE(book.Positions.FindRecord(b, MoveOf("e2e4")));
}

// Settings files of every version and damaged ones: versions 0-4 upgrade
// when writable and open read-only with defaults; unknown versions and cut
// files are refused; nothing refused is changed on disk.
TEST_F(OwnBookTest, SettingsFileVersionsAndDamage) {
  MakeBook();
  const Bytes current = Scratch.ReadBytes("book.bdf");
  struct Case {
    int Version;
    std::size_t Length;
    int Message;  // 0: opens
  };
  const Case cases[] = {
      {0, 160, 0}, {1, 160, 0}, {2, 175, 0}, {3, 176, 0}, {4, 180, 0},
      {6, 180, 2006}, {255, 180, 2006}, {128, 180, 2006},
  };
  for (const Case& c : cases) {
    Bytes image = current;
    image.resize(c.Length);
    image[0] = static_cast<unsigned char>(c.Version);
    image[160] = 77;  // WeightDB: kept from version 2 on
    Scratch.WriteBytes("book.bdf", image);
    BookQuelm readOnly;
    const bool failed = readOnly.Open(Path("book").c_str(), false);
    EXPECT_EQ(failed, c.Message != 0) << c.Version;
    if (c.Message) {
      EXPECT_STREQ(readOnly.Header.ErrorText, Messages.Text(c.Message)) << c.Version;
    }
    if (!failed) {
      EXPECT_EQ(readOnly.GetWeightDB(), c.Version >= 2 ? 77 : 50) << c.Version;
      EXPECT_EQ(readOnly.GetMMdepth(), 32) << c.Version;
    }
    readOnly.Close();
    EXPECT_EQ(Scratch.ReadBytes("book.bdf"), image) << "read-only open wrote, version " << c.Version;
    BookQuelm writable;
    EXPECT_EQ(writable.Open(Path("book").c_str(), true), c.Message != 0) << c.Version;
    writable.Close();
    const Bytes after = Scratch.ReadBytes("book.bdf");
    if (c.Message) {
      EXPECT_EQ(after, image) << c.Version;
    } else {
      ASSERT_GE(after.size(), 180u);
      EXPECT_EQ(after[0], 5) << c.Version;
      EXPECT_EQ(after[160], c.Version >= 2 ? 77 : 50) << c.Version;
      EXPECT_EQ(after[177], 32);
      EXPECT_EQ(after[178], 90);
      EXPECT_EQ(after[179], 0);
    }
  }
  // Cut inside each field of a version 5 file: the field is named.
  const std::pair<std::size_t, const char*> cuts[] = {
      {0, "Version"}, {10, "DBname"}, {60, "Ownname"}, {110, "Posname"}, {155, "NrPos"}, {159, "NrMoves"},
      {160, "WeightDB"}, {161, "WeightNag"}, {165, "MinDB"}, {169, "MinOwn"}, {170, "Draw"}, {171, "Popular"},
      {172, "WhiteMinScore"}, {173, "BlackMinScore"}, {174, "Random"}, {175, "OnlyManual"}, {177, "MMDepth"},
      {178, "MMWeight"}, {179, "Sidelines"},
  };
  for (auto [length, field] : cuts) {
    Bytes image = current;
    image.resize(length);
    Scratch.WriteBytes("book.bdf", image);
    BookQuelm book;
    EXPECT_TRUE(book.Open(Path("book").c_str(), true)) << field;
    char expected[BookTextSize];
    std::snprintf(expected, sizeof expected, Messages.Text(2000), field);
    EXPECT_STREQ(book.Header.ErrorText, expected);
    book.Close();
    EXPECT_EQ(Scratch.ReadBytes("book.bdf"), image) << field;
    EXPECT_FALSE(book.open);
  }
}

// No version of the settings file is longer than a version 4 file with a
// check name of 40 characters: anything longer is refused before it is read,
// however large (a sparse gigabyte), and is left as it was.
TEST_F(OwnBookTest, SettingsFileLargerThanAnyVersionIsRefusedUnread) {
  MakeBook();
  const Bytes current = Scratch.ReadBytes("book.bdf");
  const std::uintmax_t sizes[] = {180, 217, 218, std::uintmax_t{1} << 30};
  for (std::uintmax_t size : sizes) {
    Scratch.WriteBytes("book.bdf", current);
    std::filesystem::resize_file(Path("book.bdf"), size);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (bool writable : {false, true}) {
      BookQuelm book;
      const bool refused = size > 217;
      EXPECT_EQ(book.Open(Path("book").c_str(), writable), refused) << size;
      if (refused) {
        EXPECT_STREQ(book.Header.ErrorText, Messages.Text(2007)) << size;
      }
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    // Peak memory in KiB: a file read whole would add its size.
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << size;
    EXPECT_EQ(std::filesystem::file_size(Path("book.bdf")), size);
  }
  std::ifstream file(Path("book.bdf"), std::ios::binary);
  Bytes head(current.size());
  file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  EXPECT_EQ(head, current);
}

// The check name shares bytes 177-179 with three parameters: opening a book
// named "book" writable, again and again, must leave them alone.
TEST_F(OwnBookTest, RepeatedWritableOpensKeepTheParameters) {
  MakeBook();
  for (int i = 0; i < 3; i++) {
    BookQuelm book;
    ASSERT_FALSE(book.Open(Path("book").c_str(), true));
    book.Close();
  }
  EXPECT_EQ(Scratch.ReadBytes("book.bdf"), DefaultImage("book"));
  // A version 4 file's check name is read, and the upgrade keeps the
  // parameters in the bytes that held it.
  Bytes image = DefaultImage("book");
  image[0] = 4;
  std::memcpy(&image[176], "chk", 4);
  Scratch.WriteBytes("book.bdf", image);
  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), true));
  EXPECT_STREQ(book.Header.CheckName, "chk");
  EXPECT_EQ(book.GetMMdepth(), 32);
  book.Close();
  Bytes upgraded = DefaultImage("book");
  upgraded[176] = 'c';  // no field of the current format owns this byte
  EXPECT_EQ(Scratch.ReadBytes("book.bdf"), upgraded);
}

TEST_F(OwnBookTest, ParameterRangesAndTheirBytes) {
  MakeBook();
  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), true));
  struct Case {
    bool (BookQuelm::*Set)(std::int32_t);
    std::int32_t Value;
    bool Refused;
    std::size_t Offset;
  };
  const Case cases[] = {
      {&BookQuelm::SetWeightDB, 101, true, 160},   {&BookQuelm::SetWeightDB, -1, true, 160},
      {&BookQuelm::SetWeightDB, 0, false, 160},    {&BookQuelm::SetWeightNag, 100, false, 161},
      {&BookQuelm::SetMinDB, 0, true, 162},        {&BookQuelm::SetMinDB, 100000, false, 162},
      {&BookQuelm::SetMinOwn, -3, true, 166},      {&BookQuelm::SetDraw, 0, true, 170},
      {&BookQuelm::SetPopular, 101, true, 171},    {&BookQuelm::SetWhiteMinscore, 60, false, 172},
      {&BookQuelm::SetBlackMinscore, 0, true, 173}, {&BookQuelm::SetRandomness, 100, false, 174},
      {&BookQuelm::SetMMdepth, 9, true, 177},      {&BookQuelm::SetMMdepth, 10, false, 177},
      {&BookQuelm::SetMMweight, 101, true, 178},   {&BookQuelm::SetSidelines, 101, true, 179},
      {&BookQuelm::SetSidelines, 255, true, 179},  {&BookQuelm::SetSidelines, 40, false, 179},
  };
  for (const Case& c : cases) {
    const Bytes before = Scratch.ReadBytes("book.bdf");
    EXPECT_EQ((book.*c.Set)(c.Value), c.Refused) << c.Offset << " " << c.Value;
    const Bytes after = Scratch.ReadBytes("book.bdf");
    if (c.Refused) {
      EXPECT_EQ(after, before);
      EXPECT_NE(std::string(book.Header.ErrorText).find(std::to_string(c.Value)), std::string::npos);
    } else {
      EXPECT_EQ(c.Offset == 162 ? U32(after, 162) : after[c.Offset], static_cast<std::uint32_t>(c.Value));
    }
  }
  EXPECT_FALSE(book.SetManual(true));
  EXPECT_EQ(Scratch.ReadBytes("book.bdf")[175], 1);
  // A read-only book refuses every change.
  book.Close();
  ASSERT_FALSE(book.Open(Path("book").c_str(), false));
  const Bytes before = Scratch.ReadBytes("book.bdf");
  EXPECT_TRUE(book.SetWeightDB(10));
  EXPECT_STREQ(book.Header.ErrorText, Messages.Text(2010));
  EXPECT_TRUE(book.InsertMove(Start, MoveOf("e2e4")));
  EXPECT_EQ(Scratch.ReadBytes("book.bdf"), before);
}

// A settings file holds what any program may have written there: each value
// read is brought into the range its setter accepts, so that no minimum of
// zero games reaches the move choice as a divisor and no count wraps.
TEST_F(OwnBookTest, SettingsReadKeepTheRangesOfTheirSetters) {
  MakeBook();
  struct Case {
    std::size_t Offset;
    int Width;
    std::uint32_t Stored;
    std::int32_t (BookQuelm::*Get)();
    std::int32_t Read;
  };
  const Case cases[] = {
      {162, 4, 0, &BookQuelm::GetMinDB, 1},           {162, 4, 0xFFFFFFFF, &BookQuelm::GetMinDB, 1},
      {162, 4, 0x7FFFFFFF, &BookQuelm::GetMinDB, 0x7FFFFFFF},
      {166, 4, 0, &BookQuelm::GetMinOwn, 1},          {166, 4, 0x80000000, &BookQuelm::GetMinOwn, 1},
      {160, 1, 0x80, &BookQuelm::GetWeightDB, 0},     {160, 1, 127, &BookQuelm::GetWeightDB, 100},
      {161, 1, 0xC8, &BookQuelm::GetWeightNag, 0},    {170, 1, 0, &BookQuelm::GetDraw, 1},
      {171, 1, 0, &BookQuelm::GetPopular, 1},         {172, 1, 127, &BookQuelm::GetWhiteMinscore, 100},
      {173, 1, 0, &BookQuelm::GetBlackMinscore, 1},   {174, 1, 0xFF, &BookQuelm::GetRandomness, 0},
      {177, 1, 5, &BookQuelm::GetMMdepth, 10},        {177, 1, 127, &BookQuelm::GetMMdepth, 100},
      {178, 1, 127, &BookQuelm::GetMMweight, 100},    {179, 1, 0xC8, &BookQuelm::GetSidelines, 0},
  };
  const Bytes good = Scratch.ReadBytes("book.bdf");
  for (const Case& c : cases) {
    Bytes file = good;
    for (int i = 0; i < c.Width; i++) file[c.Offset + i] = static_cast<unsigned char>(c.Stored >> (8 * i));
    Scratch.WriteBytes("book.bdf", file);
    for (bool writable : {false, true}) {
      BookQuelm book;
      ASSERT_FALSE(book.Open(Path("book").c_str(), writable)) << c.Offset;
      EXPECT_EQ((book.*c.Get)(), c.Read) << c.Offset << " " << c.Stored;
    }
    EXPECT_EQ(Scratch.ReadBytes("book.bdf"), file) << c.Offset;
  }
  // The move count: a negative one reads as none, and the largest one stays
  // the largest when a move is added.
  Bytes file = good;
  for (int i = 0; i < 4; i++) file[156 + i] = 0xFF;
  Scratch.WriteBytes("book.bdf", file);
  {
    BookQuelm book;
    ASSERT_FALSE(book.Open(Path("book").c_str(), false));
    EXPECT_EQ(book.Header.NrMoves, 0);
  }
  file[159] = 0x7F;
  Scratch.WriteBytes("book.bdf", file);
  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), true));
  ASSERT_FALSE(book.InsertMove(Start, MoveOf("e2e4")));
  EXPECT_EQ(book.Header.NrMoves, 0x7FFFFFFF);
  EXPECT_EQ(U32(Scratch.ReadBytes("book.bdf"), 156), 0x7FFFFFFFu);
}

// A record's counts of 2^31 and more, with a settings file asking for no
// games: the move is still chosen by its figures, and the counts read as the
// largest a record keeps in memory.
TEST_F(OwnBookTest, HugeRecordCountsWithNoMinimumStillChooseTheMove) {
  MakeBook();
  {
    BookQuelm book;
    ASSERT_FALSE(book.Open(Path("book").c_str(), true));
    ASSERT_FALSE(book.InsertMove(Start, MoveOf("e2e4")));
  }
  Bytes settings = Scratch.ReadBytes("book.bdf");
  for (std::size_t at : {162u, 163u, 164u, 165u, 166u, 167u, 168u, 169u}) settings[at] = 0;  // MinDB, MinOwn
  Scratch.WriteBytes("book.bdf", settings);
  Bytes records = Scratch.ReadBytes("book.bpf");
  // Database games, wins, draws and losses of record 1.
  for (std::size_t field : {9u, 18u, 22u, 26u})
    for (int i = 0; i < 4; i++) records[20 + field + i] = field == 18 && i < 3 ? 0 : 0xFF;
  records[20 + 18 + 3] = 0x80;  // wins 2^31
  Scratch.WriteBytes("book.bpf", records);

  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), false));
  BookPosition* position = book.GetBookPosition(Start);
  ASSERT_NE(position, nullptr);
  ASSERT_EQ(position->Count, 1);
  const BookEntry& entry = *position->Entries[0];
  EXPECT_EQ(entry.GetDBGames(), 0x7FFFFFFF);
  EXPECT_EQ(entry.GetDBWins(), 0x7FFFFFFF);
  EXPECT_EQ(entry.GetDBDraws(), 0x7FFFFFFF);
  EXPECT_EQ(entry.GetDBLosses(), 0x7FFFFFFF);
  position->Release();
  // Wins and draws alike give 50 percent, at full confidence: 50, the
  // white minimum score of the defaults.
  const GameMove chosen = book.SelectMove(Start);
  EXPECT_TRUE(chosen.Valid);
  EXPECT_EQ(chosen.From, MoveOf("e2e4").From);
  EXPECT_EQ(chosen.To, MoveOf("e2e4").To);
  EXPECT_EQ(Scratch.ReadBytes("book.bpf"), records);
  EXPECT_EQ(Scratch.ReadBytes("book.bdf"), settings);
}

// Deleting leaves a free record that the next new move of the position takes;
// a move that is not there is not "found" in that free record.
TEST_F(OwnBookTest, DeleteInsertAndTheFreeRecord) {
  MakeBook();
  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), true));
  ASSERT_FALSE(book.InsertMove(Start, MoveOf("e2e4")));
  ASSERT_FALSE(book.InsertMove(Start, MoveOf("d2d4")));
  ASSERT_FALSE(book.InsertMove(Start, MoveOf("d2d4")));  // already there
  EXPECT_EQ(book.Header.NrMoves, 2);
  EXPECT_TRUE(book.DeleteMove(Start, MoveOf("c2c4")));
  ASSERT_FALSE(book.DeleteMove(Start, MoveOf("e2e4")));
  EXPECT_FALSE(book.HasMove(Start, MoveOf("e2e4")));
  EXPECT_TRUE(book.DeleteMove(Start, MoveOf("e2e4")));  // the free record is not the move
  BookPosition* position = book.GetBookPosition(Start);
  ASSERT_NE(position, nullptr);
  ASSERT_EQ(position->Count, 1);
  EXPECT_TRUE(position->Entries[0]->GetMove()->SameMove(MoveOf("d2d4")));
  position->Release();
  ASSERT_FALSE(book.InsertMove(Start, MoveOf("g1f3")));
  EXPECT_EQ(book.Positions.Count, 2);
  EXPECT_EQ(book.Header.NrMoves, 2);
  EXPECT_TRUE(book.HasMove(Start, MoveOf("g1f3")));
  // Manual scores are clamped, and below -100 a move is hidden.
  ASSERT_FALSE(book.UpdateMoveNag(Start, MoveOf("g1f3"), 250));
  ASSERT_FALSE(book.UpdateMoveNag(Start, MoveOf("d2d4"), -250));
  position = book.GetBookPosition(Start);
  ASSERT_EQ(position->Count, 2);
  for (int i = 0; i < 2; i++)
    EXPECT_EQ(position->Entries[i]->GetManual(), position->Entries[i]->GetMove()->To == 45 ? 100 : -100);
  position->Release();
}

// Records of one position scattered through the file (K X X Z K Z) come out
// grouped in the order positions first appear, and the new index finds all.
TEST_F(OwnBookTest, ReorganiseGroupsEveryPosition) {
  MakeBook();
  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), true));
  const std::uint64_t k = 0x1000000000000001ull, x = 0x2000000000000002ull, z = 0x3000000000000003ull;
  const std::pair<std::uint64_t, const char*> order[] = {{k, "e2e4"}, {x, "e2e4"}, {x, "d2d4"},
                                                          {z, "e2e4"}, {k, "d2d4"}, {z, "d2d4"}};
  for (auto [key, text] : order) {
    BookQuelmEntry entry;
    entry.Set(key, MoveOf(text));
    ASSERT_FALSE(book.UpdateMove(Start, entry));
  }
  ASSERT_FALSE(book.Reorganise()) << book.Positions.ErrorText;
  std::vector<std::uint64_t> keys;
  for (std::uint32_t n = 1; n <= 6; n++) {
    BookQuelmEntry entry;
    ASSERT_FALSE(book.Positions.ReadRecord(n, entry));
    keys.push_back(entry.Key);
  }
  EXPECT_EQ(keys, (std::vector<std::uint64_t>{k, k, x, x, z, z}));
  for (auto [key, text] : order) EXPECT_FALSE(book.Positions.FindRecord(key, MoveOf(text))) << text;
  EXPECT_FALSE(Exists("book.new.bpf"));
  EXPECT_FALSE(Exists("book.reorganised"));
  ASSERT_FALSE(book.RebuildIndex());
  for (auto [key, text] : order) EXPECT_FALSE(book.Positions.FindRecord(key, MoveOf(text))) << text;
}

// Damaged position files are refused without a byte written.
TEST_F(OwnBookTest, DamagedPositionFiles) {
  MakeBook();
  {
    BookQuelm book;
    ASSERT_FALSE(book.Open(Path("book").c_str(), true));
    ASSERT_FALSE(book.InsertMove(Start, MoveOf("e2e4")));
  }
  const Bytes good = Scratch.ReadBytes("book.bpf");
  const Bytes index = Scratch.ReadBytes("book.bpi");
  struct Case {
    const char* What;
    std::size_t Byte;
    unsigned char Value;
    int Message;
  };
  const Case cases[] = {{"version 2", 0, 2, 2048}, {"version 5", 0, 5, 2047}, {"version 128", 0, 128, 2048},
                        {"count past the file", 2, 2, 2039}};
  for (const Case& c : cases) {
    Bytes file = good;
    file[c.Byte] = c.Value;
    Scratch.WriteBytes("book.bpf", file);
    BookQuelm book;
    EXPECT_TRUE(book.Open(Path("book").c_str(), true)) << c.What;
    EXPECT_STREQ(book.Positions.ErrorText, Messages.Text(c.Message)) << c.What;
    book.Close();
    EXPECT_EQ(Scratch.ReadBytes("book.bpf"), file) << c.What;
    EXPECT_EQ(Scratch.ReadBytes("book.bpi"), index) << c.What;
  }
  // A bad marker: the record cannot be read, so the position has no move.
  Bytes file = good;
  file[20] = 0;
  Scratch.WriteBytes("book.bpf", file);
  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), false));
  BookPosition* position = book.GetBookPosition(Start);
  ASSERT_NE(position, nullptr);
  EXPECT_EQ(position->Count, 0);
  position->Release();
  EXPECT_TRUE(book.InsertMove(Start, MoveOf("d2d4")));
  // Index entries above the count belong to no record.
  book.Close();
  Scratch.WriteBytes("book.bpf", good);
  {
    IndexFile raw;
    ASSERT_FALSE(raw.Open(Path("book.bpi").c_str(), true));
    const std::uint64_t key = Start.HashKey();
    ASSERT_FALSE(raw.Add(static_cast<std::uint32_t>(key) & (raw.BucketCount - 1), static_cast<std::uint32_t>(key >> 32), 9));
  }
  ASSERT_FALSE(book.Open(Path("book").c_str(), true));
  position = book.GetBookPosition(Start);
  EXPECT_EQ(position->Count, 1);
  position->Release();
}

// An old book and a missing processed set open read-only without a file made
// or changed; the lock sends a second writer to read-only.
TEST_F(OwnBookTest, ReadOnlyOpensWriteNothing) {
  MakeBook();
  std::filesystem::remove(Path("book.bdd"));
  {
    BookQuelm book;
    ASSERT_FALSE(book.Open(Path("book").c_str(), false));
    EXPECT_FALSE(book.IsProcessed(1));
    EXPECT_TRUE(book.SetProcessed(1));
  }
  EXPECT_FALSE(Exists("book.bdd"));
  BookQuelm first, second;
  ASSERT_FALSE(first.Open(Path("book").c_str(), true));
  EXPECT_TRUE(Exists("book.bdd"));
  ASSERT_FALSE(second.Open(Path("book").c_str(), true));
  EXPECT_EQ(first.writable, 1);
  EXPECT_EQ(second.writable, 0);
  EXPECT_TRUE(second.SetRandomness(5));
  EXPECT_FALSE(first.SetRandomness(5));
  EXPECT_FALSE(first.SetProcessed(7));
  EXPECT_TRUE(first.IsProcessed(7));
  EXPECT_FALSE(first.IsProcessed(8));
  // A book without a position file name gets its own, without a directory.
  first.Close();
  second.Close();
  Bytes image = Scratch.ReadBytes("book.bdf");
  std::memset(&image[110], 0, 41);
  Scratch.WriteBytes("book.bdf", image);
  std::filesystem::remove(Path("book.bpf"));
  std::filesystem::remove(Path("book.bpi"));
  EXPECT_TRUE(second.Open(Path("book").c_str(), false));
  EXPECT_FALSE(Exists("book.bpf"));
  ASSERT_FALSE(first.Open(Path("book").c_str(), true));
  EXPECT_STREQ(first.Header.PosName, "book");
  EXPECT_TRUE(Exists("book.bpf"));
}

// A (key, move) record written twice: finding and updating it must end, and
// the update goes to one of them by its number.
TEST_F(OwnBookTest, DuplicatedRecordsDoNotLoop) {
  MakeBook();
  {
    BookQuelm book;
    ASSERT_FALSE(book.Open(Path("book").c_str(), true));
    ASSERT_FALSE(book.InsertMove(Start, MoveOf("e2e4")));
  }
  Bytes file = Scratch.ReadBytes("book.bpf");
  file.insert(file.end(), file.begin() + 20, file.begin() + 66);
  file[2] = 2;
  Scratch.WriteBytes("book.bpf", file);
  {
    IndexFile raw;
    ASSERT_FALSE(raw.Open(Path("book.bpi").c_str(), true));
    const std::uint64_t key = Start.HashKey();
    ASSERT_FALSE(raw.Add(static_cast<std::uint32_t>(key) & (raw.BucketCount - 1), static_cast<std::uint32_t>(key >> 32), 2));
  }
  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), true));
  ASSERT_FALSE(book.UpdateMoveNag(Start, MoveOf("e2e4"), 42));
  BookPosition* position = book.GetBookPosition(Start);
  ASSERT_EQ(position->Count, 2);
  EXPECT_EQ(position->Entries[0]->GetManual() + position->Entries[1]->GetManual(), 42);
  position->Release();
  EXPECT_EQ(book.Positions.Count, 2);
}

// Companion names are read against the book's directory, whatever
// directory they were written with.
TEST_F(OwnBookTest, CompanionsLiveBesideTheBook) {
  EXPECT_EQ(BookQuelm::DirectoryPart("a/b\\c"), "a/b\\");
  EXPECT_EQ(BookQuelm::DirectoryPart("book"), "");
  std::filesystem::create_directory(Path("sub"));
  BookQuelm book;
  ASSERT_FALSE(book.Create(Path("sub/book").c_str()));
  book.Close();
  ASSERT_FALSE(book.Open(Path("sub/book").c_str(), true));
  EXPECT_EQ(book.Companion(".\\own"), Path("sub/own"));
  EXPECT_EQ(book.Companion("c:\\games\\big"), Path("sub/big"));
  ASSERT_FALSE(book.SetOwnDatabase(".\\own"));
  EXPECT_STREQ(book.Header.OwnName, "own");
  EXPECT_TRUE(Exists("sub/own.fdb"));
  EXPECT_FALSE(Exists("own.fdb"));
}

// Games databases built from PGN text.
class OwnBookStatsTest : public OwnBookTest {
protected:
  void Database(const std::string& name, const std::string& pgn) {
    std::ofstream(Path(name + ".pgn")) << pgn;
    GamesDatabase database;
    ASSERT_FALSE(database.Create(Path(name), true, false));
    ASSERT_FALSE(database.ImportPgn(Path(name + ".pgn").c_str()));
    database.Close();
  }
  static std::string GameText(const char* white, const char* black, const char* result, const char* moves) {
    return std::string("[White \"") + white + "\"]\n[Black \"" + black + "\"]\n[Result \"" + result + "\"]\n\n" +
           moves + " " + result + "\n\n";
  }
  const BookQuelmEntry* Find(BookPosition* position, const char* move) {
    for (int i = 0; i < position->Count; i++)
      if (position->Entries[i]->GetMove()->SameMove(MoveOf(move)))
        return static_cast<const BookQuelmEntry*>(position->Entries[i]);
    return nullptr;
  }
};

TEST_F(OwnBookStatsTest, ResultsFromTheMoversSideAndWatermarks) {
  Database("big", GameText("a", "b", "1-0", "1. e4 e5 2. Nf3") + GameText("a", "b", "0-1", "1. e4 c5 2. Nf3") +
                      GameText("a", "b", "1/2-1/2", "1. e4 e5 2. Nc3") + GameText("a", "b", "1-0", "1. d4 d5 2. c4"));
  Database("own", GameText("Computer", "Opponent", "1-0", "1. e4 e5 2. Nf3") +
                      GameText("Opponent", "Computer", "1-0", "1. e4 e5 2. Nf3") +
                      GameText("Computer", "Opponent", "1/2-1/2", "1. d4 d5 2. c4"));
  MakeBook();
  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), true));
  ASSERT_FALSE(book.SetDatabase("big"));
  ASSERT_FALSE(book.SetOwnDatabase("own"));
  ASSERT_FALSE(book.UpdateStats(Start, 0));
  BookPosition* position = book.GetBookPosition(Start);
  ASSERT_NE(position, nullptr);
  ASSERT_EQ(position->Count, 2);
  const BookQuelmEntry* e4 = Find(position, "e2e4");
  const BookQuelmEntry* d4 = Find(position, "d2d4");
  ASSERT_TRUE(e4 && d4);
  EXPECT_EQ((std::vector<int>{e4->DBWins, e4->DBDraws, e4->DBLosses}), (std::vector<int>{1, 1, 1}));
  EXPECT_EQ((std::vector<int>{d4->DBWins, d4->DBDraws, d4->DBLosses}), (std::vector<int>{1, 0, 0}));
  // Only games where White, to move here, was the engine.
  EXPECT_EQ((std::vector<int>{e4->OwnWins, e4->OwnDraws, e4->OwnLosses}), (std::vector<int>{1, 0, 0}));
  EXPECT_EQ((std::vector<int>{d4->OwnWins, d4->OwnDraws, d4->OwnLosses}), (std::vector<int>{0, 1, 0}));
  position->Release();
  // Black's view after 1. e4: e5 lost once, drew once; c5 won.
  GameBoard afterE4;
  GameMove record;
  ASSERT_GT(afterE4.PlayMove(MoveOf("e2e4"), record), 0);
  ASSERT_FALSE(book.UpdateStats(afterE4, 0));
  position = book.GetBookPosition(afterE4);
  const BookQuelmEntry* e5 = Find(position, "e7e5");
  const BookQuelmEntry* c5 = Find(position, "c7c5");
  ASSERT_TRUE(e5 && c5);
  EXPECT_EQ((std::vector<int>{e5->DBWins, e5->DBDraws, e5->DBLosses}), (std::vector<int>{0, 1, 1}));
  EXPECT_EQ((std::vector<int>{c5->DBWins, c5->DBDraws, c5->DBLosses}), (std::vector<int>{1, 0, 0}));
  // Black was the engine in one own game: it lost with e5.
  EXPECT_EQ((std::vector<int>{e5->OwnWins, e5->OwnDraws, e5->OwnLosses}), (std::vector<int>{0, 0, 1}));
  position->Release();
  // Nothing new: nothing written.
  const Bytes before = Scratch.ReadBytes("book.bpf");
  ASSERT_FALSE(book.UpdateStats(Start, 0));
  EXPECT_EQ(Scratch.ReadBytes("book.bpf"), before);
  // Recalculating gives the same figures.
  ASSERT_FALSE(book.RecalcStats(Start));
  position = book.GetBookPosition(Start);
  e4 = Find(position, "e2e4");
  ASSERT_TRUE(e4);
  EXPECT_EQ((std::vector<int>{e4->DBWins, e4->DBDraws, e4->DBLosses}), (std::vector<int>{1, 1, 1}));
  position->Release();
  // A position no game continues holds the counts in a free record only.
  GameBoard nowhere;
  ASSERT_FALSE(nowhere.SetFen("8/8/8/8/8/8/8/K6k w - - 0 1"));
  ASSERT_FALSE(book.UpdateStats(nowhere, 0));
  position = book.GetBookPosition(nowhere);
  EXPECT_EQ(position->Count, 0);
  position->Release();
  std::vector<std::uint32_t> records;
  ASSERT_FALSE(book.Positions.RecordsOf(nowhere.HashKey(), records));
  ASSERT_EQ(records.size(), 1u);
  BookQuelmEntry free;
  ASSERT_FALSE(book.Positions.ReadRecord(records[0], free));
  EXPECT_TRUE(free.IsFreeRecord());
  EXPECT_EQ(free.DBGames, 4);
  EXPECT_EQ(free.OwnGames, 3);
}

// A limit stops each pass; the next update goes on where it stopped, and
// hidden moves keep their manual score.
TEST_F(OwnBookStatsTest, LimitedPassesGoOnAndHiddenMovesSurvive) {
  std::string pgn;
  for (int i = 0; i < 5; i++) pgn += GameText("a", "b", "1-0", "1. e4 e5 2. Nf3");
  Database("big", pgn);
  MakeBook();
  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), true));
  ASSERT_FALSE(book.SetDatabase("big"));
  BookQuelmEntry hidden;
  hidden.Set(Start, MoveOf("e2e4"));
  hidden.Manual = -120;
  ASSERT_FALSE(book.UpdateMove(Start, hidden));
  ASSERT_FALSE(book.UpdateStats(Start, 2));
  BookQuelmEntry entry;
  ASSERT_FALSE(book.Positions.ReadRecord(1, entry));
  EXPECT_EQ(entry.DBWins, 2);
  EXPECT_EQ(entry.DBGames, 2);
  EXPECT_EQ(entry.Manual, -120);
  ASSERT_FALSE(book.UpdateStats(Start, 0));
  ASSERT_FALSE(book.Positions.ReadRecord(1, entry));
  EXPECT_EQ(entry.DBWins, 5);
  EXPECT_EQ(entry.DBGames, 5);
  EXPECT_EQ(entry.Manual, -120);
  EXPECT_EQ(book.Positions.Count, 1);
}

TEST_F(OwnBookStatsTest, GamesQueueAndStoredGames) {
  Database("big", GameText("a", "b", "1-0", "1. e4 e5 2. Nf3") + GameText("a", "b", "0-1", "1. d4 d5 2. c4") +
                      GameText("a", "b", "1-0", "1. e4 c5 2. Nf3"));
  MakeBook();
  BookQuelm book;
  ASSERT_FALSE(book.Open(Path("book").c_str(), true));
  ASSERT_FALSE(book.SetDatabase("big"));
  ASSERT_FALSE(book.SetOwnDatabase("own"));  // made, since it is missing
  EXPECT_TRUE(Exists("own.fdb"));
  GameBoard afterE4;
  GameMove record;
  ASSERT_GT(afterE4.PlayMove(MoveOf("e2e4"), record), 0);
  std::set<std::int32_t> taken;
  std::unique_ptr<Game> game(book.GetUnprocessedGameExcept(afterE4, taken));
  ASSERT_TRUE(game);
  EXPECT_EQ(game->GameNumber, 1);
  game.reset(book.GetUnprocessedGameExcept(afterE4, taken));
  ASSERT_TRUE(game);
  EXPECT_EQ(game->GameNumber, 3);
  EXPECT_FALSE(book.GetUnprocessedGameExcept(afterE4, taken));
  ASSERT_FALSE(book.SetProcessed(1));
  ASSERT_FALSE(book.SetProcessed(2));
  ASSERT_FALSE(book.SetProcessed(3));
  EXPECT_EQ(book.GetRandomGame(), nullptr);
  // An import goes into the big database, which is read-only again after.
  std::ofstream(Path("more.pgn")) << GameText("a", "b", "1-0", "1. c4 e5 2. Nc3");
  ASSERT_FALSE(book.ImportGames(Path("more.pgn").c_str(), false));
  EXPECT_EQ(book.BigDatabase.GameCount, 4u);
  EXPECT_FALSE(book.BigDatabase.IsWritable());
  // A stored game lands in the own-games database.
  Game played;
  ASSERT_FALSE(played.Reset());
  ASSERT_FALSE(played.AddMoveText("e2e4"));
  ASSERT_FALSE(book.StoreGame(played));
  EXPECT_EQ(book.OwnDatabase.GameCount, 1u);
}

}  // namespace
