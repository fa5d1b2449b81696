// The games database's files: creating and opening the set, loading,
// appending with the game count as commit point, marking, renaming and
// deleting, the player code and the listings.
#include "games/gamesdb.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <system_error>
#include <vector>

#include "games/compact.h"
#include "support/messages.h"
#include "support/platform.h"

namespace fs = std::filesystem;

namespace {

constexpr int ReadWriteNew = BinFileBinary | BinFileUpdate | BinFileWrite;
constexpr int ReadWriteExisting = BinFileBinary | BinFileUpdate;
constexpr int ReadOnly = BinFileBinary;

// The five files of a set, in the order they are renamed and deleted: the
// header first, so that a set whose deletion stops part-way no longer opens.
constexpr const char* SetExtensions[] = {".fdb", ".fgf", ".fgr", ".fpi", ".fsi"};

// Message ids.
constexpr int ErrorPrefix = 3;
constexpr int GamesWord = 17;
constexpr int BadRecordMarker = 20;
constexpr int BadRecordHeader = 21;
constexpr int CannotWriteRecord = 22;
constexpr int BadTagList = 25;
constexpr int NotOpen = 26;
constexpr int DeletedWord = 27;
constexpr int DatabaseTitle = 28;
constexpr int CannotOpen = 29;
constexpr int CannotCreate = 30;
constexpr int ReadOnlyDatabase = 31;
constexpr int CannotWriteHeader = 32;
constexpr int NoPositionIndexFile = 33;
constexpr int NoPlayerIndexFile = 34;
constexpr int BadOffsets = 35;
constexpr int NoSuchGame = 36;

// Header field offsets.
constexpr std::int32_t GameCountAt = 4;
constexpr std::int32_t DeletedCountAt = 8;
constexpr std::int32_t NoPositionIndexAt = 20;

void PutU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; i++) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetU32(const std::uint8_t* at) {
  return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 | std::uint32_t(at[3]) << 24;
}

FilePos At(std::uint32_t offset) {
  FilePos pos;
  pos.PosKind = offset ? FilePos::Offset32 : FilePos::None;
  pos.Offset = static_cast<std::int32_t>(offset);
  return pos;
}

bool SeekTo(BinFile& file, std::uint32_t offset) {
  if (offset > 0x7FFFFFFFu) return true;
  if (offset == 0) return file.Rewind();
  FilePos pos = At(offset);
  return file.Seek(pos);
}

bool FileSize(const std::string& path, std::uint64_t& size) {
  std::error_code error;
  size = fs::file_size(path, error);
  return static_cast<bool>(error);
}

const char* TagText(const TagList& tags, int id) {
  const GameTag* tag = tags.Find(id);
  return tag ? tag->ToString() : "";
}

}  // namespace

// A buffer that holds a batch's records in a few writes.
void RecordsBinFile::UseLargeBuffer() {
  if (Stream) std::setvbuf(Stream, nullptr, _IOFBF, 1 << 16);
}

bool RecordsBinFile::Open(const char* name, int flags) {
  if (BinFile32::Open(name, flags)) return true;
  UseLargeBuffer();
  return false;
}

bool RecordsBinFile::Create(const char* name, int flags) {
  if (BinFile32::Create(name, flags)) return true;
  UseLargeBuffer();
  return false;
}

GamesDatabase::GamesDatabase() {
  static SilentGameSink silent;
  Sink = &silent;
  Reset();
}

GamesDatabase::GamesDatabase(GameSink& sink) : Sink(&sink) { Reset(); }

GamesDatabase::~GamesDatabase() { Reset(); }

void GamesDatabase::Reset() {
  if (Opened) Close();
  EndSearch();
  BaseName.clear();
  PendingDirectory.clear();
  Writable = false;
  OffsetsHeader = 0;
  CurrentGame = 0;
  FileVersion = HeaderVersion;
  RecordsFileVersion = RecordsVersion;
  GameCount = DeletedCount = PositionCount = PlayerCount = 0;
  NoPositionIndex = NoPlayerIndex = false;
  RecordsEnd = 0;
}

std::string GamesDatabase::FilePath(const char* extension) const {
  if (!PendingDirectory.empty()) {
    std::string pending = RebuiltFile(PendingDirectory, BaseName, extension);
    std::error_code error;
    if (fs::exists(pending, error)) return pending;
  }
  return BaseName + extension;
}

