// The games database: a numbered collection of stored game records in a set
// of five files sharing one base name. gamesdb.cpp holds the files, opening,
// loading, appending, marking and the listings; gamesdbsearch.cpp the search
// by position, the rebuild and the PGN import.
//
// Files (little-endian):
//   ".fdb" header: u32 version (1; 0 the older 20-byte form), u32 game count,
//          u32 deleted count, u32 position count, u32 player count, then (version
//          1) u8 no-position-index, u8 no-player-index
//   ".fgf" u32 records version (1; 0 the older move encoding), then the records
//   ".fgr" u32 0, then at 4 x g the offset of game g's record in ".fgf"
//   ".fpi" position index: low 32 bits of GameBoard::HashKey -> game number
//   ".fsi" player index: player code (bit 31 for Black) -> game number
//
// The game count is the commit point: an append writes the record, its
// offset and its index entries first and the counts last, so that a program
// killed at any moment leaves a set that opens with every game committed
// before, each one fully indexed. A rebuild builds the new set in a directory
// beside the old one and renames it into place behind a commit marker; Open
// finishes or clears what a killed rebuild left.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "games/gamerecord.h"
#include "games/gamesink.h"
#include "support/binfile.h"
#include "support/indexfile.h"

// The records file: the record writer hands every record to the system as
// it ends it, which a batch of staged games needs only once, at its commit.
class RecordsBinFile : public BinFile32 {
public:
  bool Open(const char* name, int flags) override;
  bool Create(const char* name, int flags) override;
  bool Flush() override { return HoldFlushes ? !IsOpen() : BinFile32::Flush(); }
  // Writes stay in the stream's buffer until Flush is called with holding off.
  bool HoldFlushes = false;

private:
  void UseLargeBuffer();
};

class GamesDatabase {
public:
  static constexpr std::uint32_t HeaderVersion = 1;
  static constexpr std::uint32_t RecordsVersion = 1;
  static constexpr std::uint32_t OlderVersion = 0;
  static constexpr std::uint32_t HeaderSize = 22;       // version 1
  static constexpr std::uint32_t OlderHeaderSize = 20;  // version 0: no flag bytes
  static constexpr std::uint32_t BlackPlayer = 0x80000000u;
  static constexpr std::uint8_t DeletedFlag = 1;

  // Messages go to sink; the default one says nothing.
  GamesDatabase();
  explicit GamesDatabase(GameSink& sink);
  ~GamesDatabase();
  GamesDatabase(const GamesDatabase&) = delete;
  GamesDatabase& operator=(const GamesDatabase&) = delete;

  void SetSink(GameSink& sink) { Sink = &sink; }

  // Every operation answers true on failure unless said otherwise, and tells
  // the sink why.

  // Closes an open database and empties the object.
  void Reset();
  // A new, empty set; replaces files of that name. A failure takes away the
  // files it made, and a name that the system cannot hold for the set or
  // its rebuild is refused before the first file is made.
  bool Create(const std::string& name, bool withPositionIndex, bool withPlayerIndex);
  // A read-only open never writes to any file. An index that will not open is
  // reported and left out for this session only.
  bool Open(const std::string& name, bool writable);
  bool Close();
  // Every precondition is checked before the first file is touched. Both work
  // on writable databases only; Rename reopens under the new name.
  bool Rename(const std::string& newName);
  bool DeleteFiles();

  // Game g (1..count) with its flag byte, or null.
  std::unique_ptr<Game> LoadGame(std::uint32_t g, std::uint8_t& flags);
  // The same into a caller's game, reused across many loads.
  bool LoadGameInto(std::uint32_t g, Game& game, std::uint8_t& flags);
  // Marks game g (1..count) deleted; a game deleted already stays so.
  bool MarkDeleted(std::uint32_t g);
  // Appends game as number count + 1 and commits it.
  bool AppendGame(Game& game);
  // AppendGame, then forces every file to the disk.
  bool AddGame(Game& game);
  // Stores game as a new number and marks game g deleted, in that order: a
  // program killed in between leaves both, never neither.
  bool ReplaceGame(std::uint32_t g, Game& game);
  // Enters name into the player index for game g (the count is written by
  // the next commit). Without a player index there is nothing to do.
  bool AddPlayer(const char* name, bool black, std::uint32_t g);
  bool Flush();

  // The title, the counts and the first five game headers, on the sink.
  void PrintSummary();
  void PrintGameHeader(std::uint32_t g);

