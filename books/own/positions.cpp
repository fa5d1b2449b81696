// The own book's records and their index: the entry pool, the record's byte
// form, finding and writing records, appends that survive a crash, and the
// file-wide maintenance that builds new files beside the old ones.
#include "books/own/positions.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_map>

#include "support/messages.h"
#include "support/output.h"
#include "support/platform.h"

// ---------------------------------------------------------------------------
// The entry pool.
//
// Concurrency: any thread may make and delete entries; the free list and the
// two counts change only under EntryPoolLock, held for one pop or push, and
// no other lock is taken while it is held.

namespace {

union EntrySlot {
  EntrySlot* Next;
  alignas(BookQuelmEntry) unsigned char Storage[sizeof(BookQuelmEntry)];
};

struct EntryBlock {
  EntrySlot Slots[BookQuelmEntry::BlockEntries];
  EntryBlock* Next;
};

std::mutex EntryPoolLock;
EntrySlot* FreeSlots = nullptr;
EntryBlock* Blocks = nullptr;  // kept listed, so leak checkers see them reachable
int Allocated = 0;
int FreeSlotCount = 0;

}  // namespace

void* BookQuelmEntry::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (size != sizeof(BookQuelmEntry)) return ::operator new(size, std::nothrow);
  std::lock_guard<std::mutex> guard(EntryPoolLock);
  if (!FreeSlots) {
    EntryBlock* block = new (std::nothrow) EntryBlock;
    if (!block) return nullptr;
    block->Next = Blocks;
    Blocks = block;
    for (int i = 0; i < BlockEntries; i++) block->Slots[i].Next = i + 1 < BlockEntries ? &block->Slots[i + 1] : nullptr;
    FreeSlots = &block->Slots[0];
    Allocated += BlockEntries;
    FreeSlotCount += BlockEntries;
  }
  EntrySlot* slot = FreeSlots;
  FreeSlots = slot->Next;
  FreeSlotCount--;
  return slot->Storage;
}

void* BookQuelmEntry::operator new(std::size_t size) {
  void* entry = operator new(size, std::nothrow);
  if (!entry) throw std::bad_alloc();
  return entry;
}

void BookQuelmEntry::operator delete(void* entry, std::size_t size) noexcept {
  if (!entry) return;
  if (size != sizeof(BookQuelmEntry)) return ::operator delete(entry);
  std::lock_guard<std::mutex> guard(EntryPoolLock);
  EntrySlot* slot = static_cast<EntrySlot*>(entry);
  slot->Next = FreeSlots;
  FreeSlots = slot;
  FreeSlotCount++;
}

int BookQuelmEntry::AllocatedCount() {
  std::lock_guard<std::mutex> guard(EntryPoolLock);
  return Allocated;
}

int BookQuelmEntry::FreeCount() {
  std::lock_guard<std::mutex> guard(EntryPoolLock);
  return FreeSlotCount;
}

// ---------------------------------------------------------------------------
// The entry.

void BookQuelmEntry::Set(std::uint64_t key, const GameMove& move) {
  Key = key;
  Move = GameMove();
  Move.From = move.From;
  Move.To = move.To;
  Move.Promotion = move.Promotion;
  Move.Valid = move.Valid;
  DBGames = OwnGames = 0;
  DBWins = DBDraws = DBLosses = 0;
  OwnWins = OwnDraws = OwnLosses = 0;
  Manual = 0;
  MinimaxDepth = MinimaxScore = Minimax2Depth = Minimax2Score = 0;
  Valid = 1;
}

bool BookQuelmEntry::Set(const GameBoard& board, const GameMove& move) {
  Set(board.HashKey(), move);
  return false;
}

int BookQuelmEntry::SetMove(const GameMove& move) {
  Move.From = move.From;
  Move.To = move.To;
  Move.Promotion = move.Promotion;
  Move.Valid = move.Valid;
  return 0;
}

void BookQuelmEntry::MakeFree(std::uint64_t key) {
  GameMove free;
  free.From = 15;
  free.To = 0;
  free.Valid = 1;
  Set(key, free);
}

