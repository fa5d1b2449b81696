// The learning table in memory (buckets of entries by key, the depth rule for
// a position found again, the score limits of what is worth keeping), its
// file, and the console's learning runs.
#include "frontend/learning.h"

#include <signal.h>

#include <algorithm>
#include <cstdarg>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <set>

#include "engine/driver.h"
#include "engine/game.h"
#include "engine/movepick.h"
#include "engine/movetext.h"
#include "engine/root.h"
#include "engine/smp.h"
#include "engine/stats.h"
#include "engine/timeman.h"
#include "engine/tt.h"
#include "frontend/frontend.h"
#include "frontend/settings.h"
#include "support/binfile.h"
#include "support/filereplace.h"
#include "support/input.h"
#include "support/logger.h"
#include "support/output.h"

Learning* ActiveLearning = nullptr;
volatile std::sig_atomic_t DeepLearnAbort = 0;

namespace {

void WriteToLog(bool verboseOnly, const char* format, ...) __attribute__((format(printf, 2, 3)));

void WriteToLog(bool verboseOnly, const char* format, ...) {
  Logger* log = ActiveLogger;
  if (!log || !log->IsOpen() || (verboseOnly && !log->Verbose)) return;
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  log->Write(LogText, text);
}

// An array of entries carries one hidden slot in front of it that links to
// the array it replaced, so that outgrown arrays can be freed later, once no
// reader can hold them any more.
LearningEntry* AllocateEntries(int capacity, LearningEntry* outgrown) {
  void* block = std::malloc(sizeof(LearningEntry) * (static_cast<std::size_t>(capacity) + 1));
  if (!block) return nullptr;
  auto* slots = static_cast<LearningEntry*>(block);
  std::memcpy(&slots[0], &outgrown, sizeof outgrown);
  return slots + 1;
}

LearningEntry* OutgrownOf(LearningEntry* entries) {
  LearningEntry* outgrown;
  std::memcpy(&outgrown, entries - 1, sizeof outgrown);
  return outgrown;
}

void SetOutgrown(LearningEntry* entries, LearningEntry* outgrown) { std::memcpy(entries - 1, &outgrown, sizeof outgrown); }

void FreeEntries(LearningEntry* entries) {
  while (entries) {
    LearningEntry* outgrown = OutgrownOf(entries);
    std::free(entries - 1);
    entries = outgrown;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Buckets

bool LearningContainer::Find(const KeyPair& key, int& score, int& depth) const {
  const int count = Count.load(std::memory_order_acquire);
  LearningEntry* entries = Entries.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i) {
    if (entries[i].Hashkey != key.Hashkey || entries[i].Pawnkey != key.Pawnkey) continue;
    depth = std::atomic_ref<std::int32_t>(entries[i].Depth).load(std::memory_order_acquire);
    score = std::atomic_ref<std::int32_t>(entries[i].Score).load(std::memory_order_relaxed);
    return true;
  }
  return false;
}

bool LearningContainer::Add(const KeyPair& key, int score, int depth, bool& isNew) {
  isNew = false;
  const int count = Count.load(std::memory_order_relaxed);
  LearningEntry* entries = Entries.load(std::memory_order_relaxed);
  for (int i = 0; i < count; ++i) {
    if (entries[i].Hashkey != key.Hashkey || entries[i].Pawnkey != key.Pawnkey) continue;
    // A deeper (or equally deep, newer) search knows better.
    if (depth >= entries[i].Depth) {
      std::atomic_ref<std::int32_t>(entries[i].Score).store(score, std::memory_order_relaxed);
      std::atomic_ref<std::int32_t>(entries[i].Depth).store(depth, std::memory_order_release);
    }
    return false;
  }
  if (count == Capacity) {
    LearningEntry* grown = AllocateEntries(Capacity + 4, entries);
    if (!grown) {
      WriteToLog(false, "Could not allocate memory for a Learning Container\n");
      return true;
    }
    if (count) std::memcpy(grown, entries, sizeof(LearningEntry) * count);
    grown[count] = {key.Hashkey, key.Pawnkey, score, depth};
    Entries.store(grown, std::memory_order_release);
    Capacity += 4;
  } else {
    entries[count] = {key.Hashkey, key.Pawnkey, score, depth};
  }
  Count.store(count + 1, std::memory_order_release);
  isNew = true;
  return false;
}

void LearningContainer::ReleaseOutgrown() {
  LearningEntry* entries = Entries.load(std::memory_order_relaxed);
  if (!entries) return;
  FreeEntries(OutgrownOf(entries));
  SetOutgrown(entries, nullptr);
}

void LearningContainer::Free() {
  FreeEntries(Entries.load(std::memory_order_relaxed));
  Entries.store(nullptr, std::memory_order_relaxed);
  Count.store(0, std::memory_order_relaxed);
  Capacity = 0;
}

// ---------------------------------------------------------------------------
// The table

Learning::~Learning() = default;  // each bucket frees its own arrays

bool Learning::Add(const KeyPair& key, int score, int depth) {
  if (score > 5500) {
    WriteToLog(true, "Learning::Add() - Entry rejected as the score is above the maximum: %d\n", score);
    return false;
  }
  if (score < -7750) {
    WriteToLog(true, "Learning::Add() - Entry rejected as the score is below the minimum: %d\n", score);
    return false;
  }
  bool isNew = false;
  if (Containers[BucketOf(key.Hashkey)].Add(key, score, depth, isNew)) return true;
  if (isNew) ++EntryCount;
  return false;
}

void Learning::ReleaseOutgrown() {
  // Every caller runs between searches; should one ever run while worker
  // threads search, the outgrown arrays simply wait for a later call.
  if (AnyWorkerRunning()) return;
  for (LearningContainer& container : Containers) container.ReleaseOutgrown();
}

void Learning::FreeBuckets() {
  for (LearningContainer& container : Containers) container.Free();
  EntryCount = 0;
}

// ---------------------------------------------------------------------------
// The file: headerless 24-byte records, little-endian.

namespace {

constexpr int RecordSize = 24;
constexpr int RecordsPerChunk = 2730;  // 64 KB of records per read or write

void EncodeRecord(const LearningEntry& entry, unsigned char* out) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(entry.Hashkey >> (8 * i));
  for (int i = 0; i < 8; ++i) out[8 + i] = static_cast<unsigned char>(entry.Pawnkey >> (8 * i));
  const auto score = static_cast<std::uint32_t>(entry.Score);
  const auto depth = static_cast<std::uint32_t>(entry.Depth);
  for (int i = 0; i < 4; ++i) out[16 + i] = static_cast<unsigned char>(score >> (8 * i));
  for (int i = 0; i < 4; ++i) out[20 + i] = static_cast<unsigned char>(depth >> (8 * i));
}

LearningEntry DecodeRecord(const unsigned char* in) {
  LearningEntry entry{};
  std::uint32_t score = 0, depth = 0;
  for (int i = 7; i >= 0; --i) entry.Hashkey = entry.Hashkey << 8 | in[i];
  for (int i = 7; i >= 0; --i) entry.Pawnkey = entry.Pawnkey << 8 | in[8 + i];
  for (int i = 3; i >= 0; --i) score = score << 8 | in[16 + i];
  for (int i = 3; i >= 0; --i) depth = depth << 8 | in[20 + i];
  entry.Score = static_cast<std::int32_t>(score);
  entry.Depth = static_cast<std::int32_t>(depth);
  return entry;
}

// The file's length in bytes, -1 when it cannot be told; the file is left at
// its start.
std::int64_t LengthOf(BinFile64& file) {
  FilePos end;
  if (file.SeekFromEnd(0) || file.Tell(end) || file.Rewind()) return -1;
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(end.High) << 32 | end.Low);
}

}  // namespace

