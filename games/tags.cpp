// Tag values: parsing PGN text by kind, the normal printed form, the list
// order rules and the byte form inside stored game records.
#include "games/tags.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "support/binfile.h"

namespace {

// Kind by id, in the order of TagNames.
constexpr TagKind TagKinds[TagCount] = {
    TagKind::None,        TagKind::Text,  TagKind::Text,        TagKind::Date,   TagKind::Text,
    TagKind::Text,        TagKind::Text,  TagKind::Result,      TagKind::Text,   TagKind::Text,
    TagKind::None,        TagKind::Text,  TagKind::Text,        TagKind::Rating, TagKind::Rating,
    TagKind::Text,        TagKind::Text,  TagKind::Text,        TagKind::Text,   TagKind::None,
    TagKind::None,        TagKind::Date,  TagKind::Text,        TagKind::Text,   TagKind::Text,
    TagKind::BoardNumber, TagKind::Text,  TagKind::Text,        TagKind::Text,   TagKind::Text,
    TagKind::Text,        TagKind::Time,  TagKind::Date,        TagKind::Time,   TagKind::None,
    TagKind::None,        TagKind::None,  TagKind::None,        TagKind::None,   TagKind::None,
    TagKind::None,        TagKind::Text,  TagKind::NeverStored, TagKind::NeverStored, TagKind::Text,
    TagKind::NeverStored,
};

// A value text is looked at no further than this (longer values are cut
// before any kind reads them).
constexpr int ParseCopyLength = 255;

// The number written in at most width characters from text[offset], as a
// digit prefix; a '?' or any other non-digit ends it. Offsets past the end
// of a short text read as 0, never past its NUL.
int FixedFieldNumber(const char* text, int length, int offset, int width) {
  int value = 0;
  for (int i = offset; i < offset + width && i < length; i++) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) break;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Signed decimal prefix, saturated far beyond any clamp applied to it.
long DecimalPrefix(const char* text) {
  const char* p = text;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); p++) {
    value = value * 10 + (*p - '0');
    if (value > 1000000000L) value = 1000000000L;
  }
  return negative ? -value : value;
}

// Copies at most size - 1 characters and the NUL: values are cut, by intent.
void CutCopy(char* to, std::size_t size, const char* from) {
  std::size_t length = strnlen(from, size - 1);
  std::memcpy(to, from, length);
  to[length] = 0;
}

long Clamp(long value, long low, long high) { return value < low ? low : value > high ? high : value; }

int ResultCode(const char* text) {
  // Only the four standard texts count; "1/2" or "1-0 x" is no result.
  int begin = 0;
  int end = static_cast<int>(std::strlen(text));
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) begin++;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) end--;
  auto is = [&](const char* word) {
    return static_cast<int>(std::strlen(word)) == end - begin && std::strncmp(text + begin, word, end - begin) == 0;
  };
  if (is("1-0")) return 1;
  if (is("0-1")) return 2;
  if (is("1/2-1/2")) return 3;
  return 0;
}

void ParseDate(GameTag& tag, const char* text) {
  int length = static_cast<int>(std::strlen(text));
  tag.Year = FixedFieldNumber(text, length, 0, 4);
  tag.Month = FixedFieldNumber(text, length, 5, 2);
  tag.Day = FixedFieldNumber(text, length, 8, 2);
  if (tag.Month > 12) tag.Month = 0;
  if (tag.Day > 31) tag.Day = 0;
}

void ParseTime(GameTag& tag, const char* text) {
  int length = static_cast<int>(std::strlen(text));
  int hours = FixedFieldNumber(text, length, 0, 2);
  int minutes = FixedFieldNumber(text, length, 3, 2);
  int seconds = FixedFieldNumber(text, length, 6, 2);
  // A part out of its range is a part not given, so "99:99:99" is no time
  // far past midnight.
  if (hours > 23) hours = 0;
  if (minutes > 59) minutes = 0;
  if (seconds > 59) seconds = 0;
  tag.Value = hours * 3600 + minutes * 60 + seconds;
}

bool Storable(int id) {
  if (id < 1 || id >= TagCount) return false;
  TagKind kind = TagKinds[id];
  return kind != TagKind::None && kind != TagKind::NeverStored;
}

}  // namespace