namespace {

// Results are summed wide: four 32-bit figures must not wrap into a sum that
// passes for small.
bool ResultsFit(std::int32_t games, std::int32_t wins, std::int32_t draws, std::int32_t losses) {
  if (games < 0 || wins < 0 || draws < 0 || losses < 0) return false;
  return std::int64_t(wins) + draws + losses <= games;
}

}  // namespace

bool BookQuelmEntry::SetDB(std::int32_t games, std::int32_t wins, std::int32_t draws, std::int32_t losses) {
  if (!ResultsFit(games, wins, draws, losses)) {
    SetBookMessage(ErrorText, 2034, "SetDB()");
    return true;
  }
  DBGames = games;
  DBWins = wins;
  DBDraws = draws;
  DBLosses = losses;
  return false;
}

bool BookQuelmEntry::SetOwn(std::int32_t games, std::int32_t wins, std::int32_t draws, std::int32_t losses) {
  if (!ResultsFit(games, wins, draws, losses)) {
    SetBookMessage(ErrorText, 2034, "SetOwn()");
    return true;
  }
  OwnGames = games;
  OwnWins = wins;
  OwnDraws = draws;
  OwnLosses = losses;
  return false;
}

bool BookQuelmEntry::SetMinimax(std::int32_t depth, std::int32_t score) {
  const bool changed = depth != MinimaxDepth || score != MinimaxScore;
  MinimaxDepth = depth;
  MinimaxScore = score;
  return changed;
}

bool BookQuelmEntry::SetMinimax2(std::int32_t depth, std::int32_t score) {
  const bool changed = depth != Minimax2Depth || score != Minimax2Score;
  Minimax2Depth = depth;
  Minimax2Score = score;
  return changed;
}

namespace {

constexpr int MaxRecordSize = 46;
constexpr std::uint32_t Max24 = 0xFFFFFF;
constexpr std::uint64_t MaxCount = BookQuelmEntry::MaxCount;

// Figures that do not fit their fields keep the nearest value that does:
// a count past 16,777,215 or a mate score past 32767 cut to its low bits
// would read back as a small or opposite figure.
struct Saturation {
  bool Hit = false;
  std::uint32_t Unsigned(std::int64_t value, std::uint32_t max) {
    if (value < 0) return Hit = true, 0;
    if (value > max) return Hit = true, max;
    return static_cast<std::uint32_t>(value);
  }
  std::int32_t Signed(std::int64_t value, std::int32_t min, std::int32_t max) {
    if (value < min) return Hit = true, min;
    if (value > max) return Hit = true, max;
    return static_cast<std::int32_t>(value);
  }
};

void Put(std::uint8_t* at, std::uint64_t value, int width) {
  for (int i = 0; i < width; i++) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t Get(const std::uint8_t* at, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; i--) value = value << 8 | at[i];
  return value;
}

}  // namespace

bool BookQuelmEntry::SavePosition(BinFile& file, int version) {
  if (!Valid) {
    SetBookMessage(ErrorText, 2031, "SavePosition()");
    return true;
  }
  Saturation fit;
  std::uint8_t record[MaxRecordSize] = {};
  record[0] = 255;
  Put(record + 1, Key, 8);
  Put(record + 9, fit.Unsigned(DBGames, 0xFFFFFFFFu), 4);
  Put(record + 13, fit.Unsigned(OwnGames, Max24), 3);
  Put(record + 16, (Move.From & 63) | (Move.To & 63) << 6 | (Move.Promotion & 15) << 12, 2);
  Put(record + 18, fit.Unsigned(DBWins, 0xFFFFFFFFu), 4);
  Put(record + 22, fit.Unsigned(DBDraws, 0xFFFFFFFFu), 4);
  Put(record + 26, fit.Unsigned(DBLosses, 0xFFFFFFFFu), 4);
  Put(record + 30, fit.Unsigned(OwnWins, Max24), 3);
  Put(record + 33, fit.Unsigned(OwnDraws, Max24), 3);
  Put(record + 36, fit.Unsigned(OwnLosses, Max24), 3);
  record[39] = static_cast<std::uint8_t>(fit.Signed(Manual, -128, 127));
  int size = 40;
  if (version >= 4) {
    if (MinimaxDepth < 0) MinimaxDepth = 0;
    if (Minimax2Depth < 0) Minimax2Depth = 0;
    record[40] = static_cast<std::uint8_t>(fit.Signed(MinimaxDepth, 0, 127));
    Put(record + 41, static_cast<std::uint16_t>(fit.Signed(MinimaxScore, -32768, 32767)), 2);
    record[43] = static_cast<std::uint8_t>(fit.Signed(Minimax2Depth, 0, 127));
    Put(record + 44, static_cast<std::uint16_t>(fit.Signed(Minimax2Score, -32768, 32767)), 2);
    size = 46;
  }
  Saturated = fit.Hit;
  // One write per record: a crash never leaves half a record's figures.
  if (file.WriteBlock(record, static_cast<std::uint32_t>(size))) {
    SetBookMessage(ErrorText, 2032, "SavePosition()");
    return true;
  }
  if (Saturated) {
    std::snprintf(ErrorText, sizeof ErrorText, "%s",
                  "SavePosition(): a figure too large for its field was stored as the largest it can hold");
    Printer.Print(ChannelLogOnly, true, "Book record %016llx: %s\n", static_cast<unsigned long long>(Key), ErrorText);
  }
  return false;
}

