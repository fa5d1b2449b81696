// The index file: chains of blocks per bucket, appended to at the end of the
// file, compacted by a rebuild into a new file that replaces the old by rename.
//
// Every position and count read from the file is checked before it is used:
// slots and links point behind the slots and inside the file, a block fits the
// file and holds no more entries than its capacity, and a chain only moves
// forward (blocks are always appended, so a link to an earlier block can only
// be damage), which bounds every walk.
#include "support/indexfile.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "support/messages.h"
#include "support/output.h"

namespace {

constexpr int ReadWriteNew = BinFileBinary | BinFileUpdate | BinFileWrite;  // 11
constexpr int ReadWriteExisting = BinFileBinary | BinFileUpdate;             // 3
constexpr int ReadOnly = BinFileBinary;                                      // 1

// The stream back end holds signed 32-bit offsets.
constexpr std::uint64_t NarrowFileLimit = 0x7FFFFFFFu;
// A narrow index beyond this size is rebuilt with 64-bit positions.
constexpr std::uint64_t WideningSize = 0x20000000u;
constexpr std::uint32_t ProgressMessage = 23;

std::uint64_t OffsetOf(const FilePos& pos) {
  if (pos.PosKind == FilePos::Offset32) return static_cast<std::uint32_t>(pos.Offset);
  if (pos.PosKind == FilePos::Offset64) return (static_cast<std::uint64_t>(pos.High) << 32) | pos.Low;
  return 0;
}

FilePos PositionAt(std::uint64_t offset, bool wide) {
  FilePos pos;
  if (offset == 0) return pos;
  if (wide) {
    pos.PosKind = FilePos::Offset64;
    pos.Low = static_cast<std::uint32_t>(offset);
    pos.High = static_cast<std::uint32_t>(offset >> 32);
  } else {
    pos.PosKind = FilePos::Offset32;
    pos.Offset = static_cast<std::int32_t>(offset);
  }
  return pos;
}

std::unique_ptr<BinFile> MakeFile(bool wide) {
  if (wide) return std::unique_ptr<BinFile>(new BinFile64);
  return std::unique_ptr<BinFile>(new BinFile32);
}

bool SeekFile(BinFile& file, std::uint64_t offset, bool wide) {
  if (!wide && offset > NarrowFileLimit) return true;
  FilePos pos = PositionAt(offset, wide);
  return offset == 0 ? file.Rewind() : file.Seek(pos);
}

bool WriteFilePosition(BinFile& file, std::uint64_t offset, bool wide) {
  if (offset == 0) return file.WriteNullPos();
  if (!wide && offset > NarrowFileLimit) return true;
  return file.WritePos(PositionAt(offset, wide));
}

bool IsPowerOfTwo(std::uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

std::uint32_t BucketsFor(std::int64_t expected) {
  std::int64_t wanted = expected / 2048;
  if (wanted > IndexFile::MaxCreatedBuckets) wanted = IndexFile::MaxCreatedBuckets;
  std::uint32_t n = 1;
  while (n < wanted) n <<= 1;
  return n;
}

std::uint32_t IntegerSquareRoot(std::uint32_t n) {
  std::uint32_t root = static_cast<std::uint32_t>(std::sqrt(static_cast<double>(n)));
  while (std::uint64_t(root) * root > n) root--;
  while (std::uint64_t(root + 1) * (root + 1) <= n) root++;
  return root;
}

void PutU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; i++) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetU32(const std::uint8_t* at) {
  return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 | std::uint32_t(at[3]) << 24;
}

std::uint32_t GetU24(const std::uint8_t* at) {
  return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16;
}

// The temporary file lies beside the index so that rename can replace it.
std::string TemporaryNameBeside(const std::string& indexName) {
  const std::size_t slash = indexName.rfind('/');
  std::string directory = slash == std::string::npos ? std::string() : indexName.substr(0, slash + 1);
  char base[48];
  std::snprintf(base, sizeof base, "__TMPREI_%d.fxi", static_cast<int>(::getpid()));
  return directory + base;
}

}  // namespace

IndexFile::~IndexFile() { Close(); }

bool IndexFile::SetName(const char* name) {
  if (!name || !*name) return true;
  // The name may be the current one's own text.
  if (name != FileName.c_str()) FileName = name;
  return false;
}

bool IndexFile::OpenFile(bool wide, int flags) {
  File = MakeFile(wide);
  bool failed = (flags & BinFileWrite) ? File->Create(FileName.c_str(), flags) : File->Open(FileName.c_str(), flags);
  if (failed) File.reset();
  return failed;
}