LearningFile::~LearningFile() {
  if (EntryCount != 0 && !Save()) FreeBuckets();
  std::free(LearningFileName);
}

const char* LearningFile::FileName() {
  if (!LearningFileName) LearningFileName = strdup(DefaultName);
  return LearningFileName ? LearningFileName : DefaultName;
}

bool LearningFile::Load() {
  RecordsRead = RecordsRefused = TrailingBytes = 0;
  const char* name = FileName();
  BinFile64 file;
  if (file.Open(name, BinFileBinary)) {
    WriteToLog(false, "Not able to open the learning file '%s'\n", name);
    return true;
  }
  const std::int64_t length = LengthOf(file);
  if (length < 0) {
    WriteToLog(false, "Not able to open the learning file '%s'\n", name);
    return true;
  }
  std::int64_t wholeRecords = length / RecordSize;
  TrailingBytes = static_cast<std::uint32_t>(length % RecordSize);

  auto chunk = std::make_unique<unsigned char[]>(RecordSize * RecordsPerChunk);
  while (wholeRecords > 0) {
    const int records = static_cast<int>(std::min<std::int64_t>(wholeRecords, RecordsPerChunk));
    if (file.ReadBlock(chunk.get(), static_cast<std::uint32_t>(records * RecordSize))) break;  // shrunk meanwhile
    wholeRecords -= records;
    for (int r = 0; r < records; ++r) {
      const LearningEntry entry = DecodeRecord(chunk.get() + r * RecordSize);
      // No search stores a depth outside this range: the record is damage,
      // and a huge depth would make its score trusted everywhere.
      if (entry.Depth < 0 || entry.Depth > MaxLearnedDepth) {
        ++RecordsRefused;
        continue;
      }
      ++RecordsRead;
      Add({entry.Hashkey, entry.Pawnkey}, entry.Score, entry.Depth);
    }
  }
  file.Close();
  if (TrailingBytes)
    WriteToLog(false, "The learning file '%s' ends in %u bytes that are no whole record; they are ignored\n", name,
               TrailingBytes);
  if (RecordsRefused)
    WriteToLog(false, "The learning file '%s' holds %u records with an impossible depth; they are ignored\n", name,
               RecordsRefused);
  // Nothing searches while the file loads, so the arrays outgrown meanwhile
  // can go at once.
  ReleaseOutgrown();
  return false;
}