bool BookQuelmEntry::LoadPosition(BinFile& file, int version) {
  Valid = 0;
  if (!file.IsOpen()) {
    SetBookMessage(ErrorText, 2030);
    return true;
  }
  const int size = version >= 4 ? 46 : 40;
  std::uint8_t record[MaxRecordSize];
  if (file.ReadBlock(record, static_cast<std::uint32_t>(size)) || record[0] != 255) {
    SetBookMessage(ErrorText, 2033, "LoadPosition()");
    return true;
  }
  // The database figures are unsigned on disk and 2^31 or more would read
  // as negative: they keep the largest count an entry holds instead.
  auto count = [&record](int offset) {
    return static_cast<std::int32_t>(std::min<std::uint64_t>(Get(record + offset, 4), MaxCount));
  };
  Key = Get(record + 1, 8);
  DBGames = count(9);
  OwnGames = static_cast<std::int32_t>(Get(record + 13, 3));
  const std::uint32_t move = static_cast<std::uint32_t>(Get(record + 16, 2));
  Move = GameMove();
  Move.From = static_cast<std::int32_t>(move & 63);
  Move.To = static_cast<std::int32_t>(move >> 6 & 63);
  Move.Promotion = move >> 12 & 15;
  Move.Valid = 1;
  DBWins = count(18);
  DBDraws = count(22);
  DBLosses = count(26);
  OwnWins = static_cast<std::int32_t>(Get(record + 30, 3));
  OwnDraws = static_cast<std::int32_t>(Get(record + 33, 3));
  OwnLosses = static_cast<std::int32_t>(Get(record + 36, 3));
  Manual = static_cast<std::int8_t>(record[39]);
  if (version >= 4) {
    MinimaxDepth = std::max(0, static_cast<int>(static_cast<std::int8_t>(record[40])));
    MinimaxScore = static_cast<std::int16_t>(Get(record + 41, 2));
    Minimax2Depth = std::max(0, static_cast<int>(static_cast<std::int8_t>(record[43])));
    Minimax2Score = static_cast<std::int16_t>(Get(record + 44, 2));
  } else {
    MinimaxDepth = Minimax2Depth = 0;
    MinimaxScore = Minimax2Score = 0;
  }
  Valid = 1;
  return false;
}

// ---------------------------------------------------------------------------
// The position file.

namespace {

FilePos At(std::uint64_t offset) {
  FilePos pos;
  pos.PosKind = FilePos::Offset64;
  pos.Low = static_cast<std::uint32_t>(offset);
  pos.High = static_cast<std::uint32_t>(offset >> 32);
  return pos;
}

bool SeekTo(BinFile& file, std::uint64_t offset) {
  FilePos pos = At(offset);
  return file.Seek(pos);
}

std::int64_t FileSize(BinFile& file) {
  FilePos pos;
  if (file.SeekFromEnd(0) || file.Tell(pos)) return -1;
  return pos.PosKind == FilePos::None ? 0 : static_cast<std::int64_t>(std::uint64_t(pos.High) << 32 | pos.Low);
}

// The names of a reorganisation in progress: the new pair is built under
// "<base>.new", and the marker says that it is complete and must replace
// the old pair.
std::string NewBase(const std::string& base) { return base + ".new"; }
std::string Marker(const std::string& base) { return base + ".reorganised"; }

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

}  // namespace