bool IndexFile::Fail() {
  Close();
  return true;
}

bool IndexFile::Close() {
  bool failed = false;
  if (File) {
    failed = File->Close();
    File.reset();
  }
  LastBlock.reset();
  BucketCount = 0;
  CurrentBlock = 0;
  return failed;
}

bool IndexFile::Flush() { return File && File->Flush(); }

bool IndexFile::SeekTo(std::uint64_t offset) { return SeekFile(*File, offset, WideFile()); }

bool IndexFile::ReadPosition(std::uint64_t& offset) {
  FilePos pos;
  if (File->ReadPos(pos)) return true;
  offset = OffsetOf(pos);
  return false;
}

bool IndexFile::WritePosition(std::uint64_t offset) { return WriteFilePosition(*File, offset, WideFile()); }

bool IndexFile::MeasureFile() {
  FilePos end;
  if (File->SeekFromEnd(0) || File->Tell(end)) return true;
  FileEnd = OffsetOf(end);
  return false;
}

bool IndexFile::ReadBlockHeader(std::uint64_t block, std::uint32_t& capacity, std::uint32_t& count) {
  if (block < HeaderSize() || block >= FileEnd) return true;
  if (SeekTo(block) || File->ReadU32(capacity) || File->ReadU32(count)) return true;
  return capacity < 1 || count > capacity || block + BlockSize(capacity) > FileEnd;
}

// The link at the end of a checked block; a link must lead forward.
bool IndexFile::ReadNextLink(std::uint64_t block, std::uint32_t capacity, std::uint64_t& next) {
  if (SeekTo(block + BlockSize(capacity) - PositionSize()) || ReadPosition(next)) return true;
  return next != 0 && next < block + BlockSize(capacity);
}

bool IndexFile::Create(const char* name, std::int64_t expectedEntries) {
  Close();
  if (name && SetName(name)) return true;
  Writable = true;
  BucketCount = BucketsFor(expectedEntries);
  Version = expectedEntries <= 0x4000000 ? CurrentVersion : (CurrentVersion | WidePositions);
  EntrySize = 8;
  std::uint32_t buckets = BucketCount;
  // Only a file this call made is taken away again: what would not open
  // (a directory of that name, say) is not ours.
  const bool opened = !OpenFile(WideFile(), ReadWriteNew);
  bool failed = !opened;
  if (!failed) {
    std::vector<std::uint8_t> header(HeaderSize(), 0);
    PutU32(&header[0], Version);
    PutU32(&header[4], BucketCount);
    failed = File->WriteBlock(header.data(), static_cast<std::uint32_t>(header.size())) || File->Flush();
    FileEnd = header.size();
  }
  if (!failed) {
    LastBlock.reset(new (std::nothrow) FilePos[buckets]);
    failed = !LastBlock;
  }
  if (failed) {
    Close();
    if (opened) std::remove(FileName.c_str());
    return true;
  }
  return false;
}

bool IndexFile::Open(const char* name, bool writable) {
  Close();
  if (SetName(name)) return true;
  Writable = writable;
  if (OpenFile(false, writable ? ReadWriteExisting : ReadOnly)) return true;
  if (File->ReadU32(Version)) return Fail();
  std::uint32_t format = Version & VersionBits;
  if (format == 0) {
    Printer.Print(ChannelStdout, false, "Indexfile belongs to older version and cannot be used\n");
    return Fail();
  }
  if (format > CurrentVersion || (Version & ~(VersionBits | WidePositions)) != 0) return Fail();
  EntrySize = format == 1 ? 7 : 8;

  if (WideFile()) {
    // A read-only index is opened read-only here too: asking for write access
    // would refuse a file the caller only reads.
    std::uint32_t again;
    File->Close();
    if (OpenFile(true, writable ? ReadWriteExisting : ReadOnly)) return Fail();
    if (File->ReadU32(again) || again != Version) return Fail();
  }
  std::uint32_t buckets;
  if (File->ReadU32(buckets) || !IsPowerOfTwo(buckets)) return Fail();
  BucketCount = buckets;
  // The slots must lie in the file: this also bounds the cache allocated next.
  if (MeasureFile() || HeaderSize() > FileEnd) return Fail();
  LastBlock.reset(new (std::nothrow) FilePos[buckets]);
  if (!LastBlock) return Fail();
  return false;
}