TagKind KindOfTag(int id) { return id < 0 || id >= TagCount ? TagKind::None : TagKinds[id]; }

bool GameTag::Parse(int id, const char* text) {
  *this = GameTag{};
  if (!text) return true;
  char copy[ParseCopyLength + 1];
  CutCopy(copy, sizeof copy, text);
  const char* value = copy;
  while (*value == ' ' || *value == '\t') value++;
  // PlyCount (45) has a printed form but is never parsed.
  if (id < 1 || id > 44 || TagKinds[id] == TagKind::None) return true;
  Id = id;
  switch (TagKinds[id]) {
    case TagKind::Text:
    case TagKind::NeverStored:
      CutCopy(Text, sizeof Text, value);
      break;
    case TagKind::Date:
      ParseDate(*this, value);
      break;
    case TagKind::Result:
      Value = ResultCode(value);
      break;
    case TagKind::Rating:
      Value = std::strcmp(value, "-") == 0 ? 0 : static_cast<std::int32_t>(Clamp(DecimalPrefix(value), 0, 9999));
      break;
    case TagKind::BoardNumber:
      Value = static_cast<std::int32_t>(Clamp(DecimalPrefix(value), 0, 255));
      break;
    case TagKind::Time:
      ParseTime(*this, value);
      break;
    case TagKind::None:
      break;
  }
  return false;
}

const char* GameTag::ToString() const {
  static char buffer[GameTag::TextLength + 32];
  TagKind kind = KindOfTag(Id);
  if (Id == TagPlyCount) kind = TagKind::Rating;  // printed as a number
  switch (kind) {
    case TagKind::Text:
      std::snprintf(buffer, sizeof buffer, "%s", Text);
      break;
    case TagKind::Date: {
      char year[16] = "????", month[16] = "??", day[16] = "??";
      if (Year) std::snprintf(year, sizeof year, "%04d", static_cast<int>(Year));
      if (Month) std::snprintf(month, sizeof month, "%02d", static_cast<int>(Month));
      if (Day) std::snprintf(day, sizeof day, "%02d", static_cast<int>(Day));
      std::snprintf(buffer, sizeof buffer, "%s.%s.%s", year, month, day);
      break;
    }
    case TagKind::Result: {
      static constexpr const char* Results[] = {"*", "1-0", "0-1", "1/2-1/2"};
      std::snprintf(buffer, sizeof buffer, "%s", Value >= 0 && Value <= 3 ? Results[Value] : "?");
      break;
    }
    case TagKind::Rating:
    case TagKind::BoardNumber:
      if (Value)
        std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(Value));
      else
        std::snprintf(buffer, sizeof buffer, "-");
      break;
    case TagKind::Time:
      std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", static_cast<int>(Value / 3600),
                    static_cast<int>(Value / 60 % 60), static_cast<int>(Value % 60));
      break;
    default:
      std::snprintf(buffer, sizeof buffer, "?");
      break;
  }
  return buffer;
}

bool TagList::Set(const GameTag& tag) {
  if (!Storable(tag.Id)) return true;
  for (Node* node = First(); node; node = Next()) {
    if (node->Element.Id != tag.Id) continue;
    RemoveCurrent();
    if (Append(tag)) return true;
    Current = Tail;
    Index = Count - 1;
    return false;
  }
  Node* before = Head;
  int place = 0;
  while (before && before->Element.Id <= tag.Id) {
    before = before->Next;
    place++;
  }
  if (!before) {
    if (Append(tag)) return true;
    Current = Tail;
    Index = Count - 1;
    return false;
  }
  Node* node = AllocNode();
  if (!node) return true;
  node->Element = tag;
  node->Next = before;
  node->Previous = before->Previous;
  if (before->Previous)
    before->Previous->Next = node;
  else
    Head = node;
  before->Previous = node;
  Count++;
  Current = node;
  Index = place;
  return false;
}

void TagList::SetDefaults() {
  Clear();
  static constexpr struct {
    int Id;
    const char* Text;
  } Defaults[] = {{TagEvent, "?"}, {TagSite, "?"}, {TagDate, "????.??.??"}, {TagRound, "1"},
                  {TagWhite, "?"}, {TagBlack, "?"}, {TagResult, "*"}};
  for (const auto& entry : Defaults) {
    GameTag tag;
    tag.Parse(entry.Id, entry.Text);
    Append(tag);
  }
}