bool BookPositionFile::Fail(int id, const char* argument) {
  SetBookMessage(ErrorText, id, argument);
  return true;
}

const std::string& BookPositionFile::SetIndexName(const char* base) {
  IndexName = std::string(base) + ".bpi";
  return IndexName;
}

std::uint32_t BookPositionFile::StoredKey(std::uint64_t key) const {
  return (Index.Version & IndexFile::VersionBits) >= 3 ? static_cast<std::uint32_t>(key >> 32)
                                                         : static_cast<std::uint32_t>(key);
}

void BookPositionFile::Close() {
  if (Records.IsOpen()) Records.Close();
  if (Index.IsOpen()) Index.Close();
  Writable = false;
  Walk.clear();
  WalkAt = 0;
}

bool BookPositionFile::Flush() {
  if (Index.IsOpen() && Writable && !Index.Flush()) SyncFileToDisk(Index.FileName.c_str());
  if (Records.IsOpen() && Writable) Records.Flush();
  return false;
}

bool BookPositionFile::Create(const char* base) {
  Close();
  if (!base) return Fail(2041, "");
  BaseName = base;
  RecordName = BaseName + ".bpf";
  switch (CreateNewFile(RecordName.c_str())) {
    case NewFileResult::Exists:
      return Fail(2040, RecordName.c_str());
    case NewFileResult::Failed:
      return Fail(2041, RecordName.c_str());
    case NewFileResult::Created:
      break;
  }
  if (Records.Open(RecordName.c_str(), BinFileBinary | BinFileUpdate)) {
    std::remove(RecordName.c_str());
    return Fail(2041, RecordName.c_str());
  }
  Writable = true;
  Count = 0;
  Version = CurrentVersion;
  std::uint8_t header[HeaderBytes] = {};
  header[0] = static_cast<std::uint8_t>(CurrentVersion);
  if (SeekTo(Records, 0) || Records.WriteBlock(header, HeaderBytes) || Records.Flush()) {
    Close();
    std::remove(RecordName.c_str());
    return Fail(2042);
  }
  SetIndexName(BaseName.c_str());
  if (Index.Create(IndexName.c_str(), CreatedIndexEntries)) {
    Close();
    std::remove(RecordName.c_str());
    return Fail(2043, IndexName.c_str());
  }
  return false;
}

bool BookPositionFile::Open(const char* base, bool writable) {
  Close();
  if (!base) return Fail(2044);
  BaseName = base;
  RecordName = BaseName + ".bpf";
  SetIndexName(BaseName.c_str());
  if (FileExists(Marker(BaseName).c_str()) || FileExists((NewBase(BaseName) + ".bpf").c_str())) {
    // A reorganisation was cut short: a writable open finishes it, or drops
    // its unfinished files. A read-only one can use the old pair only while
    // no marker says that the new pair may have replaced part of it.
    if (writable ? FinishReorganise() : FileExists(Marker(BaseName).c_str())) return Fail(2050);
  }
  if (Records.Open(RecordName.c_str(), writable ? BinFileBinary | BinFileUpdate : BinFileBinary)) return Fail(2044);
  Writable = writable;
  if (Index.Open(IndexName.c_str(), writable)) {
    Close();
    return Fail(2045);
  }
  std::uint8_t header[6];
  if (SeekTo(Records, 0) || Records.ReadBlock(header, sizeof header)) {
    Close();
    return Fail(2046);
  }
  Version = static_cast<std::int8_t>(header[0]);
  if (Version >= 5) {
    Close();
    return Fail(2047);
  }
  if (Version < 3) {
    Close();
    return Fail(2048);
  }
  const std::uint32_t count = static_cast<std::uint32_t>(Get(header + 2, 4));
  const std::int64_t size = FileSize(Records);
  // A count that the file cannot hold would send every append beyond the
  // end and every read into nothing.
  if (size < 0 || count > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) ||
      std::int64_t(count) * RecordSize() + HeaderBytes > size) {
    Close();
    return Fail(2039);
  }
  Count = static_cast<std::int32_t>(count);
  if (Version == 3) Printer.Print(ChannelStderr, false, "%s\n", Messages.Text(2049));
  return false;
}

