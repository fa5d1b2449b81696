#include "games/tags.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/binfile.h"
#include "support/scratch_directory.h"

namespace {

GameTag Parsed(int id, const char* text) {
  GameTag tag;
  EXPECT_FALSE(tag.Parse(id, text)) << id << " " << text;
  return tag;
}

std::vector<int> IdsOf(const TagList& list) {
  std::vector<int> ids;
  for (const auto* node = list.Head; node; node = node->Next) ids.push_back(node->Element.Id);
  return ids;
}

TEST(TagNames, TableHoldsTheNamesAndKindsByIdWithPlaceholdersForUnnamedIds) {
  EXPECT_STREQ(TagNames[0], "<undef0>");
  EXPECT_STREQ(TagNames[TagEvent], "Event");
  EXPECT_STREQ(TagNames[10], "<undef10>");
  EXPECT_STREQ(TagNames[22], "EventSponsor");
  EXPECT_STREQ(TagNames[TagECO], "ECO");
  EXPECT_STREQ(TagNames[40], "<undef40>");
  EXPECT_STREQ(TagNames[TagTermination], "Termination");
  EXPECT_STREQ(TagNames[TagPlyCount], "PlyCount");
  EXPECT_EQ(KindOfTag(TagDate), TagKind::Date);
  EXPECT_EQ(KindOfTag(21), TagKind::Date);
  EXPECT_EQ(KindOfTag(32), TagKind::Date);
  EXPECT_EQ(KindOfTag(TagBoard), TagKind::BoardNumber);
  EXPECT_EQ(KindOfTag(TagTime), TagKind::Time);
  EXPECT_EQ(KindOfTag(TagUTCTime), TagKind::Time);
  EXPECT_EQ(KindOfTag(19), TagKind::None);
  EXPECT_EQ(KindOfTag(TagFEN), TagKind::NeverStored);
  EXPECT_EQ(KindOfTag(46), TagKind::None);
}

// Each row: id, the PGN value text, then the stored parts and the printed form.
struct ParseCase {
  int Id;
  const char* Text;
  int Value, Year, Month, Day;
  const char* Printed;
};

TEST(GameTag, ParsesEachKindAndPrintsItsNormalForm) {
  const ParseCase cases[] = {
      {TagWhiteElo, "-", 0, 0, 0, 0, "-"},
      {TagWhiteElo, "12345", 9999, 0, 0, 0, "9999"},
      {TagBlackElo, "2650 ", 2650, 0, 0, 0, "2650"},
      {TagBlackElo, "-20", 0, 0, 0, 0, "-"},
      {TagBoard, "300", 255, 0, 0, 0, "255"},
      {TagBoard, "200", 200, 0, 0, 0, "200"},
      {TagDate, "2001.13.40", 0, 2001, 0, 0, "2001.??.??"},
      {TagDate, "????.??.??", 0, 0, 0, 0, "????.??.??"},
      {TagDate, "2019.05.??", 0, 2019, 5, 0, "2019.05.??"},
      {TagDate, "1985.03.07", 0, 1985, 3, 7, "1985.03.07"},
      // Fixed places stop at the end of a short text.
      {TagDate, "2019", 0, 2019, 0, 0, "2019.??.??"},
      {21, "  1999.12", 0, 1999, 12, 0, "1999.12.??"},
      {TagTime, "09:05:07", 9 * 3600 + 5 * 60 + 7, 0, 0, 0, "09:05:07"},
      {TagTime, "12:30", 12 * 3600 + 30 * 60, 0, 0, 0, "12:30:00"},
      // Out-of-range parts count as not given.
      {TagUTCTime, "99:99:99", 0, 0, 0, 0, "00:00:00"},
      {TagUTCTime, "23:75:10", 23 * 3600 + 10, 0, 0, 0, "23:00:10"},
      // Results: exactly the four texts, trimmed; anything else is none.
      {TagResult, "1-0", 1, 0, 0, 0, "1-0"},
      {TagResult, "0-1 ", 2, 0, 0, 0, "0-1"},
      {TagResult, " 1/2-1/2", 3, 0, 0, 0, "1/2-1/2"},
      {TagResult, "*", 0, 0, 0, 0, "*"},
      {TagResult, "1/2", 0, 0, 0, 0, "*"},
      {TagResult, "1", 0, 0, 0, 0, "*"},
      {TagResult, "1-0 (time)", 0, 0, 0, 0, "*"},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(std::string(TagNames[c.Id]) + " \"" + c.Text + "\"");
    GameTag tag = Parsed(c.Id, c.Text);
    EXPECT_EQ(tag.Id, c.Id);
    EXPECT_EQ(tag.Value, c.Value);
    EXPECT_EQ(tag.Year, c.Year);
    EXPECT_EQ(tag.Month, c.Month);
    EXPECT_EQ(tag.Day, c.Day);
    EXPECT_STREQ(tag.ToString(), c.Printed);
  }
}

TEST(GameTag, TextsLoseLeadingBlanksAndAreCutTo80Characters) {
  EXPECT_STREQ(Parsed(TagEvent, "   Open").ToString(), "Open");
  std::string longName(300, 'x');
  GameTag tag = Parsed(TagWhite, longName.c_str());
  EXPECT_EQ(std::string(tag.Text), std::string(80, 'x'));
}

TEST(GameTag, RefusesMissingTextUnnamedIdsAndPlyCount) {
  GameTag tag;
  EXPECT_TRUE(tag.Parse(TagEvent, nullptr));
  EXPECT_EQ(tag.Id, 0);
  for (int id : {0, 10, 19, 34, 40, int{TagPlyCount}, 46, -1}) {
    EXPECT_TRUE(tag.Parse(id, "12")) << id;
    EXPECT_EQ(tag.Id, 0) << id;
  }
}

TEST(TagList, DefaultsAreTheSevenTagsInIdOrder) {
  TagList list;
  list.SetDefaults();
  EXPECT_EQ(IdsOf(list), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  std::string printed;
  for (const auto* node = list.Head; node; node = node->Next) printed += std::string(node->Element.ToString()) + "|";
  EXPECT_EQ(printed, "?|?|????.??.??|1|?|?|*|");
}

TEST(TagList, ReplacedTagMovesToTheEndAndNewTagsGoInIdOrder) {
  TagList list;
  list.SetDefaults();
  ASSERT_FALSE(list.Set(Parsed(TagEvent, "Open")));
  EXPECT_EQ(IdsOf(list), (std::vector<int>{2, 3, 4, 5, 6, 7, 1}));
  ASSERT_NE(list.Current, nullptr);
  EXPECT_EQ(list.Current->Element.Id, TagEvent);
  EXPECT_STREQ(list.Find(TagEvent)->Text, "Open");

  ASSERT_FALSE(list.Set(Parsed(TagECO, "B20")));
  ASSERT_FALSE(list.Set(Parsed(TagWhiteElo, "2400")));
  // Inserted before the first larger id: the moved Event (1) is not larger.
  EXPECT_EQ(IdsOf(list), (std::vector<int>{2, 3, 4, 5, 6, 7, 1, 13, 29}));
  EXPECT_EQ(list.Current->Element.Id, TagWhiteElo);
  EXPECT_EQ(list.Count, 9);
}

TEST(TagList, RefusesTagsThatAreNeverStored) {
  TagList list;
  list.SetDefaults();
  GameTag fen;
  ASSERT_FALSE(fen.Parse(TagFEN, "8/8/8/8/8/8/8/8 w - -"));
  EXPECT_TRUE(list.Set(fen));
  GameTag setUp;
  ASSERT_FALSE(setUp.Parse(TagSetUp, "1"));
  EXPECT_TRUE(list.Set(setUp));
  GameTag empty;
  EXPECT_TRUE(list.Set(empty));
  GameTag plyCount;
  plyCount.Id = TagPlyCount;
  EXPECT_TRUE(list.Set(plyCount));
  EXPECT_EQ(list.Count, 7);
}

class TagBytes : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Scratch.Ready()); }

  std::vector<unsigned char> Written(const TagList& list) {
    BinFile32 file;
    EXPECT_FALSE(file.Create(Scratch.Path("tags.bin").c_str(), BinFileBinary | BinFileUpdate | BinFileWrite));
    EXPECT_FALSE(list.Write(file));
    file.Close();
    return Scratch.ReadBytes("tags.bin");
  }
  // Reads bytes (without the 254 marker); returns the reader's result and
  // the byte after the list (-1 at the end of the file).
  bool ReadBack(const std::vector<unsigned char>& bytes, TagList& list, int* next = nullptr) {
    Scratch.WriteBytes("in.bin", bytes);
    BinFile32 file;
    EXPECT_FALSE(file.Open(Scratch.Path("in.bin").c_str(), BinFileBinary | BinFileUpdate));
    bool failed = list.Read(file);
    std::uint32_t byte;
    if (next) *next = file.ReadU8(byte) ? -1 : static_cast<int>(byte);
    file.Close();
    return failed;
  }

  ScratchDirectory Scratch;
};