namespace {
// A message with its detail, whole: the detail is often a long file name.
std::string MessageLine(const char* prefix, int messageId, const char* detail) {
  std::string text = std::string(prefix) + Messages.Text(messageId);
  if (detail) text.append(": ").append(detail);
  return text + "\n";
}
}  // namespace

bool GamesDatabase::Fail(int messageId, const char* detail) {
  const std::string text = MessageLine((std::string(Messages.Text(ErrorPrefix)) + ": ").c_str(), messageId, detail);
  Sink->Report(false, messageId, 0, text.c_str());
  return true;
}

void GamesDatabase::Warn(int messageId, const char* detail) {
  Sink->Report(true, messageId, 0, MessageLine("WARNING: ", messageId, detail).c_str());
}

// ---------------------------------------------------------------- the set

bool GamesDatabase::Create(const std::string& name, bool withPositionIndex, bool withPlayerIndex) {
  std::string why;
  if (NameTooLong(name, why)) {
    Reset();
    return Fail(CannotCreate, (name + ": " + why).c_str());
  }
  return CreateSet(name, withPositionIndex, withPlayerIndex, 0, 0);
}

bool GamesDatabase::CreateSet(const std::string& name, bool withPositionIndex, bool withPlayerIndex,
                              std::int64_t positions, std::int64_t players) {
  Reset();
  if (name.empty()) return Fail(CannotCreate);
  BaseName = name;
  NoPositionIndex = !withPositionIndex;
  NoPlayerIndex = !withPlayerIndex;
  std::uint8_t header[HeaderSize] = {};
  PutU32(header, HeaderVersion);
  header[NoPositionIndexAt] = NoPositionIndex;
  header[NoPositionIndexAt + 1] = NoPlayerIndex;
  // The files made so far, for taking them away again: a set left half made
  // would be taken up by the next open and refuse every import. A file that
  // would not open was not made (it may be another's).
  std::vector<std::string> made;
  auto create = [&](BinFile& file, const char* extension, const std::function<bool()>& fill) {
    const std::string path = FilePath(extension);
    if (file.Create(path.c_str(), ReadWriteNew)) return true;
    made.push_back(path);
    return fill() || file.Flush();
  };
  // An index takes its own half-written file away.
  auto createIndex = [&](IndexFile& index, const char* extension, std::int64_t entries) {
    const std::string path = FilePath(extension);
    if (index.Create(path.c_str(), entries)) return true;
    made.push_back(path);
    return false;
  };
  bool failed = create(HeaderFile, ".fdb", [&] { return HeaderFile.WriteBlock(header, HeaderSize); }) ||
                create(RecordsFile, ".fgf", [&] { return RecordsFile.WriteU32(RecordsVersion); }) ||
                create(OffsetsFile, ".fgr", [&] { return OffsetsFile.WriteU32(0); }) ||
                (withPositionIndex && createIndex(PositionIndex, ".fpi", positions)) ||
                (withPlayerIndex && createIndex(PlayerIndex, ".fsi", players));
  if (failed) {
    Close();
    BaseName.clear();
    std::error_code error;
    for (const std::string& path : made) fs::remove(path, error);
    return Fail(CannotCreate, name.c_str());
  }
  Opened = true;
  Writable = true;
  RecordsEnd = 4;
  return false;
}

bool GamesDatabase::ReadHeader() {
  std::uint8_t header[HeaderSize] = {};
  std::uint64_t size;
  if (FileSize(FilePath(".fdb"), size) || size < OlderHeaderSize) return true;
  if (HeaderFile.Rewind() || HeaderFile.ReadBlock(header, OlderHeaderSize)) return true;
  FileVersion = GetU32(header);
  if (FileVersion > HeaderVersion) return true;
  GameCount = GetU32(header + 4);
  DeletedCount = GetU32(header + 8);
  PositionCount = GetU32(header + 12);
  PlayerCount = GetU32(header + 16);
  if (FileVersion == HeaderVersion) {
    if (size < HeaderSize || HeaderFile.ReadBlock(header + OlderHeaderSize, 2)) return true;
    NoPositionIndex = header[20] != 0;
    NoPlayerIndex = header[21] != 0;
    return false;
  }
  // The older header had no flags: a position index and no player index.
  NoPositionIndex = false;
  NoPlayerIndex = true;
  if (!Writable) return false;
  if (SeekTo(HeaderFile, NoPositionIndexAt) || HeaderFile.WriteU8(0) || HeaderFile.WriteU8(1)) return true;
  return false;
}