bool BookPositionFile::SeekRecord(std::uint32_t n) {
  if (n < 1 || SeekTo(Records, HeaderBytes + std::uint64_t(RecordSize()) * (n - 1))) return Fail(2053);
  return false;
}

bool BookPositionFile::ReadRecord(std::uint32_t n, BookQuelmEntry& entry) {
  if (SeekRecord(n)) return true;
  if (entry.LoadPosition(Records, Version)) return Fail(2054);
  return false;
}

bool BookPositionFile::WriteRecord(std::uint32_t n, BookQuelmEntry& entry) {
  if (SeekRecord(n)) return true;
  if (entry.SavePosition(Records, Version)) return Fail(2055);
  return false;
}

bool BookPositionFile::Chain(std::uint64_t key, std::vector<std::uint32_t>& records) {
  records.clear();
  if (!Index.IsOpen() || Index.BucketCount == 0) return Fail(2052);
  Index.SearchKey = StoredKey(key);
  Index.SearchMask = 0xFFFFFFFFu;
  if (Index.FindFirst(BucketOf(key))) return Fail(2052);
  // Entries above the count belong to an append that never committed.
  for (std::uint32_t r = Index.FindNext(); r != 0; r = Index.FindNext())
    if (r <= static_cast<std::uint32_t>(Count)) records.push_back(r);
  return false;
}

bool BookPositionFile::RecordsOf(std::uint64_t key, std::vector<std::uint32_t>& records) {
  std::vector<std::uint32_t> chain;
  records.clear();
  if (Chain(key, chain)) return true;
  BookQuelmEntry entry;
  for (std::uint32_t r : chain) {
    if (ReadRecord(r, entry)) return true;
    if (entry.Key == key) records.push_back(r);
  }
  return false;
}

bool BookPositionFile::FindStart(std::uint64_t key) {
  WalkAt = 0;
  if (Chain(key, Walk)) return true;
  CurrentKey = key;
  return false;
}

BookQuelmEntry* BookPositionFile::ReadEntries() {
  BookQuelmEntry* entry = BookQuelmEntry::Allocate();
  if (!entry) return nullptr;
  while (WalkAt < Walk.size()) {
    if (ReadRecord(Walk[WalkAt++], *entry)) break;
    if (entry->Key == CurrentKey) return entry;
  }
  BookQuelmEntry::Free(entry);
  return nullptr;
}

bool BookPositionFile::FindRecord(std::uint64_t key, const GameMove& move, std::uint32_t& record) {
  record = 0;
  FindFailed = true;
  std::vector<std::uint32_t> records;
  if (Chain(key, records)) return true;
  BookQuelmEntry entry;
  std::uint32_t free = 0;
  for (std::uint32_t r : records) {
    if (ReadRecord(r, entry)) return true;
    if (entry.Key != key) continue;
    if (entry.Move.From == move.From && entry.Move.To == move.To && entry.Move.Promotion == move.Promotion) {
      record = r;
      FindFailed = false;
      return false;
    }
    if (entry.IsFreeRecord()) free = r;
  }
  FindFailed = false;
  record = free;
  return free == 0;
}

bool BookPositionFile::WriteCount() {
  std::uint8_t count[4];
  Put(count, static_cast<std::uint32_t>(Count), 4);
  return SeekTo(Records, 2) || Records.WriteBlock(count, 4);
}

// The record first, forced to the disk, then the count that commits it, then
// its index entry: a crash before the count leaves an uncounted record that
// the next append overwrites, and index entries above the count are ignored.
bool BookPositionFile::Append(BookQuelmEntry& entry) {
  if (!Writable || !Index.Writable) return Fail(2064);
  const std::uint32_t n = static_cast<std::uint32_t>(Count) + 1;
  if (SeekRecord(n) || entry.SavePosition(Records, Version)) return Fail(2056);
  if (Records.Flush()) return Fail(2056);
  Count++;
  if (WriteCount() || Records.Flush()) {
    Count--;
    return Fail(2065);
  }
  // Handed to the system at once: a program killed later must not take the
  // entry of a counted record with it.
  if (Index.Add(BucketOf(entry.Key), StoredKey(entry.Key), n) || Index.Flush()) return Fail(2064);
  return false;
}

