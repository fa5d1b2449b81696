// The learning file "quelm.plf": headerless 24-byte records, read into the
// learning table at start-up and saved whole when a game ends or the program
// quits.
#include "frontend/learningfile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/frontendport.h"
#include "support/binfile.h"
#include "support/filereplace.h"

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

bool LearningFile::ReadInto(const char* name, bool tablePrevails, ReadCounts& counts) {
  counts = {};
  BinFile64 file;
  if (file.Open(name, BinFileBinary)) return true;
  const std::int64_t length = LengthOf(file);
  if (length < 0) return true;
  std::int64_t wholeRecords = length / RecordSize;
  counts.Trailing = static_cast<std::uint32_t>(length % RecordSize);

  const std::uint32_t rejectedBefore = ScoresRejected, droppedBefore = BucketOverflows;
  std::uint32_t offered = 0;
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
        ++counts.Refused;
        continue;
      }
      const KeyPair key{entry.Hashkey, entry.Pawnkey};
      ++offered;
      int score, depth;
      if (tablePrevails && Find(key, score, depth) && depth >= entry.Depth) continue;
      Add(key, entry.Score, entry.Depth);
    }
    // Nothing searches while the file is read, so the arrays outgrown
    // meanwhile can go at once.
    ReleaseOutgrown();
  }
  file.Close();
  counts.Rejected = ScoresRejected - rejectedBefore;
  counts.Dropped = BucketOverflows - droppedBefore;
  counts.Kept = offered - counts.Rejected - counts.Dropped;
  return false;
}

bool LearningFile::Load() {
  const char* name = FileName();
  ReadCounts counts;
  const bool failed = ReadInto(name, false, counts);
  RecordsRead = counts.Kept;
  RecordsRefused = counts.Refused;
  RecordsRejected = counts.Rejected;
  RecordsDropped = counts.Dropped;
  TrailingBytes = counts.Trailing;
  if (failed) {
    WriteLearningLog(false, "Not able to open the learning file '%s'\n", name);
    return true;
  }
  if (TrailingBytes)
    WriteLearningLog(false, "The learning file '%s' ends in %u bytes that are no whole record; they are ignored\n", name,
               TrailingBytes);
  if (RecordsRefused)
    WriteLearningLog(false, "The learning file '%s' holds %u records with an impossible depth; they are ignored\n", name,
               RecordsRefused);
  if (RecordsDropped)
    WriteLearningLog(false, "The learning file '%s' holds %u records for full buckets; they are dropped\n", name,
               RecordsDropped);
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
      WriteLearningLog(false, "The learning file '%s' is being saved by another program; this save is skipped\n", name);
      return true;
    case FileReplacement::Status::Failed:
      WriteLearningLog(false, "Not able to open the learning file '%s'\n", name);
      return true;
  }
  // Another engine in this directory may have saved since this one loaded:
  // its records join the table before the file is replaced. No file yet is
  // nothing to merge.
  ReadCounts merged;
  ReadInto(name, true, merged);

  auto chunk = std::make_unique<unsigned char[]>(RecordSize * RecordsPerChunk);
  int filled = 0;
  int chunkBucket = 0, chunkIndex = 0;  // the first record of the chunk, for the report
  auto flush = [&]() {
    if (filled == 0) return false;
    if (out.Write(chunk.get(), static_cast<std::size_t>(filled) * RecordSize)) {
      WriteLearningLog(false, "Not able to write a learning file entry (%d,%d/%d)\n", chunkBucket, chunkIndex,
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
    WriteLearningLog(false, "Not able to replace the learning file '%s'\n", name);
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
  if (table->RecordsDropped) {
    std::snprintf(text, sizeof text, "Learning: %u records of the file were dropped, their part of the table is full",
                  table->RecordsDropped);
    ActiveFrontEnd->Info(text);
  }
}