// The game count is the commit point: the offsets and records behind it must
// be there. A set where they are not was damaged by something else than an
// interrupted append, and is refused rather than read wrongly.
bool GamesDatabase::CheckCounts() {
  std::uint64_t offsetsSize, recordsSize;
  if (FileSize(FilePath(".fgr"), offsetsSize) || FileSize(FilePath(".fgf"), recordsSize)) return true;
  if (offsetsSize < 4 + 4 * std::uint64_t(GameCount) || DeletedCount > GameCount) return true;
  RecordsEnd = recordsSize;
  if (GameCount == 0) return false;
  std::uint32_t last;
  return ReadOffset(GameCount, last);
}

void GamesDatabase::OpenIndexes() {
  // An index that will not open is left out for this session; the header
  // keeps saying the set has one, so that a rebuild brings it back.
  if (!NoPositionIndex && PositionIndex.Open(FilePath(".fpi").c_str(), Writable))
    Warn(NoPositionIndexFile, FilePath(".fpi").c_str());
  if (!NoPlayerIndex && PlayerIndex.Open(FilePath(".fsi").c_str(), Writable))
    Warn(NoPlayerIndexFile, FilePath(".fsi").c_str());
}

bool GamesDatabase::Open(const std::string& name, bool writable) {
  Reset();
  if (name.empty()) return Fail(CannotOpen);
  BaseName = name;
  Writable = writable;
  if (FinishRebuildLeftovers()) {
    Reset();
    return Fail(CannotOpen, name.c_str());
  }
  const int flags = writable ? ReadWriteExisting : ReadOnly;
  if (HeaderFile.Open(FilePath(".fdb").c_str(), flags) || ReadHeader()) {
    Close();
    Reset();
    return Fail(CannotOpen, (name + ".fdb").c_str());
  }
  std::uint32_t offsetsHeader = 0;
  if (RecordsFile.Open(FilePath(".fgf").c_str(), flags) || RecordsFile.ReadU32(RecordsFileVersion) ||
      RecordsFileVersion > RecordsVersion || OffsetsFile.Open(FilePath(".fgr").c_str(), flags) ||
      OffsetsFile.ReadU32(offsetsHeader) || static_cast<std::int32_t>(offsetsHeader) > 0) {
    Close();
    Reset();
    return Fail(CannotOpen, name.c_str());
  }
  OffsetsHeader = offsetsHeader;
  if (RecordsFileVersion == OlderVersion)
    Sink->Report(true, 0, 0, "WARNING: gamesfile is using an older format. Rebuild the database to correct this\n");
  Opened = true;
  if (CheckCounts()) {
    Close();
    Reset();
    return Fail(BadOffsets, name.c_str());
  }
  OpenIndexes();
  // Entries above the count were written by a commit that never finished;
  // the numbers are about to be used again, and chains must keep ascending.
  std::uint64_t dropped;
  if (Writable && PositionIndex.IsOpen() && PositionIndex.DropValuesAbove(GameCount, dropped))
    Warn(NoPositionIndexFile, FilePath(".fpi").c_str());
  if (Writable && PlayerIndex.IsOpen() && PlayerIndex.DropValuesAbove(GameCount, dropped))
    Warn(NoPlayerIndexFile, FilePath(".fsi").c_str());
  return false;
}

bool GamesDatabase::Close() {
  EndSearch();
  // Games staged and never committed are not part of the set.
  Staged = StagedGames();
  Opened = false;
  bool failed = HeaderFile.Close();
  if (RecordsFile.Close()) failed = true;
  if (OffsetsFile.Close()) failed = true;
  if (PositionIndex.Close()) failed = true;
  if (PlayerIndex.Close()) failed = true;
  // Closing answers success, as its callers expect; but a written file that
  // would not close may have lost its last bytes, and the user hears of it.
  if (failed && Writable) Fail(CannotWriteHeader, BaseName.c_str());
  return false;
}

