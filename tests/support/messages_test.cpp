// The messages file: line rules, ids, fallback to text 0, and the shipped
// English texts.
#include "support/messages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Reads the bytes into table as the messages file.
void ReadBytes(MessageTable& table, const std::string& bytes) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  table.Read(file);
  std::fclose(file);
}

TEST(MessagesFile, EmptyFileGivesNoTexts) {
  MessageTable table;
  ReadBytes(table, "");
  EXPECT_STREQ(table.Text(0), "");
  EXPECT_STREQ(table.Text(12), "");
  EXPECT_STREQ(table.Text(-1), "");
  EXPECT_STREQ(table.Text(MessageTable::Size), "");
}

TEST(MessagesFile, LineRules) {
  const struct {
    const char* Name;
    std::string Bytes;
    const char* Text12;
  } cases[] = {
      {"id and word", "12 word\n", "word"},
      {"comment", "#12 word\n", ""},
      {"leading blank", " 12 word\n", "word"},
      {"leading tab", "\t12 word\n", "word"},
      {"tab after the id", "12\tword\n", "word"},
      {"blanks after the delimiter stay", "12   spaced text\n", "  spaced text"},
      {"carriage return", "12 word\r\n", "word"},
      {"id without text", "12\n", ""},
      {"id and delimiter only", "12 \n", ""},
      {"last line without line end", "12 word", ""},
      {"later line replaces", "12 first\n12 second\n", "second"},
      {"id without text keeps the earlier one", "12 first\n12\n", "first"},
      {"not a number", "x12 word\n", ""},
      {"digits then letters", "12a word\n", ""},
      {"leading zeros", "0012 word\n", "word"},
  };
  for (const auto& c : cases) {
    MessageTable table;
    ReadBytes(table, c.Bytes);
    EXPECT_STREQ(table.Text(12), c.Text12) << c.Name;
  }
}

TEST(MessagesFile, NulEndsALine) {
  MessageTable table;
  ReadBytes(table, std::string("12 ab\0" "13 cd\n", 12));
  EXPECT_STREQ(table.Text(12), "ab");
  EXPECT_STREQ(table.Text(13), "cd");
}

TEST(MessagesFile, LongLineIsCutAfter1023CharactersAndGoesOn) {
  MessageTable table;
  std::string first = "12 " + std::string(1020, 'a');
  ReadBytes(table, first + "13 tail\n" + std::string(3000, 'z') + "\n14 after\n");
  EXPECT_EQ(std::string(table.Text(12)), std::string(1020, 'a'));
  EXPECT_STREQ(table.Text(13), "tail");
  EXPECT_STREQ(table.Text(14), "after");
}

TEST(MessagesFile, IdsOutsideTheTableAreIgnored) {
  MessageTable table;
  ReadBytes(table, "0 fallback\n4999 last\n5000 beyond\n-1 negative\n99999999999999999999 huge\n");
  EXPECT_STREQ(table.Text(4999), "last");
  EXPECT_STREQ(table.Text(5000), "fallback");
  EXPECT_STREQ(table.Text(-1), "fallback");
  EXPECT_STREQ(table.Text(0), "fallback");
}

TEST(MessagesFile, MissingTextFallsBackToTextZero) {
  MessageTable table;
  ReadBytes(table, "0 Unknown error\n7 seven\n");
  EXPECT_STREQ(table.Text(7), "seven");
  EXPECT_STREQ(table.Text(8), "Unknown error");
}

// A word that is no number must not replace the fallback text.
TEST(MessagesFile, WordInPlaceOfAnIdLeavesTextZeroAlone) {
  MessageTable table;
  ReadBytes(table, "0 fallback\nhello world\n");
  EXPECT_STREQ(table.Text(0), "fallback");
}

TEST(MessagesFile, ClearEmptiesTheTable) {
  MessageTable table;
  ReadBytes(table, "0 fallback\n12 word\n");
  table.Clear();
  EXPECT_STREQ(table.Text(12), "");
}

TEST(MessagesFile, LoadReportsAMissingFile) {
  EXPECT_FALSE(LoadMessagesFile("/nonexistent/dir/english"));
}

// The conversions each text must carry, in order, because its callers format
// it with exactly these values; every other text must carry none.
const struct {
  int Id;
  const char* Conversions;
} FormattedTexts[] = {
    {2000, "s"},  {2008, "s"},  {2011, "s"},  {2012, "ds"}, {2031, "s"},   {2032, "s"},   {2033, "s"},
    {2034, "s"},  {2040, "s"},  {2041, "s"},  {2043, "s"},  {2057, "ddd"}, {2058, "ddd"}, {2061, "dd"},
};

std::string ConversionsOf(const char* text) {
  std::string found;
  for (const char* p = text; *p; p++) {
    if (*p != '%') continue;
    p++;
    if (!*p) break;
    if (*p != '%') found += *p;
  }
  return found;
}

std::string ExpectedConversions(int id) {
  for (const auto& entry : FormattedTexts)
    if (entry.Id == id) return entry.Conversions;
  return "";
}

TEST(EnglishMessages, EveryIdInUseHasItsOwnTextWithTheRightConversions) {
  ASSERT_TRUE(LoadMessagesFile(QUELM_DATA_DIR "/english"));
  ASSERT_STRNE(Messages.Text(0), "");
  EXPECT_EQ(ConversionsOf(Messages.Text(0)), "");
  auto check = [](int id) {
    const char* text = Messages.Text(id);
    if (id != 0) {
      EXPECT_NE(text, Messages.Text(0)) << "no text of its own: " << id;
    }
    EXPECT_NE(text[0], ' ') << id;
    EXPECT_EQ(ConversionsOf(text), ExpectedConversions(id)) << id << ": " << text;
  };
  for (int id = 0; id <= 43; id++) check(id);
  for (int id = 2000; id <= 2081; id++) check(id);
  EXPECT_EQ(Messages.Text(44), Messages.Text(0));
  EXPECT_EQ(Messages.Text(2082), Messages.Text(0));
  Messages.Clear();
}

}  // namespace