bool LearningFile::Save() {
  if (EntryCount == 0) return false;
  // Save runs on the main thread between searches: no reader holds an
  // outgrown array now.
  ReleaseOutgrown();
  const char* name = FileName();
  FileReplacement out;
  switch (out.Begin(name, LockWaitMs)) {
    case FileReplacement::Status::Ready:
      break;
    case FileReplacement::Status::Busy:
      WriteToLog(false, "The learning file '%s' is being saved by another program; this save is skipped\n", name);
      return true;
    case FileReplacement::Status::Failed:
      WriteToLog(false, "Not able to open the learning file '%s'\n", name);
      return true;
  }

  auto chunk = std::make_unique<unsigned char[]>(RecordSize * RecordsPerChunk);
  int filled = 0;
  int chunkBucket = 0, chunkIndex = 0;  // the first record of the chunk, for the report
  auto flush = [&]() {
    if (filled == 0) return false;
    if (out.Write(chunk.get(), static_cast<std::size_t>(filled) * RecordSize)) {
      WriteToLog(false, "Not able to write a learning file entry (%d,%d/%d)\n", chunkBucket, chunkIndex,
                 Containers[chunkBucket].Count.load(std::memory_order_relaxed));
      return true;
    }
    filled = 0;
    return false;
  };
  for (int b = 0; b < Buckets; ++b) {
    const LearningContainer& container = Containers[b];
    const int count = container.Count.load(std::memory_order_relaxed);
    const LearningEntry* entries = container.Entries.load(std::memory_order_relaxed);
    for (int i = 0; i < count; ++i) {
      if (filled == 0) {
        chunkBucket = b;
        chunkIndex = i;
      }
      EncodeRecord(entries[i], chunk.get() + filled * RecordSize);
      if (++filled == RecordsPerChunk && flush()) return true;
    }
  }
  if (flush()) return true;
  if (out.Commit()) {
    WriteToLog(false, "Not able to replace the learning file '%s'\n", name);
    return true;
  }
  return false;
}