bool GamesDatabase::Rename(const std::string& newName) {
  if (!Opened) return Fail(NotOpen);
  if (!Writable) return Fail(ReadOnlyDatabase);
  if (newName.empty() || newName == BaseName) return Fail(CannotCreate, newName.c_str());
  // Every check comes before the first rename: a set renamed half-way would
  // open under neither name.
  std::vector<const char*> present;
  std::error_code error;
  for (const char* extension : SetExtensions) {
    if (fs::exists(newName + extension, error)) return Fail(CannotCreate, (newName + extension).c_str());
    if (fs::exists(BaseName + extension, error)) present.push_back(extension);
  }
  std::string why;
  if (NameTooLong(newName, why)) return Fail(CannotCreate, (newName + ": " + why).c_str());
  const std::string oldName = BaseName;
  Close();
  std::size_t done = 0;
  for (; done < present.size(); done++) {
    fs::rename(oldName + present[done], newName + present[done], error);
    if (error) break;
  }
  if (done < present.size()) {
    // Put back what moved, so that the set stays whole under its old name.
    for (std::size_t i = 0; i < done; i++) fs::rename(newName + present[i], oldName + present[i], error);
    Open(oldName, true);
    return Fail(CannotCreate, newName.c_str());
  }
  SyncDirectory(fs::path(newName).parent_path().empty() ? "." : fs::path(newName).parent_path().c_str());
  return Open(newName, true);
}

bool GamesDatabase::DeleteFiles() {
  if (!Opened) return Fail(NotOpen);
  if (!Writable) return Fail(ReadOnlyDatabase);
  // Every file of the set goes, opened this session or not: an index left
  // behind would be taken up by the next set of that name.
  const std::string name = BaseName;
  Close();
  Reset();
  bool failed = false;
  std::error_code error;
  for (const char* extension : SetExtensions)
    if (fs::exists(name + extension, error) && !fs::remove(name + extension, error)) failed = true;
  return failed ? Fail(CannotWriteHeader, name.c_str()) : false;
}

// ---------------------------------------------------------------- games

bool GamesDatabase::ReadOffset(std::uint32_t g, std::uint32_t& offset) {
  if (g == 0 || g > GameCount) return true;
  if (SeekTo(OffsetsFile, 4 * g) || OffsetsFile.ReadU32(offset)) return true;
  // A record lies behind the version word and before the end of the file.
  return offset < 4 || offset >= RecordsEnd;
}

bool GamesDatabase::LoadGameInto(std::uint32_t g, Game& game, std::uint8_t& flags) {
  std::uint32_t offset;
  if (!Opened || ReadOffset(g, offset) || SeekTo(RecordsFile, offset)) return true;
  // Records of the older move encoding are read by their own rule.
  if (game.CompactReadFile(RecordsFile, flags, static_cast<int>(RecordsFileVersion), *Sink)) return true;
  CurrentGame = g;
  return false;
}

std::unique_ptr<Game> GamesDatabase::LoadGame(std::uint32_t g, std::uint8_t& flags) {
  if (!Opened || g == 0 || g > GameCount) return nullptr;
  auto game = std::make_unique<Game>();
  if (LoadGameInto(g, *game, flags)) return nullptr;
  return game;
}

bool GamesDatabase::MarkDeleted(std::uint32_t g) {
  if (!Opened) return Fail(NotOpen);
  if (!Writable) return Fail(ReadOnlyDatabase);
  char number[16];
  std::snprintf(number, sizeof number, "%u", g);
  std::uint32_t offset, marker, flag;
  if (g == 0 || g > GameCount) return Fail(NoSuchGame, number);
  if (ReadOffset(g, offset) || SeekTo(RecordsFile, offset) || RecordsFile.ReadU8(marker) ||
      marker != CompactGameRecord::RecordBegin || RecordsFile.ReadU8(flag))
    return Fail(BadRecordMarker, number);
  if (flag & DeletedFlag) return false;
  if (SeekTo(RecordsFile, offset + 1) || RecordsFile.WriteU8(flag | DeletedFlag) || RecordsFile.Flush())
    return Fail(CannotWriteRecord, number);
  DeletedCount++;
  FilePos at = At(DeletedCountAt);
  if (HeaderFile.Seek(at) || HeaderFile.WriteU32(DeletedCount)) {
    DeletedCount--;
    return Fail(CannotWriteHeader, number);
  }
  if (g == CurrentGame) CurrentGame = 0;
  return false;
}