// A new block of the standard capacity at the end of the file. The block is
// complete before the link to it is written, so an interrupted append leaves
// at worst an unreachable block.
bool IndexFile::AppendBlock(std::uint64_t linkAt, std::uint64_t& block) {
  FilePos end;
  if (File->SeekFromEnd(0) || File->Tell(end)) return true;
  block = OffsetOf(end);
  std::uint64_t size = BlockSize(NewBlockCapacity);
  if (block < HeaderSize() || (!WideFile() && block + size > NarrowFileLimit)) return true;
  if (File->WriteU32(NewBlockCapacity) || File->WriteU32(0)) return true;
  // The entries are skipped: the gap reads as zeros.
  if (SeekTo(block + size - PositionSize()) || File->WriteNullPos()) return true;
  if (SeekTo(linkAt) || WritePosition(block)) return true;
  FileEnd = block + size;
  return false;
}

// The block of the bucket's chain that takes the next entry: the cached last
// block, else the first block with room, else a new block at the end.
bool IndexFile::FindRoom(std::uint32_t bucket, std::uint64_t& block, std::uint32_t& capacity, std::uint32_t& count) {
  block = OffsetOf(LastBlock[bucket]);
  std::uint64_t linkAt = 0;
  if (block == 0) {
    linkAt = SlotOffset(bucket);
    if (SeekTo(linkAt) || ReadPosition(block)) return true;
  }
  for (;;) {
    if (block == 0) {
      if (AppendBlock(linkAt, block)) return true;
      capacity = NewBlockCapacity;
      count = 0;
      break;
    }
    if (ReadBlockHeader(block, capacity, count)) return true;
    if (count < capacity) break;
    std::uint64_t next;
    if (ReadNextLink(block, capacity, next)) return true;
    linkAt = block + BlockSize(capacity) - PositionSize();
    block = next;
  }
  LastBlock[bucket] = PositionAt(block, WideFile());
  return false;
}

bool IndexFile::Add(std::uint32_t bucket, std::uint32_t key, std::uint32_t value) {
  return AddMany(bucket, &key, &value, 1);
}

bool IndexFile::AddMany(std::uint32_t bucket, const std::uint32_t* keys, const std::uint32_t* values, std::uint32_t n) {
  if (!File || !Writable || bucket >= BucketCount) return true;
  for (std::uint32_t i = 0; i < n; i++)
    if (values[i] == 0 || (EntrySize == 7 && values[i] > 0xFFFFFFu)) return true;

  std::uint64_t block;
  std::uint32_t capacity = 0, count = 0;
  if (n > 0 && FindRoom(bucket, block, capacity, count)) return Fail();
  std::vector<std::uint8_t> bytes;
  while (n > 0) {
    const std::uint32_t take = std::min(n, capacity - count);
    bytes.assign(std::size_t(take) * EntrySize, 0);
    for (std::uint32_t i = 0; i < take; i++) {
      std::uint8_t* entry = &bytes[std::size_t(i) * EntrySize];
      PutU32(entry, keys[i]);
      for (std::uint32_t b = 0; b < EntrySize - 4; b++) entry[4 + b] = static_cast<std::uint8_t>(values[i] >> (8 * b));
    }
    // The entries go in before the count that makes them visible.
    if (SeekTo(block + 8 + std::uint64_t(count) * EntrySize) || File->WriteBlock(bytes.data(), static_cast<std::uint32_t>(bytes.size())))
      return Fail();
    if (SeekTo(block + 4) || File->WriteU32(count + take)) return Fail();
    keys += take;
    values += take;
    n -= take;
    if (n == 0) break;
    std::uint64_t next;
    if (AppendBlock(block + BlockSize(capacity) - PositionSize(), next)) return Fail();
    block = next;
    capacity = NewBlockCapacity;
    count = 0;
    LastBlock[bucket] = PositionAt(block, WideFile());
  }
  return false;
}

bool IndexFile::DropValuesAbove(std::uint32_t limit, std::uint64_t& dropped) {
  dropped = 0;
  if (!File) return false;
  if (!Writable) return true;
  struct ChainBlock {
    std::uint64_t At;
    std::uint32_t Count;
  };
  std::vector<ChainBlock> chain;
  for (std::uint32_t bucket = 0; bucket < BucketCount; bucket++) {
    chain.clear();
    std::uint64_t block;
    if (SeekTo(SlotOffset(bucket)) || ReadPosition(block)) return Fail();
    while (block != 0) {
      std::uint32_t capacity, count;
      std::uint64_t next;
      if (ReadBlockHeader(block, capacity, count) || ReadNextLink(block, capacity, next)) return Fail();
      chain.push_back({block, count});
      block = next;
    }
    // From the end of the chain back, while its last values are too large.
    for (std::size_t i = chain.size(); i-- > 0;) {
      std::uint32_t kept = chain[i].Count;
      while (kept > 0) {
        std::uint32_t value;
        if (SeekTo(chain[i].At + 8 + std::uint64_t(kept - 1) * EntrySize + 4) || ReadValue(value)) return Fail();
        if (value <= limit) break;
        kept--;
      }
      if (kept != chain[i].Count) {
        if (SeekTo(chain[i].At + 4) || File->WriteU32(kept)) return Fail();
        dropped += chain[i].Count - kept;
      }
      if (kept > 0) break;
    }
    LastBlock[bucket] = FilePos();
  }
  return false;
}