bool LearningFile::Close() {
  if (EntryCount == 0) return false;
  if (Save()) return true;
  FreeBuckets();
  return false;
}

void OpenLearning() {
  auto* table = new LearningFile;
  ActiveLearning = table;
  // A missing file is the normal first run: the log has the only trace.
  if (table->Load() || !ActiveFrontEnd) return;
  char text[256];
  std::snprintf(text, sizeof text, "Learning: %u positions read from '%s'", table->RecordsRead,
                table->LearningFileName ? table->LearningFileName : LearningFile::DefaultName);
  ActiveFrontEnd->Info(text);
  if (table->TrailingBytes) {
    std::snprintf(text, sizeof text, "Learning: the last %u bytes of the file are no whole record and were ignored",
                  table->TrailingBytes);
    ActiveFrontEnd->Info(text);
  }
  if (table->RecordsRefused) {
    std::snprintf(text, sizeof text, "Learning: %u damaged records of the file were ignored", table->RecordsRefused);
    ActiveFrontEnd->Info(text);
  }
}

// ---------------------------------------------------------------------------
// "learn" and "deeplearn"

namespace {

constexpr int PvLimit = 12;
constexpr int DeepLearnWidths[DeepLearnLevels] = {5, 3, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1};

// Positions the deeplearn walk has met in the current iteration.
std::set<std::uint64_t> VisitedPositions;

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));

void Print(const char* format, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  Printer.Print(ChannelStdout, true, "%s", text);
}

// A game of its own, set from the position only: the history of the caller's
// game does not matter to what is learned about this position.
std::unique_ptr<ChessGame> PrivateGame(ChessGame& game) {
  std::unique_ptr<ChessGame> copy(new (std::nothrow) ChessGame);
  if (!copy) {
    if (ActiveFrontEnd) ActiveFrontEnd->Info("Cannot allocate memory for ChessGame object");
    return nullptr;
  }
  copy->SetFEN(game.GetFEN());
  return copy;
}

void SetFixedDepth(int depth) {
  ClockSettings::FixedDepth = depth;
  ClockSettings::MovesToGo = 0;
  ClockSettings::BaseSeconds = 0;
  ClockSettings::IncrementMs = 0;
  ClockSettings::Unused = 0;
}

// A fixed-depth search of the game's position as the engine's own move; the
// score in white's view. True when the user asked for the run to end: a
// line left for the idle loop (such as "quit") or the end of input stops
// every search at once, so going on would only spin.
bool SearchWhiteScore(ChessGame& game, int depth, int& whiteScore) {
  SetFixedDepth(depth);
  if (ActiveFrontEnd) ActiveFrontEnd->Mode = ModeThinking;
  AllocateTime(game, AllocateOwnMove);
  const Move none = NoMove;
  Think(game, &none);
  const int score = Statistics[0].LastScore;
  whiteScore = game.Side == 0 ? score : -score;
  return Input::IsAvailable();
}

const char* BestMoveText(const ChessGame& game) { return BestMove == NoMove ? "none" : MoveToText(game, BestMove); }

// A stored result deeper than the asked depth lifts it (whole plies).
int LearnedDepth(const ChessGame& game, int depth) {
  int score, stored;
  if (ActiveLearning && ActiveLearning->Find(game.Keys(), score, stored) && stored > depth * 4) return stored / 4;
  return depth;
}

// Takes back one move, never behind the private game's start.
void TakeBackOne(ChessGame& game) {
  if (game.GamePly > 0) game.TakeBack();
}

}  // namespace