bool GamesDatabase::IndexesReady() {
  if (!Opened) return Fail(NotOpen);
  if (!Writable) return Fail(ReadOnlyDatabase);
  // Appending past an index that is missing this session would leave it
  // without the new games for good; the set must be rebuilt first.
  if (!NoPositionIndex && !PositionIndex.IsOpen()) return Fail(NoPositionIndexFile, BaseName.c_str());
  if (!NoPlayerIndex && !PlayerIndex.IsOpen()) return Fail(NoPlayerIndexFile, BaseName.c_str());
  return false;
}

bool GamesDatabase::AddPlayer(const char* name, bool black, std::uint32_t g) {
  if (NoPlayerIndex) return false;
  if (!name || !PlayerIndex.IsOpen() || !PlayerIndex.Writable) return true;
  const std::uint32_t key = PlayerCode(name) | (black ? BlackPlayer : 0);
  if (PlayerIndex.Add(key & (PlayerIndex.BucketCount - 1), key, g)) return true;
  PlayerCount++;
  return false;
}

// The four counts in one write: the game count commits the games.
bool GamesDatabase::WriteCounts() {
  std::uint8_t counts[16];
  PutU32(counts, GameCount);
  PutU32(counts + 4, DeletedCount);
  PutU32(counts + 8, PositionCount);
  PutU32(counts + 12, PlayerCount);
  FilePos at = At(GameCountAt);
  return HeaderFile.Seek(at) || HeaderFile.WriteBlock(counts, sizeof counts);
}

bool GamesDatabase::CutRecordsBack(std::uint32_t end) {
  std::error_code error;
  RecordsFile.Flush();
  fs::resize_file(FilePath(".fgf"), end, error);
  RecordsEnd = end;
  return static_cast<bool>(error);
}

// Steps 1 and 3 of an append for one game: its record at the end of the
// records file, its index entries kept for the commit. A failure takes back
// this game only; the games staged before it stay staged.
bool GamesDatabase::StageGame(Game& game) {
  if (Staged.Offsets.empty()) {
    EndSearch();
    FilePos end;
    if (RecordsFile.SeekFromEnd(0) || RecordsFile.Tell(end) || end.PosKind != FilePos::Offset32) {
      Say("# Cannot write to fgf file\n");
      return true;
    }
    RecordsEnd = static_cast<std::uint32_t>(end.Offset);
  }
  // One walk of the main line gives the game hash (the low halves of the
  // keys of all its positions, XOR-ed) and the index entries: one per
  // distinct position, the start and the end included.
  std::vector<std::uint64_t>& keys = Staged.FullKeys;
  keys.clear();
  std::uint32_t hash = 0;
  game.Rewind();
  for (bool more = true; more; more = !game.Forward()) {
    const std::uint64_t key = game.KeyHistory[game.Ply];
    assert(key == game.Board.HashKey());
    hash ^= static_cast<std::uint32_t>(key);
    if (!NoPositionIndex && std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
  }
  game.Rewind();
  if (!game.GameHashUpToDate) {
    game.GameHash = hash;
    game.GameHashUpToDate = true;
  }

  const std::uint32_t start = static_cast<std::uint32_t>(RecordsEnd);
  RecordsFile.HoldFlushes = true;
  const bool unwritten = game.CompactWriteFile(RecordsFile, static_cast<int>(RecordsFileVersion));
  RecordsFile.HoldFlushes = false;
  if (unwritten) {
    Say("# Cannot write to fgf file\n");
    CutRecordsBack(start);
    return true;
  }
  FilePos after;
  if (RecordsFile.Tell(after) || after.PosKind != FilePos::Offset32) {
    Say("# Cannot write to fgf file\n");
    CutRecordsBack(start);
    return true;
  }
  RecordsEnd = static_cast<std::uint32_t>(after.Offset);
  const std::uint32_t g = GameCount + static_cast<std::uint32_t>(Staged.Offsets.size()) + 1;
  Staged.Offsets.push_back(start);
  if (!NoPositionIndex) {
    const std::uint32_t mask = PositionIndex.BucketCount - 1;
    for (std::uint64_t key : keys) {
      const std::uint32_t low = static_cast<std::uint32_t>(key);
      Staged.Positions.push_back({low & mask, low, g});
    }
  }
  if (!NoPlayerIndex) {
    const std::uint32_t mask = PlayerIndex.BucketCount - 1;
    for (int side = 0; side < 2; side++) {
      const std::uint32_t key = PlayerCode(TagText(game.Tags, side ? TagBlack : TagWhite)) | (side ? BlackPlayer : 0);
      Staged.Players.push_back({key & mask, key, g});
    }
  }
  return false;
}

namespace {

// Adds the entries bucket by bucket, each bucket's in the order staged (game
// numbers ascending), so that a chain is written a block at a time.
bool AddEntries(IndexFile& index, std::vector<GamesDatabase::StagedEntry>& entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const GamesDatabase::StagedEntry& a, const GamesDatabase::StagedEntry& b) { return a.Bucket < b.Bucket; });
  std::vector<std::uint32_t> keys, values;
  for (std::size_t i = 0; i < entries.size();) {
    std::size_t end = i;
    keys.clear();
    values.clear();
    for (; end < entries.size() && entries[end].Bucket == entries[i].Bucket; end++) {
      keys.push_back(entries[end].Key);
      values.push_back(entries[end].Value);
    }
    if (index.AddMany(entries[i].Bucket, keys.data(), values.data(), static_cast<std::uint32_t>(keys.size())))
      return true;
    i = end;
  }
  return false;
}

}  // namespace