TEST_F(TagBytes, DefaultListHasItsGoldenBytes) {
  TagList list;
  list.SetDefaults();
  const std::vector<unsigned char> golden = {254, 1, '?', 0, 2, '?', 0, 3, 0, 0, 0, 0, 4, '1', 0,
                                             5,   '?', 0, 6, '?', 0, 7, 0, 242};
  EXPECT_EQ(Written(list), golden);
}

TEST_F(TagBytes, EveryKindIsWrittenInItsWidthLowByteFirst) {
  TagList list;
  list.SetDefaults();
  list.Set(Parsed(TagDate, "2019.05.07"));
  list.Set(Parsed(TagResult, "1/2-1/2"));
  list.Set(Parsed(TagWhiteElo, "2650"));
  list.Set(Parsed(TagBoard, "200"));
  list.Set(Parsed(TagUTCTime, "23:59:58"));
  list.Set(Parsed(TagStage, "Final"));
  std::vector<unsigned char> bytes = Written(list);
  const std::vector<unsigned char> tail = {
      3,  7,   5,   2019 & 255, 2019 >> 8,         // date: day, month, year
      7,  3,                                       // result
      13, 2650 & 255, 2650 >> 8,                   // rating
      24, 'F', 'i', 'n', 'a', 'l', 0,              // Stage, inserted in id order
      25, 200,                                     // board
      33, 86398 & 255, (86398 >> 8) & 255, 86398 >> 16,  // seconds
      242};
  ASSERT_GE(bytes.size(), tail.size());
  EXPECT_EQ(std::vector<unsigned char>(bytes.end() - static_cast<long>(tail.size()), bytes.end()), tail);
}