  // Search by position (gamesdbsearch.cpp): the numbers of the games whose
  // main line reaches target, ascending, each once; 0 ends the search. The
  // target must live until then. Anything else done with the database in
  // between ends the search.
  bool StartPositionSearch(const GameBoard& target);
  std::uint32_t NextPositionMatch();
  // Moves the search on to the games numbered g and above.
  void SkipPositionSearchTo(std::uint32_t g);

  // Copies the live games into a fresh set sized for the given number of
  // positions and puts it in place of this one; game numbers close up.
  bool Rebuild(std::uint64_t positions);
  // Appends the games of a PGN file; a game that cannot be read is skipped
  // with a warning naming its line. When the rebuild that sizes the indexes
  // for the import fails, the import fails before its first game. The flag
  // has no effect.
  bool ImportPgn(const char* fileName, int flag = 0);

  // The player code of a name: its first six characters, 5 bits each.
  static std::uint32_t PlayerCode(const char* name);

  bool IsOpen() const { return Opened; }
  bool IsWritable() const { return Writable; }
  bool HasPositionIndex() const { return PositionIndex.IsOpen(); }
  bool HasPlayerIndex() const { return PlayerIndex.IsOpen(); }
  const std::string& Name() const { return BaseName; }

  std::uint32_t GameCount = 0;
  std::uint32_t DeletedCount = 0;
  std::uint32_t PositionCount = 0;
  std::uint32_t PlayerCount = 0;
  std::uint32_t FileVersion = HeaderVersion;
  std::uint32_t RecordsFileVersion = RecordsVersion;
  std::uint32_t OffsetsHeader = 0;
  // The game last loaded or appended; 0 = none.
  std::uint32_t CurrentGame = 0;
  bool NoPositionIndex = false;
  bool NoPlayerIndex = false;

  // An index entry waiting for its game's commit.
  struct StagedEntry {
    std::uint32_t Bucket;
    std::uint32_t Key;
    std::uint32_t Value;
  };

private:
  // The search in progress: the target, and either the next game to scan or
  // the position index's own chain state.
  struct SearchState {
    const GameBoard* Target = nullptr;
    bool Active = false;
    bool Sequential = true;
    std::uint32_t NextGame = 1;
    // Chains hold ascending game numbers; a number met again (a collision
    // within one game, or the entries of an interrupted append whose number
    // was used again) was examined already.
    std::uint32_t LastCandidate = 0;
    Game Replay;
  };

  bool CreateSet(const std::string& name, bool withPositionIndex, bool withPlayerIndex, std::int64_t positions,
                 std::int64_t players);
  std::string FilePath(const char* extension) const;
  bool Fail(int messageId, const char* detail = nullptr);
  void Warn(int messageId, const char* detail = nullptr);
  void Say(const char* text) { Sink->Write(text); }
  bool ReadHeader();
  bool CheckCounts();
  bool WriteCounts();
  bool ReadOffset(std::uint32_t g, std::uint32_t& offset);
  // Games whose records are written but not yet committed: the import and
  // the rebuild commit many at once, a write per index block instead of per
  // entry. One game at a time otherwise.
  struct StagedGames {
    std::vector<std::uint32_t> Offsets;
    std::vector<StagedEntry> Positions;
    std::vector<StagedEntry> Players;
    std::vector<std::uint64_t> FullKeys;  // of the game being staged: repeats are entered once
  };
  bool StageGame(Game& game);
  bool CommitStaged();
  void DropStaged(std::uint32_t recordsEnd);
  bool StagedFull() const;
  bool CutRecordsBack(std::uint32_t end);
  bool IndexesReady();
  void OpenIndexes();
  void EndSearch();
  bool FinishRebuildLeftovers();
  // Whether the system cannot name every file of a set of this base name,
  // the files of its rebuild included; true with the reason in why.
  static bool NameTooLong(const std::string& base, std::string& why);
  // A file of the set that a rebuild left in directory (kept by the name it
  // has there).
  static std::string RebuiltFile(const std::string& directory, const std::string& base, const char* extension);
  static bool MoveSetIntoPlace(const std::string& directory, const std::string& base);
  bool CopyLiveGames(GamesDatabase& target);

  GameSink* Sink;
  std::string BaseName;
  // Files read from the directory of a rebuild that committed but could not
  // finish its renames (a read-only open may not finish them).
  std::string PendingDirectory;
  bool Opened = false;
  bool Writable = false;
  BinFile64 HeaderFile;
  RecordsBinFile RecordsFile;
  BinFile32 OffsetsFile;
  std::uint64_t RecordsEnd = 0;
  IndexFile PositionIndex;
  IndexFile PlayerIndex;
  std::unique_ptr<SearchState> Search;
  StagedGames Staged;
};
