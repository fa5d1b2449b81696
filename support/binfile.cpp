// The two binary file back ends: BinFile32 on a C stream, BinFile64 on a file
// descriptor with 64-bit offsets (lseek64 and O_LARGEFILE, so the 32-bit
// program reaches beyond 4 GiB as well).
#include "support/binfile.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "support/platform.h"

namespace {

// Offsets the stream back end can hold in a FilePos: its positions are 32-bit.
bool FitsStreamOffset(long long offset) { return offset >= LONG_MIN && offset <= LONG_MAX; }

// The 32-bit offset a position stands for in a BinFile32. A 64-bit position
// (from a BinFile64) is taken when it fits, rather than silently read as 0.
bool Offset32Of(const FilePos& pos, std::int32_t& offset) {
  if (pos.PosKind != FilePos::Offset64) {
    offset = pos.Offset;
    return false;
  }
  if (pos.High != 0 || pos.Low > 0x7FFFFFFFu) return true;
  offset = static_cast<std::int32_t>(pos.Low);
  return false;
}

// A position's 64-bit value; a 32-bit one is widened with its sign.
std::int64_t Offset64Of(const FilePos& pos) {
  if (pos.PosKind == FilePos::Offset32) return pos.Offset;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(pos.High) << 32) | pos.Low);
}

std::int64_t SignExtend(std::uint32_t value, int bits) {
  std::uint32_t sign = 1u << (bits - 1);
  return static_cast<std::int64_t>(value ^ sign) - static_cast<std::int64_t>(sign);
}

}  // namespace

// ---------------------------------------------------------------------------
// Base: the C stream.

BinFile::~BinFile() {
  if (Stream) std::fclose(Stream);
  Stream = nullptr;
  FileName.clear();
}

bool BinFile::Open(const char* name, int flags) {
  if (IsOpen()) Close();
  if (!name) return true;
  StoreName(name);
  char mode[4] = {};
  int length = 0;
  if (flags & BinFileAppend)
    mode[length++] = 'a';
  else if (flags & BinFileWrite)
    mode[length++] = 'w';
  else
    mode[length++] = 'r';
  if (flags & BinFileUpdate) mode[length++] = '+';
  if (flags & BinFileBinary) mode[length++] = 'b';
  Stream = OpenRegularStream(name, mode);
  return Stream == nullptr;
}

bool BinFile::Create(const char* name, int flags) { return BinFile::Open(name, flags); }

bool BinFile::Close() {
  if (!Stream) return false;
  // The stream is gone whatever fclose answers; keeping it would close it twice.
  bool failed = std::fclose(Stream) != 0;
  Stream = nullptr;
  return failed;
}

bool BinFile::Flush() { return !Stream || std::fflush(Stream) != 0; }

bool BinFile::IsOpen() const { return Stream != nullptr; }

bool BinFile::SeekFromEnd(std::int32_t bytes) { return !Stream || std::fseek(Stream, bytes, SEEK_END) != 0; }

bool BinFile::SeekRelative(std::int32_t bytes) { return !Stream || std::fseek(Stream, bytes, SEEK_CUR) != 0; }

// Multi-byte values are assembled here byte by byte, lowest first, and moved
// as one block, so both back ends write the same bytes on any host.
bool BinFile::WriteU8(std::uint32_t value) {
  std::uint8_t byte = static_cast<std::uint8_t>(value);
  return WriteBlock(&byte, 1);
}