bool IndexFile::FindFirst(std::uint32_t bucket) {
  CurrentBlock = 0;
  if (!File || bucket >= BucketCount) return true;
  std::uint64_t block;
  if (SeekTo(SlotOffset(bucket)) || ReadPosition(block)) return Fail();
  if (block == 0) return false;
  if (ReadBlockHeader(block, Capacity, EntryCount)) return Fail();
  CurrentBlock = block;
  EntryIndex = 0;
  return false;
}

bool IndexFile::ReadValue(std::uint32_t& value) {
  return EntrySize == 7 ? File->ReadU24(value) : File->ReadU32(value);
}

// The next stored entry of the current chain, read on from the file's current
// position; true at the end of the chain or on damage, which ends the search.
bool IndexFile::NextEntry(std::uint32_t& key, std::uint32_t& value) {
  if (!File || CurrentBlock == 0) return true;
  while (EntryIndex >= Capacity) {
    std::uint64_t next;
    std::uint32_t capacity, count;
    if (ReadNextLink(CurrentBlock, Capacity, next) || next == 0 || ReadBlockHeader(next, capacity, count) ||
        count < 1) {
      CurrentBlock = 0;
      return true;
    }
    CurrentBlock = next;
    Capacity = capacity;
    EntryCount = count;
    EntryIndex = 0;
  }
  if (EntryIndex >= EntryCount || File->ReadU32(key) || ReadValue(value)) {
    CurrentBlock = 0;
    return true;
  }
  EntryIndex++;
  return false;
}

std::uint32_t IndexFile::FindNext() {
  std::uint32_t key, value;
  while (!NextEntry(key, value)) {
    // A zero value can only be damage; returning it would end the caller's
    // search early, so it is passed over.
    if (value != 0 && (key & SearchMask) == (SearchKey & SearchMask)) return value;
  }
  return 0;
}

bool IndexFile::FindFrom(std::uint32_t value) {
  std::uint32_t key, stored;
  while (!NextEntry(key, stored)) {
    if (stored >= value) {
      EntryIndex--;
      return File->SeekRelative(-static_cast<std::int32_t>(EntrySize));
    }
  }
  return true;
}

namespace {

struct IndexEntry {
  std::uint32_t Key;
  std::uint32_t Value;
};

// The rebuilt file, written block by block behind its slots.
struct RebuildTarget {
  std::unique_ptr<BinFile> File;
  std::string Name;
  bool Wide = false;
  std::uint64_t End = 0;

  bool Start(std::uint32_t version, std::uint32_t buckets) {
    Wide = (version & IndexFile::WidePositions) != 0;
    File = MakeFile(Wide);
    if (File->Create(Name.c_str(), ReadWriteNew)) return true;
    std::vector<std::uint8_t> header(8 + std::uint64_t(buckets) * (Wide ? 8 : 4), 0);
    PutU32(&header[0], version);
    PutU32(&header[4], buckets);
    End = header.size();
    return File->WriteBlock(header.data(), static_cast<std::uint32_t>(header.size()));
  }

  // One block holding the entries with room for about sqrt(n) + 20 more.
  bool WriteChain(std::uint32_t bucket, const std::vector<IndexEntry>& entries) {
    std::uint32_t n = static_cast<std::uint32_t>(entries.size());
    std::uint32_t capacity = n + 20 + IntegerSquareRoot(n);
    std::uint32_t positionSize = Wide ? 8 : 4;
    std::uint64_t size = 8 + std::uint64_t(capacity) * 8 + positionSize;
    if (!Wide && End + size > NarrowFileLimit) return true;
    std::vector<std::uint8_t> block(size, 0);
    PutU32(&block[0], capacity);
    PutU32(&block[4], n);
    for (std::uint32_t i = 0; i < n; i++) {
      PutU32(&block[8 + 8 * std::uint64_t(i)], entries[i].Key);
      PutU32(&block[12 + 8 * std::uint64_t(i)], entries[i].Value);
    }
    if (SeekFile(*File, End, Wide) || File->WriteBlock(block.data(), static_cast<std::uint32_t>(size))) return true;
    if (SeekFile(*File, 8 + std::uint64_t(bucket) * positionSize, Wide) || WriteFilePosition(*File, End, Wide))
      return true;
    End += size;
    return false;
  }