void Learn(ChessGame* game, int depth) {
  if (!ActiveLearning) {
    Print("Learning is not enabled\n");
    return;
  }
  std::unique_ptr<ChessGame> work = PrivateGame(*game);
  if (!work) return;

  Move pvMove[PvLimit] = {};
  int pvDepth[PvLimit] = {};
  int pvScore[PvLimit] = {};
  int base = depth;
  while (base < 128) {
    SetFixedDepth(base);
    int counter = 1;
    int length = 0;
    for (;;) {
      Print("\nIteration %d-%d\n", base, counter);
      Print("\nBuilding principle variation\n");
      for (int i = 0; i < length; ++i) {
        Print("  (%d) %s (%5d)\n", pvDepth[i], MoveToText(*work, pvMove[i]), pvScore[i]);
        work->PlayMove(pvMove[i]);
      }

      int minDepth = 128;
      int s = 0;
      do {
        const int i = length;
        int d = LearnedDepth(*work, base);
        if (i > 0 && d < pvDepth[i - 1]) d = pvDepth[i - 1] - 1;
        pvDepth[i] = d;
        minDepth = std::min(minDepth, d);
        Print("+ (%d) ", d);
        if (SearchWhiteScore(*work, d, s)) return;
        Print("%s (%5d)\n", BestMoveText(*work), s);
        // A mate or stalemate on the board (or a search without a result)
        // has no move to extend the line by.
        if (BestMove == NoMove || !work->PlayMove(BestMove)) break;
        pvScore[i] = s;
        pvMove[i] = BestMove;
        ++length;
      } while (s >= -3500 && s <= 3500 && length < PvLimit);

      TakeBackOne(*work);
      TakeBackOne(*work);
      Print("\nReverse principle variation traversal\n");
      int changed = PvLimit;
      int previous = s;
      for (int i = length - 2; i >= 0; --i) {
        Print("- (%d) ", pvDepth[i]);
        if (SearchWhiteScore(*work, pvDepth[i], s)) return;
        if (s != previous) changed = i;
        previous = s;
        pvScore[i] = s;
        Print("%s (%5d)\n", BestMoveText(*work), s);
        TakeBackOne(*work);
      }
      // Back at the start, whatever the line's length was.
      while (work->GamePly > 0) work->TakeBack();

      ActiveLearning->Save();
      ++counter;
      length = std::min(changed, length);
      if (minDepth > base) {
        base = minDepth + (changed == PvLimit ? 1 : 0);
        break;
      }
      if (changed == PvLimit) {
        ++base;
        break;
      }
    }
  }
}

extern "C" void InterruptDeepAnalysis(int) { DeepLearnAbort = 1; }