bool BookPositionFile::WriteEntry(BookQuelmEntry& entry, bool* appended) {
  if (appended) *appended = false;
  std::uint32_t record = 0;
  if (!FindRecord(entry.Key, entry.Move, record)) {
    if (WriteRecord(record, entry)) return Fail(2055);
    return false;
  }
  if (FindFailed) return true;
  if (Append(entry)) return true;
  if (appended) *appended = true;
  return false;
}

bool BookPositionFile::SetManual(const GameBoard& board, const GameMove& move, bool& appended, std::int32_t value) {
  appended = false;
  const std::uint64_t key = board.HashKey();
  BookQuelmEntry entry;
  bool changed = false;
  std::uint32_t record = 0;
  if (FindRecord(key, move, record)) {
    entry.Set(key, move);
    changed = true;
  } else {
    if (ReadRecord(record, entry)) return true;
    if (!(entry.Move.From == move.From && entry.Move.To == move.To && entry.Move.Promotion == move.Promotion)) {
      entry.Set(key, move);  // the free record takes the move over
      changed = true;
    }
  }
  if (entry.Manual != value) {
    entry.Manual = value;
    changed = true;
  }
  if (!changed) return false;
  if (WriteEntry(entry, &appended)) return Fail(2055);
  return false;
}

template <typename Clear>
bool BookPositionFile::ClearAll(Clear clear) {
  if (!Writable) return Fail(2038);
  BookQuelmEntry entry;
  for (std::uint32_t n = 1; n <= static_cast<std::uint32_t>(Count); n++) {
    if (ReadRecord(n, entry)) return true;
    clear(entry);
    if (WriteRecord(n, entry)) return true;
  }
  Flush();
  return false;
}

bool BookPositionFile::ClearDBStats() {
  return ClearAll([](BookQuelmEntry& e) { e.DBGames = e.DBWins = e.DBDraws = e.DBLosses = 0; });
}

bool BookPositionFile::ClearOwnStats() {
  return ClearAll([](BookQuelmEntry& e) { e.OwnGames = e.OwnWins = e.OwnDraws = e.OwnLosses = 0; });
}

bool BookPositionFile::ClearManual() {
  return ClearAll([](BookQuelmEntry& e) { e.Manual = 0; });
}

bool BookPositionFile::ClearMinimax() {
  return ClearAll([](BookQuelmEntry& e) { e.MinimaxDepth = e.MinimaxScore = e.Minimax2Depth = e.Minimax2Score = 0; });
}

bool BookPositionFile::BuildIndex(const std::string& name) {
  IndexFile built;
  if (built.Create(name.c_str(), std::max<std::int64_t>(Count, 1))) return Fail(2060);
  const std::uint32_t storedVersion = built.Version;
  BookQuelmEntry entry;
  for (std::uint32_t n = 1; n <= static_cast<std::uint32_t>(Count); n++) {
    if (ReadRecord(n, entry)) return true;
    const std::uint32_t stored = (storedVersion & IndexFile::VersionBits) >= 3 ? static_cast<std::uint32_t>(entry.Key >> 32)
                                                                                : static_cast<std::uint32_t>(entry.Key);
    if (built.Add(static_cast<std::uint32_t>(entry.Key) & (built.BucketCount - 1), stored, n)) return Fail(2060);
    if ((n + 1) % 8192 == 0) Printer.Print(ChannelStderr, false, Messages.Text(2061), n + 1, Count), Printer.Print(ChannelStderr, false, "\n");
  }
  if (built.Close() || SyncFileToDisk(name.c_str())) return Fail(2060);
  return false;
}

bool BookPositionFile::RebuildIndex() {
  if (!Writable) return Fail(2038);
  const std::string building = NewBase(BaseName) + ".bpi";
  if (BuildIndex(building)) {
    std::remove(building.c_str());
    return true;
  }
  Index.Close();
  if (std::rename(building.c_str(), IndexName.c_str()) != 0) {
    std::remove(building.c_str());
    Index.Open(IndexName.c_str(), true);
    return Fail(2060);
  }
  SyncDirectory(DirectoryOf(IndexName).c_str());
  if (Index.Open(IndexName.c_str(), true)) return Fail(2045);
  return false;
}