// Steps 2 and 4 for every staged game: the offsets into their own slots (a
// dead slot of an interrupted append is written over), the index entries,
// and then the counts, which commit them. An interrupted commit leaves index
// entries for numbers above the count; the search passes over them and the
// next writable open drops them.
bool GamesDatabase::CommitStaged() {
  if (Staged.Offsets.empty()) return false;
  const std::uint32_t start = Staged.Offsets.front();
  const std::uint32_t n = static_cast<std::uint32_t>(Staged.Offsets.size());
  std::vector<std::uint8_t> offsets(4 * std::size_t(n));
  for (std::uint32_t i = 0; i < n; i++) PutU32(&offsets[4 * std::size_t(i)], Staged.Offsets[i]);
  if (RecordsFile.Flush() || SeekTo(OffsetsFile, 4 * (GameCount + 1)) ||
      OffsetsFile.WriteBlock(offsets.data(), static_cast<std::uint32_t>(offsets.size())) || OffsetsFile.Flush()) {
    Say("# Cannot write to fgr file\n");
    DropStaged(start);
    return true;
  }
  const std::uint32_t positions = static_cast<std::uint32_t>(Staged.Positions.size());
  const std::uint32_t players = static_cast<std::uint32_t>(Staged.Players.size());
  if ((positions && AddEntries(PositionIndex, Staged.Positions)) || (players && AddEntries(PlayerIndex, Staged.Players)) ||
      PositionIndex.Flush() || PlayerIndex.Flush()) {
    DropStaged(start);
    return Fail(CannotWriteRecord, BaseName.c_str());
  }
  GameCount += n;
  PositionCount += positions;
  PlayerCount += players;
  if (WriteCounts()) {
    GameCount -= n;
    PositionCount -= positions;
    PlayerCount -= players;
    DropStaged(start);
    return Fail(CannotWriteHeader, BaseName.c_str());
  }
  CurrentGame = GameCount;
  Staged = StagedGames();
  return false;
}

void GamesDatabase::DropStaged(std::uint32_t recordsEnd) {
  CutRecordsBack(recordsEnd);
  Staged = StagedGames();
}

bool GamesDatabase::AppendGame(Game& game) {
  if (IndexesReady()) return true;
  if (!Staged.Offsets.empty() && CommitStaged()) return true;
  return StageGame(game) || CommitStaged();
}

bool GamesDatabase::Flush() {
  if (!Opened) return false;
  bool failed = OffsetsFile.Flush();
  if (RecordsFile.Flush()) failed = true;
  if (HeaderFile.Flush()) failed = true;
  if (PositionIndex.Flush()) failed = true;
  if (PlayerIndex.Flush()) failed = true;
  return failed;
}

bool GamesDatabase::AddGame(Game& game) {
  if (AppendGame(game)) return true;
  Flush();
  // The stream back ends keep their data with the system; force it down.
  for (const char* extension : {".fgf", ".fgr"}) SyncFileToDisk(FilePath(extension).c_str());
  return false;
}

bool GamesDatabase::ReplaceGame(std::uint32_t g, Game& game) {
  if (!Opened) return Fail(NotOpen);
  if (g == 0 || g > GameCount) {
    char number[16];
    std::snprintf(number, sizeof number, "%u", g);
    return Fail(NoSuchGame, number);
  }
  return AppendGame(game) || MarkDeleted(g);
}