const GameTag* TagList::Find(int id) const {
  for (const Node* node = Head; node; node = node->Next)
    if (node->Element.Id == id) return &node->Element;
  return nullptr;
}

bool TagList::Write(BinFile& file) const {
  if (!file.IsOpen()) return true;
  if (file.WriteU8(TagListBegin)) return true;
  for (const Node* node = Head; node; node = node->Next) {
    const GameTag& tag = node->Element;
    if (!Storable(tag.Id)) return true;
    if (file.WriteU8(static_cast<std::uint32_t>(tag.Id))) return true;
    bool failed = false;
    switch (TagKinds[tag.Id]) {
      case TagKind::Text:
        failed = file.WriteBlock(tag.Text, static_cast<std::uint32_t>(std::strlen(tag.Text)) + 1);
        break;
      case TagKind::Date:
        failed = file.WriteU8(static_cast<std::uint32_t>(tag.Day)) || file.WriteU8(static_cast<std::uint32_t>(tag.Month)) ||
                 file.WriteU16(static_cast<std::uint32_t>(tag.Year));
        break;
      case TagKind::Result:
      case TagKind::BoardNumber:
        failed = file.WriteU8(static_cast<std::uint32_t>(tag.Value));
        break;
      case TagKind::Rating:
        failed = file.WriteU16(static_cast<std::uint32_t>(tag.Value));
        break;
      case TagKind::Time:
        failed = file.WriteU24(static_cast<std::uint32_t>(tag.Value));
        break;
      default:
        return true;
    }
    if (failed) return true;
  }
  return file.WriteU8(TagListEnd);
}

namespace {

// Reads a text up to and including its 0 byte, keeping the first
// GameTag::TextLength characters: a longer text must not leave the reader
// inside it. True when the file ended first.
bool ReadTagText(BinFile& file, char* text) {
  int kept = 0;
  for (;;) {
    std::uint32_t byte;
    if (file.ReadU8(byte)) return true;
    if (byte == 0) break;
    if (kept < GameTag::TextLength) text[kept++] = static_cast<char>(byte);
  }
  text[kept] = 0;
  return false;
}

// One tag's value after its id; true on a failed read.
bool ReadTagValue(BinFile& file, GameTag& tag) {
  std::uint32_t a = 0, b = 0, c = 0;
  switch (TagKinds[tag.Id]) {
    case TagKind::Text:
      return ReadTagText(file, tag.Text);
    case TagKind::Date:
      if (file.ReadU8(a) || file.ReadU8(b) || file.ReadU16(c)) return true;
      tag.Day = static_cast<std::int32_t>(a);
      tag.Month = static_cast<std::int32_t>(b);
      tag.Year = static_cast<std::int32_t>(c);
      return false;
    case TagKind::Result:
    case TagKind::BoardNumber:
      if (file.ReadU8(a)) return true;
      tag.Value = static_cast<std::int32_t>(a);
      return false;
    case TagKind::Rating:
      if (file.ReadU16(a)) return true;
      tag.Value = static_cast<std::int32_t>(a);
      return false;
    case TagKind::Time:
      if (file.ReadU24(a)) return true;
      tag.Value = static_cast<std::int32_t>(a);
      return false;
    default:
      return true;
  }
}

}  // namespace

bool TagList::Read(BinFile& file) {
  // Emptied first: defaults left in the list would hide missing tags.
  Clear();
  bool zeroSkipped = false;
  bool cut = false;
  while (file.IsOpen()) {
    std::uint32_t id;
    if (file.ReadU8(id)) {
      cut = true;
      break;
    }
    // Older writers left the 0 byte of an 80-character text behind.
    if (id == 0 && !zeroSkipped) {
      zeroSkipped = true;
      continue;
    }
    if (id == TagListEnd || !Storable(static_cast<int>(id))) break;
    GameTag tag;
    tag.Id = static_cast<std::int32_t>(id);
    if (ReadTagValue(file, tag)) {
      cut = true;
      break;
    }
    // Kept in the order written, so that a record read and written again
    // gives the same bytes; a repeated id replaces as Set does.
    if (Find(tag.Id))
      Set(tag);
    else
      Append(tag);
  }
  // A list that the end of the file cut is no list, however many tags came.
  return cut || Count < MinimumStored;
}