namespace {
template <int Bytes>
struct LittleEndian {
  std::uint8_t Data[Bytes];
  explicit LittleEndian(std::uint64_t value) {
    for (int i = 0; i < Bytes; i++) Data[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
};

template <int Bytes>
std::uint64_t Assemble(const std::uint8_t* data) {
  std::uint64_t value = 0;
  for (int i = Bytes - 1; i >= 0; i--) value = (value << 8) | data[i];
  return value;
}
}  // namespace

bool BinFile::WriteU16(std::uint32_t value) {
  LittleEndian<2> bytes(value);
  return WriteBlock(bytes.Data, 2);
}

bool BinFile::WriteU24(std::uint32_t value) {
  LittleEndian<3> bytes(value);
  return WriteBlock(bytes.Data, 3);
}

bool BinFile::WriteU32(std::uint32_t value) {
  LittleEndian<4> bytes(value);
  return WriteBlock(bytes.Data, 4);
}

bool BinFile::WriteU64(std::uint64_t value) {
  LittleEndian<8> bytes(value);
  return WriteBlock(bytes.Data, 8);
}

bool BinFile::WriteBlock(const void* buffer, std::uint32_t n) {
  if (!Stream || (!buffer && n)) return true;
  return std::fwrite(buffer, 1, n, Stream) != n;
}

bool BinFile::ReadU8(std::uint32_t& value) {
  std::uint8_t byte;
  if (ReadBlock(&byte, 1)) return true;
  value = byte;
  return false;
}

bool BinFile::ReadS8(std::uint32_t& value) {
  std::uint8_t byte;
  if (ReadBlock(&byte, 1)) return true;
  value = static_cast<std::uint32_t>(SignExtend(byte, 8));
  return false;
}

bool BinFile::ReadU16(std::uint32_t& value) {
  std::uint8_t data[2];
  if (ReadBlock(data, 2)) return true;
  value = static_cast<std::uint32_t>(Assemble<2>(data));
  return false;
}

bool BinFile::ReadS16(std::uint32_t& value) {
  std::uint8_t data[2];
  if (ReadBlock(data, 2)) return true;
  value = static_cast<std::uint32_t>(SignExtend(static_cast<std::uint32_t>(Assemble<2>(data)), 16));
  return false;
}

bool BinFile::ReadU24(std::uint32_t& value) {
  std::uint8_t data[3];
  if (ReadBlock(data, 3)) return true;
  value = static_cast<std::uint32_t>(Assemble<3>(data));
  return false;
}

bool BinFile::ReadS24(std::uint32_t& value) {
  std::uint8_t data[3];
  if (ReadBlock(data, 3)) return true;
  value = static_cast<std::uint32_t>(SignExtend(static_cast<std::uint32_t>(Assemble<3>(data)), 24));
  return false;
}

bool BinFile::ReadU32(std::uint32_t& value) {
  std::uint8_t data[4];
  if (ReadBlock(data, 4)) return true;
  value = static_cast<std::uint32_t>(Assemble<4>(data));
  return false;
}

bool BinFile::ReadS32(std::uint32_t& value) { return ReadU32(value); }

bool BinFile::ReadU64(std::uint64_t& value) {
  std::uint8_t data[8];
  if (ReadBlock(data, 8)) return true;
  value = Assemble<8>(data);
  return false;
}

bool BinFile::ReadBlock(void* buffer, std::uint32_t n) {
  if (!Stream || (!buffer && n)) return true;
  return std::fread(buffer, 1, n, Stream) != n;
}

bool BinFile::WriteString(const char* text) {
  if (!Stream || !text) return true;
  return std::fputs(text, Stream) < 0;
}

bool BinFile::ReadLine(char* buffer, int max) {
  if (!buffer) return true;
  buffer[0] = '\0';
  if (!Stream) return true;
  int length = 0;
  while (length < max) {
    int c = std::fgetc(Stream);
    if (c == EOF) {
      buffer[length] = '\0';
      return true;
    }
    if (c == '\0' || c == '\n') break;
    buffer[length++] = static_cast<char>(c);
  }
  buffer[length] = '\0';
  return false;
}

bool BinFile::Truncate() { return true; }

// ---------------------------------------------------------------------------
// BinFile32: 32-bit positions on the stream.

bool BinFile32::Rewind() { return !Stream || std::fseek(Stream, 0, SEEK_SET) != 0; }

bool BinFile32::Seek(FilePos& pos) {
  std::int32_t offset;
  if (!Stream || Offset32Of(pos, offset)) return true;
  return std::fseek(Stream, offset, SEEK_SET) != 0;
}

bool BinFile32::SeekFromEndPositions(std::int32_t count) {
  long long bytes = 4LL * count;
  if (!Stream || !FitsStreamOffset(bytes)) return true;
  return std::fseek(Stream, static_cast<long>(bytes), SEEK_END) != 0;
}

bool BinFile32::SeekRelativePositions(std::int32_t count) {
  long long bytes = 4LL * count;
  if (!Stream || !FitsStreamOffset(bytes)) return true;
  return std::fseek(Stream, static_cast<long>(bytes), SEEK_CUR) != 0;
}

bool BinFile32::Tell(FilePos& pos) {
  pos.PosKind = FilePos::None;
  if (!Stream) return true;
  long offset = std::ftell(Stream);
  if (offset == 0) return false;
  // Beyond 2 GiB the offset no longer fits the position: a failure, not a
  // wrapped value that would later point into the wrong place.
  if (offset < 0 || static_cast<std::uint64_t>(offset) > 0x7FFFFFFFu) return true;
  pos.PosKind = FilePos::Offset32;
  pos.Offset = static_cast<std::int32_t>(offset);
  return false;
}

bool BinFile32::ReadPos(FilePos& pos) {
  std::uint32_t value;
  if (ReadU32(value)) return true;
  pos.PosKind = value == 0 ? FilePos::None : FilePos::Offset32;
  pos.Offset = static_cast<std::int32_t>(value);
  return false;
}

bool BinFile32::WriteNullPos() { return WriteU32(0); }

bool BinFile32::WritePos(const FilePos& pos) {
  std::int32_t offset;
  if (Offset32Of(pos, offset)) return true;
  return WriteU32(static_cast<std::uint32_t>(offset));
}

// ---------------------------------------------------------------------------
// BinFile64: a descriptor with 64-bit offsets.

BinFile64::~BinFile64() {
  if (Opened) ::close(Descriptor);
  Opened = false;
  Descriptor = -1;
}

bool BinFile64::OpenDescriptor(const char* name, int access) {
  const int descriptor = OpenRegularFile(name, access | O_LARGEFILE);
  if (descriptor < 0) return true;
  Descriptor = descriptor;
  Opened = true;
  return false;
}

// Sharing modes have no meaning here; the access and disposition carry over.
bool BinFile64::Open(const char* name, int flags) {
  if (Opened) Close();
  if (!name) return true;
  StoreName(name);
  int access = (flags & BinFileUpdate) ? O_RDWR : (flags & BinFileWrite) ? O_WRONLY : O_RDONLY;
  if (flags & BinFileWrite) access |= O_CREAT;
  return OpenDescriptor(name, access);
}

bool BinFile64::Create(const char* name, int flags) {
  if (Opened) Close();
  if (!name) return true;
  StoreName(name);
  // A file created without write access could never receive a byte; creating
  // always implies writing.
  int access = (flags & BinFileUpdate) ? O_RDWR : O_WRONLY;
  if (OpenDescriptor(name, access | O_CREAT | O_TRUNC)) return true;
  if ((flags & BinFileAppend) && SeekFromEnd(0)) {
    Close();
    return true;
  }
  return false;
}

bool BinFile64::Close() {
  if (!Opened) return false;
  Opened = false;
  int descriptor = Descriptor;
  Descriptor = -1;
  return ::close(descriptor) != 0;
}

bool BinFile64::Flush() { return !Opened || ::fsync(Descriptor) != 0; }

bool BinFile64::IsOpen() const { return Opened; }

namespace {
bool SeekDescriptor(bool opened, int descriptor, std::int64_t offset, int whence) {
  if (!opened) return true;
  return ::lseek64(descriptor, static_cast<off64_t>(offset), whence) < 0;
}
}  // namespace

bool BinFile64::Rewind() { return SeekDescriptor(Opened, Descriptor, 0, SEEK_SET); }

bool BinFile64::Seek(FilePos& pos) {
  if (pos.PosKind == FilePos::Offset32) {
    pos.High = pos.Offset < 0 ? 0xFFFFFFFFu : 0;
    pos.Low = static_cast<std::uint32_t>(pos.Offset);
  }
  return SeekDescriptor(Opened, Descriptor, Offset64Of(pos), SEEK_SET);
}

bool BinFile64::SeekFromEnd(std::int32_t bytes) { return SeekDescriptor(Opened, Descriptor, bytes, SEEK_END); }

bool BinFile64::SeekRelative(std::int32_t bytes) { return SeekDescriptor(Opened, Descriptor, bytes, SEEK_CUR); }

bool BinFile64::SeekFromEndPositions(std::int32_t count) {
  return SeekDescriptor(Opened, Descriptor, 8LL * count, SEEK_END);
}

bool BinFile64::SeekRelativePositions(std::int32_t count) {
  return SeekDescriptor(Opened, Descriptor, 8LL * count, SEEK_CUR);
}

bool BinFile64::Tell(FilePos& pos) {
  pos.PosKind = FilePos::None;
  if (!Opened) return true;
  off64_t offset = ::lseek64(Descriptor, 0, SEEK_CUR);
  if (offset < 0) return true;
  if (offset == 0) return false;
  pos.PosKind = FilePos::Offset64;
  pos.Low = static_cast<std::uint32_t>(offset);
  pos.High = static_cast<std::uint32_t>(static_cast<std::uint64_t>(offset) >> 32);
  return false;
}

bool BinFile64::ReadPos(FilePos& pos) {
  std::uint32_t low, high;
  if (ReadU32(low) || ReadU32(high)) return true;
  pos.Low = low;
  pos.High = high;
  pos.PosKind = (low == 0 && high == 0) ? FilePos::None : FilePos::Offset64;
  return false;
}

bool BinFile64::WriteNullPos() { return WriteU32(0) || WriteU32(0); }

bool BinFile64::WritePos(const FilePos& pos) {
  // A 32-bit position is widened as Seek widens it, not stored as its empty
  // low and high words.
  std::uint64_t offset = static_cast<std::uint64_t>(Offset64Of(pos));
  return WriteU32(static_cast<std::uint32_t>(offset)) || WriteU32(static_cast<std::uint32_t>(offset >> 32));
}

bool BinFile64::WriteU8(std::uint32_t value) {
  std::uint8_t byte = static_cast<std::uint8_t>(value);
  return WriteBlock(&byte, 1);
}

bool BinFile64::WriteBlock(const void* buffer, std::uint32_t n) {
  if (!Opened || (!buffer && n)) return true;
  const char* data = static_cast<const char*>(buffer);
  while (n > 0) {
    ssize_t written = ::write(Descriptor, data, n);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return true;
    data += written;
    n -= static_cast<std::uint32_t>(written);
  }
  return false;
}

bool BinFile64::ReadU8(std::uint32_t& value) {
  std::uint8_t byte;
  if (ReadBlock(&byte, 1)) return true;
  value = byte;
  return false;
}

bool BinFile64::ReadBlock(void* buffer, std::uint32_t n) {
  if (!Opened || (!buffer && n)) return true;
  char* data = static_cast<char*>(buffer);
  while (n > 0) {
    ssize_t got = ::read(Descriptor, data, n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return true;
    data += got;
    n -= static_cast<std::uint32_t>(got);
  }
  return false;
}

bool BinFile64::WriteString(const char* text) {
  if (!text) return true;
  return WriteBlock(text, static_cast<std::uint32_t>(std::strlen(text)));
}

bool BinFile64::ReadLine(char* buffer, int max) {
  if (!buffer) return true;
  buffer[0] = '\0';
  if (!Opened) return true;
  int length = 0;
  while (length < max) {
    char c;
    ssize_t got = ::read(Descriptor, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      buffer[length] = '\0';
      return true;
    }
    if (c == '\0' || c == '\n') break;
    buffer[length++] = c;
  }
  buffer[length] = '\0';
  return false;
}

bool BinFile64::Truncate() {
  if (!Opened) return true;
  off64_t here = ::lseek64(Descriptor, 0, SEEK_CUR);
  return here < 0 || ::ftruncate64(Descriptor, here) != 0;
}

bool SyncFileToDisk(const char* name) {
  int descriptor = OpenRegularFile(name, O_RDONLY | O_LARGEFILE);
  if (descriptor < 0) return true;
  bool failed = ::fsync(descriptor) != 0;
  if (::close(descriptor) != 0) failed = true;
  return failed;
}