// First six characters, 5 bits each: letters by their place in the alphabet
// whatever their case, ',' 26, a blank 27, a byte outside 7-bit ASCII 28,
// anything else 29.
std::uint32_t GamesDatabase::PlayerCode(const char* name) {
  std::uint32_t code = 0;
  for (int i = 0; name && i < 6 && name[i]; i++) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    std::uint32_t value;
    if (c >= 'a' && c <= 'z')
      value = c - 'a';
    else if (c >= 'A' && c <= 'Z')
      value = c - 'A';
    else if (c == ',')
      value = 26;
    else if (c == ' ')
      value = 27;
    else if (c >= 128)
      value = 28;
    else
      value = 29;
    code |= value << (5 * i);
  }
  return code;
}

// ---------------------------------------------------------------- listings

void GamesDatabase::PrintSummary() {
  if (!Opened) {
    Sink->Printf("%s\n", Messages.Text(NotOpen));
    return;
  }
  Sink->Printf("%s \"%s\":\n", Messages.Text(DatabaseTitle), BaseName.c_str());
  Sink->Printf("\t%u %s\n", GameCount, Messages.Text(GamesWord));
  Sink->Printf("\t%u %s\n", DeletedCount, Messages.Text(DeletedWord));
  if (!NoPositionIndex) Sink->Printf("\t%u positions\n", PositionCount);
  if (!NoPlayerIndex) Sink->Printf("\t%u players\n", PlayerCount);
  for (std::uint32_t g = 1; g <= 5 && g <= GameCount; g++) PrintGameHeader(g);
  Sink->Write("\n");
}

void GamesDatabase::PrintGameHeader(std::uint32_t g) {
  if (!Opened || g == 0 || g > GameCount) return;
  char number[16];
  std::snprintf(number, sizeof number, "%u", g);
  std::uint32_t offset, byte, flag, hash;
  if (ReadOffset(g, offset) || SeekTo(RecordsFile, offset) || RecordsFile.ReadU8(byte) ||
      byte != CompactGameRecord::RecordBegin) {
    Fail(BadRecordMarker, number);
    return;
  }
  if (RecordsFile.ReadU8(flag)) {
    Fail(BadRecordHeader, number);
    return;
  }
  Sink->Printf("%u%s", g, flag == 0 ? ". " : ".D");
  // The start field is parsed, not searched for the tag marker: the number
  // of a Chess960 start may hold a 254 byte.
  bool failed = RecordsFile.ReadU32(hash) || RecordsFile.ReadU8(byte);
  if (!failed && byte == CompactGameRecord::StartChess960) {
    failed = RecordsFile.SeekRelative(2);
  } else if (!failed && byte == CompactGameRecord::StartFen) {
    int length = 0;
    do failed = RecordsFile.ReadU8(byte) || ++length > Game::StartFenLength + 1;
    while (!failed && byte != CompactGameRecord::FenEnd);
  } else if (!failed && byte != CompactGameRecord::StartStandard) {
    failed = true;
  }
  failed = failed || RecordsFile.ReadU8(byte) || byte != CompactGameRecord::TagMarker;
  if (failed) {
    Sink->Write("\n");
    Fail(BadRecordHeader, number);
    return;
  }
  TagList tags;
  if (tags.Read(RecordsFile)) {
    Sink->Write("\n");
    Fail(BadTagList, number);
    return;
  }
  std::string line;
  auto add = [&line](const char* text) { line += text; };
  auto player = [&](int titleId, int nameId, int eloId) {
    if (const GameTag* title = tags.Find(titleId)) {
      add(title->ToString());
      add(" ");
    }
    add(TagText(tags, nameId));
    const GameTag* elo = tags.Find(eloId);
    if (elo && elo->Value != 0) {
      add(" (");
      add(elo->ToString());
      add(")");
    }
  };
  player(11, TagWhite, TagWhiteElo);
  add(" - ");
  player(12, TagBlack, TagBlackElo);
  add(" ");
  add(TagText(tags, TagResult));
  add(". \n   Event: ");
  add(TagText(tags, TagEvent));
  add(". Site: ");
  add(TagText(tags, TagSite));
  add(". Date: ");
  add(TagText(tags, TagDate));
  add(", Round ");
  add(TagText(tags, TagRound));
  add(". \n");
  Sink->Write(line.c_str());
}
