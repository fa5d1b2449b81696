// The header tags of a game record: the fixed table of tag names with the
// kind of value each holds, one typed tag value, and a game's tag list with
// its byte form inside a stored game record (254, tags, 242).
#pragma once

#include <cstdint>

#include "support/pool.h"

class BinFile;

// How a tag's value is held, stored and printed.
enum class TagKind : std::int8_t {
  None,         // an id without a name: never parsed, never stored
  Text,         // up to GameTag::TextLength characters
  Date,         // year, month, day; 0 = part not given
  Result,       // 0 not given, 1 White wins, 2 Black wins, 3 draw
  Rating,       // 0..9999, 0 = not given
  BoardNumber,  // 0..255
  Time,         // seconds since midnight
  NeverStored,  // SetUp, FEN and PlyCount: read from PGN, never kept as tags
};

enum TagId : std::int32_t {
  TagEvent = 1,
  TagSite = 2,
  TagDate = 3,
  TagRound = 4,
  TagWhite = 5,
  TagBlack = 6,
  TagResult = 7,
  TagWhiteElo = 13,
  TagBlackElo = 14,
  TagStage = 24,
  TagBoard = 25,
  TagOpening = 26,
  TagVariation = 27,
  TagECO = 29,
  TagTime = 31,
  TagUTCTime = 33,
  TagSetUp = 42,
  TagFEN = 43,
  TagTermination = 44,
  TagPlyCount = 45,
};

constexpr int TagCount = 46;       // ids 0..45
constexpr int TagNameSlot = 16;    // bytes per name, NUL included

// Names by id; ids without a name carry "<undefN>" so that no PGN name can
// ever match them.
inline constexpr char TagNames[TagCount][TagNameSlot] = {
    "<undef0>",     "Event",        "Site",        "Date",         "Round",       "White",
    "Black",        "Result",       "Annotator",   "Mode",         "<undef10>",   "WhiteTitle",
    "BlackTitle",   "WhiteElo",     "BlackElo",    "WhiteNA",      "BlackNA",     "WhiteType",
    "BlackType",    "<undef19>",    "<undef20>",   "EventDate",    "EventSponsor", "Section",
    "Stage",        "Board",        "Opening",     "Variation",    "SubVariation", "ECO",
    "NIC",          "Time",         "UTCDate",     "UTCTime",      "<undef34>",   "<undef35>",
    "<undef36>",    "<undef37>",    "<undef38>",   "<undef39>",    "<undef40>",   "TimeControl",
    "SetUp",        "FEN",          "Termination", "PlyCount",
};

// Kind of each id, in the order of TagNames.
TagKind KindOfTag(int id);

struct GameTag {
  static constexpr int TextLength = 80;

  // Sets the tag from PGN value text by the id's kind; true (and id 0) when
  // the text is missing or the id cannot be parsed.
  bool Parse(int id, const char* text);
  // The value in its one normal form, in a static buffer that the next call
  // overwrites.
  const char* ToString() const;

  std::int32_t Id = 0;
  char Text[TextLength + 1] = {};
  std::int32_t Value = 0;
  std::int32_t Day = 0;
  std::int32_t Month = 0;
  std::int32_t Year = 0;
};

// A game's tags, in ascending id order except that a replaced tag moves to
// the end. Nodes come from the GameTag pool.
class TagList : public PooledList<GameTag> {
public:
  // The fewest tags a stored list may hold: the seven defaults.
  static constexpr int MinimumStored = 7;

  // Adds or replaces tag (the list's current node is then the new one);
  // true when refused: ids that are never stored, ids without a kind, or no
  // node to be had.
  bool Set(const GameTag& tag);
  // Empties the list and fills the seven tags every game carries.
  void SetDefaults();
  // The first tag with this id, or null.
  const GameTag* Find(int id) const;

  // Byte form, beginning with the 254 marker and ending with 242; true on
  // failure (file not open, failed write, a tag without a kind).
  bool Write(BinFile& file) const;
  // Reads a list whose 254 marker the caller has consumed, keeping the
  // order written. The list is emptied first; true when the file ends
  // inside the list or fewer than MinimumStored tags were read.
  bool Read(BinFile& file);
};

// Byte values of the tag list inside a stored record.
constexpr std::uint8_t TagListBegin = 254;
constexpr std::uint8_t TagListEnd = 242;