int DeepLearnNode(ChessGame* game, DeepLearnLevel levels[DeepLearnLevels], int depth, int level) {
  assert(level >= 0 && level < DeepLearnLevels);
  if (DeepLearnAbort) return DeepLearnLevels;
  const bool visited = !VisitedPositions.insert(game->Hashkey).second;

  const int width = DeepLearnWidths[level];
  Settings::MultiPv = width;
  DeepLearnLevel& node = levels[level];
  node.depth = LearnedDepth(*game, depth);
  if (level > 0 && levels[level - 1].depth - 1 > node.depth) node.depth = levels[level - 1].depth - 1;

  auto printPath = [&](const char* mark) {
    Print("%s [%2d] ", mark, node.depth);
    for (int k = 0; k < level; ++k) Print("%s (%d) ", MoveToText(*game, levels[k].moves[levels[k].index]), levels[k].index + 1);
  };
  printPath("+");
  int score;
  if (SearchWhiteScore(*game, node.depth, score)) DeepLearnAbort = 1;
  const int s = game->Side == 0 ? score : -score;  // the side to move's view again
  node.score = score;
  Print("%s { %d }\n", BestMoveText(*game), node.score);

  if (DeepLearnAbort || level >= (node.depth * 3) / 4 || level >= DeepLearnLevels - 1 || s < -3500 || s > 3500 ||
      visited) {
    TranspositionTable::Clear();
    return DeepLearnLevels;
  }

  node.count = 0;
  for (int j = 0; j < width && MultiPvLines[j].Pv[0] != NoMove; ++j)
    if (MultiPvLines[j].Score >= s - 1000 && node.count < DeepLearnLevel::MaxMoves)
      node.moves[node.count++] = MultiPvLines[j].Pv[0];

  int result = DeepLearnLevels;
  int done = 0;
  for (;;) {
    for (int m = done; m < node.count; ++m) {
      node.index = m;
      if (game->PlayMove(node.moves[m])) {
        result = std::min(result, DeepLearnNode(game, levels, depth, level + 1));
        game->TakeBack();
      }
      if (DeepLearnAbort) return result;
    }
    done = node.count;

    Settings::MultiPv = width;
    printPath("-");
    int white2;
    if (SearchWhiteScore(*game, node.depth, white2)) DeepLearnAbort = 1;
    const int s2 = game->Side == 0 ? white2 : -white2;
    for (int j = 0; j < width && MultiPvLines[j].Pv[0] != NoMove; ++j) {
      if (MultiPvLines[j].Depth < node.depth) {
        Print("Error in multipv, not %d moves available\n", width);
        break;
      }
      if (MultiPvLines[j].Score < s2 - 1000) break;
      const Move move = MultiPvLines[j].Pv[0];
      bool known = false;
      for (int k = 0; k < node.count; ++k) known = known || (node.moves[k] & 0xffff) == (move & 0xffff);
      // The level holds 16 moves: a node that keeps finding new good moves
      // stops widening there.
      if (!known && node.count < DeepLearnLevel::MaxMoves) node.moves[node.count++] = move;
    }
    Print("%s { %d }\n", BestMoveText(*game), white2);
    if (DeepLearnAbort) return result;
    if (node.count == done) return white2 != node.score ? level : result;
  }
}

void DeepLearn(ChessGame* game, int depth) {
  if (!ActiveLearning) {
    Print("Learning is not enabled\n");
    return;
  }
  std::unique_ptr<ChessGame> work = PrivateGame(*game);
  if (!work) return;

  struct sigaction interrupt = {}, previous = {};
  interrupt.sa_handler = InterruptDeepAnalysis;
  sigemptyset(&interrupt.sa_mask);
  interrupt.sa_flags = SA_RESTART;
  sigaction(SIGINT, &interrupt, &previous);
  DeepLearnAbort = 0;

  DeepLearnLevel levels[DeepLearnLevels] = {};
  for (int d = depth; d < 128 && !DeepLearnAbort; ++d) {
    SetFixedDepth(d);
    Print("\nIteration depth %d\n", d);
    VisitedPositions.clear();
    DeepLearnNode(work.get(), levels, d, 0);
    ActiveLearning->Save();
  }
  sigaction(SIGINT, &previous, nullptr);
  // The handler only raises the flag; the words for the user come from here.
  if (DeepLearnAbort) Print("\nInterrupting deep analysis ... <press enter>                \n");
  VisitedPositions.clear();
}

namespace {

// The depth after the command word; false when there is no positive number.
bool ParseDepth(const char* args, int& depth) {
  if (!args) return false;
  while (*args == ' ' || *args == '\t') ++args;
  if (*args < '0' || *args > '9') return false;
  depth = std::atoi(args);
  return depth > 0;
}

}  // namespace

void LearnCommand(ChessGame& game, const char* args) {
  int depth;
  if (ParseDepth(args, depth)) Learn(&game, depth);
}

void DeepLearnCommand(ChessGame& game, const char* args) {
  int depth;
  if (ParseDepth(args, depth)) DeepLearn(&game, depth);
}
