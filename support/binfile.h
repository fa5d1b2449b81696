// Binary files with little-endian values written and read byte by byte. Two
// back ends: BinFile32 on a C stream with 32-bit positions (small files), and
// BinFile64 on a file descriptor with 64-bit positions (large files).
// Every operation answers true on failure, except IsOpen (true = open).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// A tagged file position. A stored 0 reads back as kind none: every file
// begins with a header, so position 0 is never a real target.
struct FilePos {
  enum Kind : std::int32_t { None = 0, Offset32 = 1, Offset64 = 2 };
  std::int32_t PosKind = None;
  std::uint32_t Low = 0;
  std::uint32_t High = 0;
  std::int32_t Offset = 0;
};

// Open flags.
enum BinFileFlags : int {
  BinFileBinary = 1,
  BinFileUpdate = 2,  // read and write
  BinFileAppend = 4,
  BinFileWrite = 8,   // write / create
};

class BinFile {
public:
  virtual ~BinFile();

  virtual bool Open(const char* name, int flags);
  virtual bool Create(const char* name, int flags);
  virtual bool Close();
  virtual bool Flush();
  virtual bool IsOpen() const;
  virtual bool Rewind() = 0;
  virtual bool Seek(FilePos& pos) = 0;
  virtual bool SeekFromEnd(std::int32_t bytes);
  virtual bool SeekRelative(std::int32_t bytes);
  virtual bool SeekFromEndPositions(std::int32_t count) = 0;
  virtual bool SeekRelativePositions(std::int32_t count) = 0;
  virtual bool Tell(FilePos& pos) = 0;
  virtual bool ReadPos(FilePos& pos) = 0;
  virtual bool WriteNullPos() = 0;
  virtual bool WritePos(const FilePos& pos) = 0;
  virtual bool WriteU8(std::uint32_t value);
  virtual bool WriteU16(std::uint32_t value);
  virtual bool WriteU24(std::uint32_t value);
  virtual bool WriteU32(std::uint32_t value);
  virtual bool WriteU64(std::uint64_t value);
  virtual bool WriteBlock(const void* buffer, std::uint32_t n);
  virtual bool ReadU8(std::uint32_t& value);
  virtual bool ReadS8(std::uint32_t& value);
  virtual bool ReadU16(std::uint32_t& value);
  virtual bool ReadS16(std::uint32_t& value);
  virtual bool ReadU24(std::uint32_t& value);
  virtual bool ReadS24(std::uint32_t& value);
  virtual bool ReadU32(std::uint32_t& value);
  virtual bool ReadS32(std::uint32_t& value);
  virtual bool ReadU64(std::uint64_t& value);
  virtual bool ReadBlock(void* buffer, std::uint32_t n);
  virtual bool WriteString(const char* text);
  // Reads at most max characters; needs max + 1 bytes of buffer.
  virtual bool ReadLine(char* buffer, int max);
  virtual bool Truncate();

  const char* Name() const { return FileName.c_str(); }

protected:
  // Keeps the name for Name(), whole: no stored field limits it.
  void StoreName(const char* name) { FileName = name; }

  std::FILE* Stream = nullptr;
  std::string FileName;
};

class BinFile32 : public BinFile {
public:
  bool Rewind() override;
  bool Seek(FilePos& pos) override;
  bool SeekFromEndPositions(std::int32_t count) override;
  bool SeekRelativePositions(std::int32_t count) override;
  bool Tell(FilePos& pos) override;
  bool ReadPos(FilePos& pos) override;
  bool WriteNullPos() override;
  bool WritePos(const FilePos& pos) override;
};

class BinFile64 : public BinFile {
public:
  // Closes the descriptor too: an owner that forgot Close must not leak it.
  ~BinFile64() override;
  bool Open(const char* name, int flags) override;
  bool Create(const char* name, int flags) override;
  bool Close() override;
  bool Flush() override;
  bool IsOpen() const override;
  bool Rewind() override;
  bool Seek(FilePos& pos) override;
  bool SeekFromEnd(std::int32_t bytes) override;
  bool SeekRelative(std::int32_t bytes) override;
  bool SeekFromEndPositions(std::int32_t count) override;
  bool SeekRelativePositions(std::int32_t count) override;
  bool Tell(FilePos& pos) override;
  bool ReadPos(FilePos& pos) override;
  bool WriteNullPos() override;
  bool WritePos(const FilePos& pos) override;
  bool WriteU8(std::uint32_t value) override;
  bool WriteBlock(const void* buffer, std::uint32_t n) override;
  bool ReadU8(std::uint32_t& value) override;
  bool ReadBlock(void* buffer, std::uint32_t n) override;
  bool WriteString(const char* text) override;
  bool ReadLine(char* buffer, int max) override;
  bool Truncate() override;

private:
  bool OpenDescriptor(const char* name, int access);

  int Descriptor = -1;
  bool Opened = false;
};

// Forces the named file's data to the disk (true on failure): a file that is
// about to replace another by rename must be complete even after a crash.
bool SyncFileToDisk(const char* name);