TEST_F(TagBytes, ListReadsBackEqualToTheListWritten) {
  TagList list;
  list.SetDefaults();
  list.Set(Parsed(TagBoard, "200"));  // above 127: read back unsigned
  list.Set(Parsed(TagStage, "Quarter-final"));
  list.Set(Parsed(TagBlackElo, "2799"));
  list.Set(Parsed(TagTime, "09:05:07"));
  list.Set(Parsed(TagEvent, std::string(80, 'e').c_str()));  // exactly 80
  list.Set(Parsed(TagDate, "2001.02.03"));
  std::vector<unsigned char> bytes = Written(list);
  bytes.erase(bytes.begin());
  bytes.push_back(253);
  TagList back;
  back.SetDefaults();
  int next = 0;
  ASSERT_FALSE(ReadBack(bytes, back, &next));
  EXPECT_EQ(next, 253);
  // The order written (Event moved to the end when it was replaced) stays.
  EXPECT_EQ(IdsOf(back), IdsOf(list));
  ASSERT_EQ(back.Count, list.Count);
  for (const auto* node = list.Head; node; node = node->Next) {
    const GameTag* read = back.Find(node->Element.Id);
    ASSERT_NE(read, nullptr) << node->Element.Id;
    EXPECT_STREQ(read->ToString(), GameTag(node->Element).ToString()) << node->Element.Id;
  }
}

TEST_F(TagBytes, ReadingFailsWithFewerThanSevenTagsEvenOnAFullList) {
  TagList list;
  list.SetDefaults();
  const std::vector<unsigned char> six = {1, '?', 0, 2, '?', 0, 3, 0, 0, 0, 0, 4, '1', 0, 5, '?', 0, 6, '?', 0, 242};
  EXPECT_TRUE(ReadBack(six, list));
  EXPECT_EQ(list.Count, 6);
}

TEST_F(TagBytes, OverlongTextIsReadToItsEndAndCut) {
  std::vector<unsigned char> bytes = {1};
  bytes.insert(bytes.end(), 100, 'x');
  bytes.push_back(0);
  const std::vector<unsigned char> rest = {2, '?', 0, 3, 0, 0, 0, 0, 4, '1', 0, 5, '?', 0, 6, '?', 0, 7, 1, 242, 253};
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  TagList list;
  int next = 0;
  ASSERT_FALSE(ReadBack(bytes, list, &next));
  EXPECT_EQ(next, 253);
  EXPECT_EQ(std::string(list.Find(TagEvent)->Text), std::string(80, 'x'));
  EXPECT_EQ(list.Find(TagResult)->Value, 1);
}

TEST_F(TagBytes, OneStrayZeroIsSkippedAndUnknownIdsEndTheList) {
  const std::vector<unsigned char> bytes = {1, 'a', 0, 0, 2, '?', 0, 3, 0, 0, 0, 0, 4, '1', 0,
                                            5, '?', 0, 6, '?', 0, 7, 0, 19, 8, 'x', 0};
  TagList list;
  int next = 0;
  ASSERT_FALSE(ReadBack(bytes, list, &next));
  EXPECT_EQ(list.Count, 7);
  EXPECT_EQ(next, 8);  // the list ended at the id without a kind
}

TEST_F(TagBytes, EveryCutOfAValidListFailsWithoutCrashing) {
  TagList list;
  list.SetDefaults();
  list.Set(Parsed(TagUTCTime, "10:00:00"));
  std::vector<unsigned char> bytes = Written(list);
  bytes.erase(bytes.begin());
  for (std::size_t length = 0; length + 1 < bytes.size(); length++) {
    TagList back;
    // Also a cut after seven whole tags: the list never reached its end.
    EXPECT_TRUE(ReadBack(std::vector<unsigned char>(bytes.begin(), bytes.begin() + static_cast<long>(length)), back))
        << length;
  }
}

}  // namespace