// Roll a cut-short reorganisation forward when its marker says the new pair
// was complete; otherwise its files are unfinished and go.
bool BookPositionFile::FinishReorganise() {
  const std::string newBase = NewBase(BaseName), marker = Marker(BaseName);
  const std::string newRecords = newBase + ".bpf", newIndex = newBase + ".bpi";
  if (!FileExists(marker.c_str())) {
    std::remove(newRecords.c_str());
    std::remove(newIndex.c_str());
    return false;
  }
  if (FileExists(newRecords.c_str()) && std::rename(newRecords.c_str(), RecordName.c_str()) != 0) return true;
  if (FileExists(newIndex.c_str()) && std::rename(newIndex.c_str(), IndexName.c_str()) != 0) return true;
  SyncDirectory(DirectoryOf(RecordName).c_str());
  std::remove(marker.c_str());
  SyncDirectory(DirectoryOf(RecordName).c_str());
  return false;
}

bool BookPositionFile::Reorganise() {
  if (!Writable) return Fail(2038);
  // Each position's records in the order the position first appears.
  std::vector<std::uint64_t> order;
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> groups;
  BookQuelmEntry entry;
  for (std::uint32_t n = 1; n <= static_cast<std::uint32_t>(Count); n++) {
    if (ReadRecord(n, entry)) return true;
    auto [group, fresh] = groups.try_emplace(entry.Key);
    if (fresh) order.push_back(entry.Key);
    group->second.push_back(n);
  }
  const std::string newBase = NewBase(BaseName), marker = Marker(BaseName);
  const std::string newRecords = newBase + ".bpf", newIndex = newBase + ".bpi";
  std::remove(marker.c_str());
  BinFile64 out;
  auto abandon = [&](int id) {
    out.Close();
    std::remove(newRecords.c_str());
    std::remove(newIndex.c_str());
    return Fail(id);
  };
  if (out.Create(newRecords.c_str(), BinFileBinary | BinFileUpdate)) return abandon(2063);
  std::uint8_t header[HeaderBytes] = {};
  header[0] = static_cast<std::uint8_t>(Version);
  Put(header + 2, static_cast<std::uint32_t>(Count), 4);
  if (out.WriteBlock(header, HeaderBytes)) return abandon(2063);
  IndexFile built;
  if (built.Create(newIndex.c_str(), std::max<std::int64_t>(Count, 1))) return abandon(2060);
  const bool highHalf = (built.Version & IndexFile::VersionBits) >= 3;
  std::uint32_t written = 0, moved = 0;
  for (std::uint64_t key : order) {
    for (std::uint32_t n : groups[key]) {
      if (ReadRecord(n, entry)) return built.Close(), abandon(2054);
      if (entry.SavePosition(out, Version)) return built.Close(), abandon(2055);
      written++;
      if (n != written) moved++;
      const std::uint32_t stored = highHalf ? static_cast<std::uint32_t>(key >> 32) : static_cast<std::uint32_t>(key);
      if (built.Add(static_cast<std::uint32_t>(key) & (built.BucketCount - 1), stored, written))
        return built.Close(), abandon(2060);
      if (written % 8192 == 0)
        Printer.Print(ChannelStderr, false, Messages.Text(2061), written, Count), Printer.Print(ChannelStderr, false, "\n");
    }
  }
  Printer.Print(ChannelStderr, false, Messages.Text(2058), written, Count, moved);
  Printer.Print(ChannelStderr, false, "\n");
  if (built.Close() || out.Flush() || out.Close() || SyncFileToDisk(newIndex.c_str())) return abandon(2063);
  // The marker makes the new pair the book: from here on an open finishes
  // the renames instead of dropping the new files.
  BinFile64 mark;
  if (mark.Create(marker.c_str(), BinFileBinary | BinFileUpdate) || mark.Flush() || mark.Close()) {
    std::remove(marker.c_str());
    return abandon(2063);
  }
  SyncDirectory(DirectoryOf(RecordName).c_str());
  Close();
  Writable = true;
  if (FinishReorganise()) return Fail(2063);
  if (Open(BaseName.c_str(), true)) return true;
  Printer.Print(ChannelStderr, false, "%s\n", Messages.Text(2062));
  return false;
}