  bool Finish() {
    bool failed = File->Flush();
    if (File->Close()) failed = true;
    File.reset();
    return failed || SyncFileToDisk(Name.c_str());
  }

  void Discard() {
    if (File) File->Close();
    File.reset();
    std::remove(Name.c_str());
  }
};

void PrintProgress(std::uint32_t bucket, std::uint32_t buckets, const char* end) {
  Printer.Print(ChannelStdout, false, "%u/%u %s%s", bucket, buckets, Messages.Text(ProgressMessage), end);
}

}  // namespace

bool IndexFile::Rebuild(bool keysAreBucketHashes) {
  if (!File) return false;
  if (!Writable) return true;

  std::uint32_t version = Version;
  // Version 1 values were 24-bit; from now on they are written with 32 bits.
  if ((version & VersionBits) == 1) version = (version & ~VersionBits) | 2;
  if (MeasureFile()) return Fail();
  if (!(version & WidePositions) && FileEnd > WideningSize) {
    version |= WidePositions;
    Printer.Print(ChannelStdout, false, "Changing index format to 64-bit addressing\n");
  }
  std::int64_t positionSize = (version & WidePositions) ? 8 : 4;
  std::int64_t estimate = static_cast<std::int64_t>(FileEnd / EntrySize) - positionSize * BucketCount;
  std::int64_t wanted = estimate / 2048;
  if (wanted > MaxCreatedBuckets) wanted = MaxCreatedBuckets;
  const std::uint32_t oldBuckets = BucketCount;
  const std::uint32_t newBuckets = keysAreBucketHashes && oldBuckets < wanted ? 2 * oldBuckets : oldBuckets;

  RebuildTarget target;
  target.Name = TemporaryNameBeside(FileName);
  if (target.Start(version, newBuckets)) {
    target.Discard();
    return Fail();
  }
  std::vector<IndexEntry> kept;
  std::vector<std::uint8_t> raw;
  for (std::uint32_t bucket = 0; bucket < newBuckets; bucket++) {
    PrintProgress(bucket, newBuckets, "\r");
    std::uint32_t oldBucket = bucket & (oldBuckets - 1);
    std::uint64_t block;
    if (SeekTo(SlotOffset(oldBucket)) || ReadPosition(block)) {
      target.Discard();
      return Fail();
    }
    if (block == 0) continue;
    // Every stored entry of the chain is kept, in order: values need not
    // ascend (a processed-games set is filled in any order). When the buckets
    // double, the key bit that the new mask adds picks the half.
    kept.clear();
    while (block != 0) {
      std::uint32_t capacity, count;
      std::uint64_t next;
      if (ReadBlockHeader(block, capacity, count)) {
        target.Discard();
        return Fail();
      }
      raw.resize(std::size_t(count) * EntrySize);
      if ((count && File->ReadBlock(raw.data(), static_cast<std::uint32_t>(raw.size()))) ||
          ReadNextLink(block, capacity, next)) {
        target.Discard();
        return Fail();
      }
      for (std::uint32_t i = 0; i < count; i++) {
        const std::uint8_t* entry = &raw[std::size_t(i) * EntrySize];
        IndexEntry e{GetU32(entry), EntrySize == 7 ? GetU24(entry + 4) : GetU32(entry + 4)};
        if (e.Value == 0) continue;
        if (newBuckets != oldBuckets && (oldBucket | (e.Key & oldBuckets)) != bucket) continue;
        kept.push_back(e);
      }
      block = next;
    }
    if (target.WriteChain(bucket, kept)) {
      target.Discard();
      return Fail();
    }
  }
  PrintProgress(newBuckets, newBuckets, "\n");

  // The old index stays whole until the new one is complete on disk; rename
  // then swaps them in one step.
  if (target.Finish()) {
    target.Discard();
    return Fail();
  }
  Close();
  if (std::rename(target.Name.c_str(), FileName.c_str()) != 0) {
    std::remove(target.Name.c_str());
    return true;
  }
  return Open(FileName.c_str(), true);
}
