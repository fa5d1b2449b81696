#include "support/binfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "support/scratch_directory.h"

namespace {

constexpr int ReadWriteNew = BinFileBinary | BinFileUpdate | BinFileWrite;  // 11
constexpr int ReadWriteExisting = BinFileBinary | BinFileUpdate;             // 3

struct Backend {
  const char* Name;
  std::function<std::unique_ptr<BinFile>()> Make;
  FilePos::Kind PositionKind;
  int PositionBytes;
};

const Backend Backends[] = {
    {"Stream32", [] { return std::unique_ptr<BinFile>(new BinFile32); }, FilePos::Offset32, 4},
    {"Descriptor64", [] { return std::unique_ptr<BinFile>(new BinFile64); }, FilePos::Offset64, 8},
};

class BinFileBackends : public ::testing::TestWithParam<Backend> {
protected:
  void SetUp() override {
    ASSERT_TRUE(Scratch.Ready());
    File = GetParam().Make();
  }
  void TearDown() override {
    if (File) File->Close();
  }
  // A file holding exactly these bytes, opened for reading and writing.
  void OpenWith(const std::vector<unsigned char>& bytes) {
    Scratch.WriteBytes("data.bin", bytes);
    ASSERT_FALSE(File->Open(Scratch.Path("data.bin").c_str(), ReadWriteExisting));
  }

  ScratchDirectory Scratch;
  std::unique_ptr<BinFile> File;
};

TEST_P(BinFileBackends, IntegersOfEveryWidthAreWrittenLowByteFirstAndReadBack) {
  std::string path = Scratch.Path("values.bin");
  ASSERT_FALSE(File->Create(path.c_str(), ReadWriteNew));
  ASSERT_FALSE(File->WriteU8(0x1AB));  // only the low byte is kept
  ASSERT_FALSE(File->WriteU16(0xBEEF));
  ASSERT_FALSE(File->WriteU24(0x123456));
  ASSERT_FALSE(File->WriteU32(0xDEADBEEF));
  ASSERT_FALSE(File->WriteU64(0x0123456789ABCDEFull));
  ASSERT_FALSE(File->WriteBlock("xyz", 3));
  ASSERT_FALSE(File->WriteString("line\n"));
  ASSERT_FALSE(File->Flush());

  ASSERT_FALSE(File->Rewind());
  std::uint32_t u8, u16, u24, u32;
  std::uint64_t u64;
  char block[3];
  EXPECT_FALSE(File->ReadU8(u8));
  EXPECT_FALSE(File->ReadU16(u16));
  EXPECT_FALSE(File->ReadU24(u24));
  EXPECT_FALSE(File->ReadU32(u32));
  EXPECT_FALSE(File->ReadU64(u64));
  EXPECT_FALSE(File->ReadBlock(block, 3));
  EXPECT_EQ(u8, 0xABu);
  EXPECT_EQ(u16, 0xBEEFu);
  EXPECT_EQ(u24, 0x123456u);
  EXPECT_EQ(u32, 0xDEADBEEFu);
  EXPECT_EQ(u64, 0x0123456789ABCDEFull);
  EXPECT_EQ(std::string(block, 3), "xyz");
  ASSERT_FALSE(File->Close());

  const std::vector<unsigned char> expected = {
      0xAB, 0xEF, 0xBE, 0x56, 0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE, 0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45,
      0x23, 0x01, 'x',  'y',  'z',  'l',  'i',  'n',  'e',  '\n'};
  EXPECT_EQ(Scratch.ReadBytes("values.bin"), expected);
}

TEST_P(BinFileBackends, SignedReadsExtendTheTopBitOfTheirWidth) {
  struct Case {
    std::vector<unsigned char> Bytes;
    bool (BinFile::*Read)(std::uint32_t&);
    std::uint32_t Expected;
  };
  const Case cases[] = {
      {{0xFF}, &BinFile::ReadS8, 0xFFFFFFFFu},
      {{0x80}, &BinFile::ReadS8, 0xFFFFFF80u},
      {{0x7F}, &BinFile::ReadS8, 0x7Fu},
      {{0xFF}, &BinFile::ReadU8, 0xFFu},
      {{0xFF, 0xFF}, &BinFile::ReadS16, 0xFFFFFFFFu},
      {{0x00, 0x80}, &BinFile::ReadS16, 0xFFFF8000u},
      {{0xFF, 0x7F}, &BinFile::ReadS16, 0x7FFFu},
      {{0xFF, 0xFF}, &BinFile::ReadU16, 0xFFFFu},
      {{0xFF, 0xFF, 0xFF}, &BinFile::ReadS24, 0xFFFFFFFFu},
      {{0x00, 0x00, 0x80}, &BinFile::ReadS24, 0xFF800000u},
      {{0xFF, 0xFF, 0x7F}, &BinFile::ReadS24, 0x7FFFFFu},
      {{0xFF, 0xFF, 0xFF}, &BinFile::ReadU24, 0xFFFFFFu},
      {{0xFF, 0xFF, 0xFF, 0xFF}, &BinFile::ReadS32, 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    OpenWith(c.Bytes);
    std::uint32_t value = 0;
    EXPECT_FALSE((File.get()->*c.Read)(value));
    EXPECT_EQ(value, c.Expected) << "bytes " << c.Bytes.size() << " first " << int(c.Bytes[0]);
  }
}

TEST_P(BinFileBackends, ShortReadsFail) {
  OpenWith({1, 2, 3});
  std::uint32_t value;
  std::uint64_t wide;
  EXPECT_TRUE(File->ReadU32(value));
  ASSERT_FALSE(File->Rewind());
  EXPECT_TRUE(File->ReadU64(wide));
  ASSERT_FALSE(File->Rewind());
  EXPECT_FALSE(File->ReadU24(value));
  EXPECT_TRUE(File->ReadU8(value));
  EXPECT_TRUE(File->ReadS8(value));
  char block[4];
  ASSERT_FALSE(File->Rewind());
  EXPECT_TRUE(File->ReadBlock(block, 4));
}

TEST_P(BinFileBackends, ReadLineStopsAtMaxAtNewlineAndAtNul) {
  OpenWith({'a', 'b', 'c', 'd', 'e', 'f', '\n', 'g', 'h', '\0', 'i', 'j'});
  char buffer[5];
  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_FALSE(File->ReadLine(buffer, 4));
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_FALSE(File->ReadLine(buffer, 4));
  EXPECT_STREQ(buffer, "ef");
  EXPECT_FALSE(File->ReadLine(buffer, 4));
  EXPECT_STREQ(buffer, "gh");
  // The last line has no end: its text is kept, and the end of file reported.
  EXPECT_TRUE(File->ReadLine(buffer, 4));
  EXPECT_STREQ(buffer, "ij");
  EXPECT_TRUE(File->ReadLine(buffer, 4));
  EXPECT_STREQ(buffer, "");
}

TEST_P(BinFileBackends, PositionsRoundTripAndAStoredZeroIsNoPosition) {
  std::string path = Scratch.Path("positions.bin");
  ASSERT_FALSE(File->Create(path.c_str(), ReadWriteNew));
  FilePos start;
  start.PosKind = FilePos::Offset64;  // must be overwritten
  EXPECT_FALSE(File->Tell(start));
  EXPECT_EQ(start.PosKind, FilePos::None);

  ASSERT_FALSE(File->WriteNullPos());
  FilePos here;
  ASSERT_FALSE(File->Tell(here));
  EXPECT_EQ(here.PosKind, GetParam().PositionKind);
  ASSERT_FALSE(File->WritePos(here));
  ASSERT_FALSE(File->WriteU32(77));

  ASSERT_FALSE(File->Rewind());
  FilePos stored;
  stored.PosKind = FilePos::Offset32;
  EXPECT_FALSE(File->ReadPos(stored));
  EXPECT_EQ(stored.PosKind, FilePos::None);
  FilePos link;
  ASSERT_FALSE(File->ReadPos(link));
  EXPECT_EQ(link.PosKind, GetParam().PositionKind);
  ASSERT_FALSE(File->Seek(link));
  ASSERT_FALSE(File->SeekRelativePositions(1));
  std::uint32_t value;
  ASSERT_FALSE(File->ReadU32(value));
  EXPECT_EQ(value, 77u);

  ASSERT_FALSE(File->SeekFromEnd(-4));
  ASSERT_FALSE(File->ReadU32(value));
  EXPECT_EQ(value, 77u);
  // One position and the value back from the end is the stored link again.
  ASSERT_FALSE(File->SeekFromEndPositions(-1));
  ASSERT_FALSE(File->SeekRelative(-4));
  FilePos again;
  ASSERT_FALSE(File->ReadPos(again));
  EXPECT_EQ(again.PosKind, link.PosKind);
  EXPECT_EQ(again.Offset, link.Offset);
  EXPECT_EQ(again.Low, link.Low);
  EXPECT_EQ(Scratch.ReadBytes("positions.bin").size(), 2u * GetParam().PositionBytes + 4);
}

TEST_P(BinFileBackends, MissingFileFailsAndLeavesTheObjectClosed) {
  EXPECT_TRUE(File->Open(Scratch.Path("absent.bin").c_str(), BinFileBinary));
  EXPECT_FALSE(File->IsOpen());
  EXPECT_TRUE(File->Open(nullptr, BinFileBinary));
}

// A FIFO would hold the first read for ever, and a device never ends: both
// back ends open regular files only, for reading and for updating.
TEST_P(BinFileBackends, AFifoOrADeviceIsRefused) {
  const std::string fifo = Scratch.Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Updating opens a FIFO at once, so the old open could not wait here.
  EXPECT_TRUE(File->Open(fifo.c_str(), ReadWriteExisting));
  EXPECT_FALSE(File->IsOpen());
  for (int flags : {int{BinFileBinary}, ReadWriteExisting, BinFileBinary | BinFileAppend | BinFileWrite}) {
    EXPECT_TRUE(File->Open("/dev/zero", flags)) << flags;
    EXPECT_FALSE(File->IsOpen()) << flags;
  }
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

TEST_P(BinFileBackends, OperationsOnAClosedFileFailWithoutCrashing) {
  std::uint32_t value;
  std::uint64_t wide;
  FilePos pos;
  char line[8];
  EXPECT_FALSE(File->IsOpen());
  EXPECT_FALSE(File->Close());  // closing nothing succeeds
  EXPECT_TRUE(File->Flush());
  EXPECT_TRUE(File->Rewind());
  EXPECT_TRUE(File->Seek(pos));
  EXPECT_TRUE(File->Tell(pos));
  EXPECT_TRUE(File->ReadPos(pos));
  EXPECT_TRUE(File->WritePos(pos));
  EXPECT_TRUE(File->WriteU32(1));
  EXPECT_TRUE(File->ReadU32(value));
  EXPECT_TRUE(File->ReadU64(wide));
  EXPECT_TRUE(File->WriteString("x"));
  EXPECT_TRUE(File->ReadLine(line, 7));
  EXPECT_STREQ(line, "");
  EXPECT_TRUE(File->Truncate());
}

// The name is kept whole, however long.
TEST_P(BinFileBackends, ReopeningClosesThePreviousFileAndKeepsTheName) {
  std::string first = Scratch.Path("first.bin"), second = Scratch.Path(std::string(150, 's') + ".bin");
  ASSERT_FALSE(File->Create(first.c_str(), ReadWriteNew));
  ASSERT_FALSE(File->WriteU32(1));
  ASSERT_FALSE(File->Create(second.c_str(), ReadWriteNew));
  EXPECT_STREQ(File->Name(), second.c_str());
  ASSERT_FALSE(File->Close());
  EXPECT_EQ(Scratch.ReadBytes("first.bin").size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, BinFileBackends, ::testing::ValuesIn(Backends),
                         [](const ::testing::TestParamInfo<Backend>& info) { return info.param.Name; });

class BinFileModes : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Scratch.Ready());
    Path = Scratch.Path("mode.bin");
    Scratch.WriteBytes("mode.bin", {'o', 'l', 'd'});
  }
  ScratchDirectory Scratch;
  std::string Path;
};

// Flags 11 open "w+b": the old contents go, and the file is read and written.
TEST_F(BinFileModes, StreamFlagsElevenTruncateAndAllowReading) {
  BinFile32 file;
  ASSERT_FALSE(file.Open(Path.c_str(), ReadWriteNew));
  ASSERT_FALSE(file.WriteU8('n'));
  ASSERT_FALSE(file.Rewind());
  std::uint32_t value;
  EXPECT_FALSE(file.ReadU8(value));
  EXPECT_EQ(value, unsigned('n'));
  EXPECT_TRUE(file.ReadU8(value));
  file.Close();
  EXPECT_EQ(Scratch.ReadBytes("mode.bin"), std::vector<unsigned char>{'n'});
}

// Flags 3 open "r+b": the file must exist and keeps its contents.
TEST_F(BinFileModes, StreamFlagsThreeUpdateAnExistingFileInPlace) {
  BinFile32 file;
  EXPECT_TRUE(file.Open(Scratch.Path("absent.bin").c_str(), ReadWriteExisting));
  ASSERT_FALSE(file.Open(Path.c_str(), ReadWriteExisting));
  ASSERT_FALSE(file.WriteU8('N'));
  ASSERT_FALSE(file.Rewind());
  std::uint32_t value;
  ASSERT_FALSE(file.ReadU8(value));
  EXPECT_EQ(value, unsigned('N'));
  file.Close();
  EXPECT_EQ(Scratch.ReadBytes("mode.bin"), (std::vector<unsigned char>{'N', 'l', 'd'}));
}

// Flags 12 open "a": every write lands at the end, and nothing can be read.
TEST_F(BinFileModes, StreamFlagsTwelveAppendOnly) {
  BinFile32 file;
  ASSERT_FALSE(file.Open(Path.c_str(), BinFileAppend | BinFileWrite));
  ASSERT_FALSE(file.Rewind());
  ASSERT_FALSE(file.WriteU8('!'));
  std::uint32_t value;
  ASSERT_FALSE(file.Rewind());
  EXPECT_TRUE(file.ReadU8(value));
  file.Close();
  EXPECT_EQ(Scratch.ReadBytes("mode.bin"), (std::vector<unsigned char>{'o', 'l', 'd', '!'}));
}

TEST_F(BinFileModes, StreamReadOnlyOpenRefusesWrites) {
  BinFile32 file;
  ASSERT_FALSE(file.Open(Path.c_str(), BinFileBinary));
  EXPECT_TRUE(file.WriteU8('x') || file.Flush());
  file.Close();
  EXPECT_EQ(Scratch.ReadBytes("mode.bin"), (std::vector<unsigned char>{'o', 'l', 'd'}));
}

TEST_F(BinFileModes, DescriptorOpenWithWriteFlagCreatesButNeverTruncates) {
  BinFile64 file;
  ASSERT_FALSE(file.Open(Path.c_str(), BinFileWrite));
  ASSERT_FALSE(file.WriteU8('O'));
  ASSERT_FALSE(file.Close());
  EXPECT_EQ(Scratch.ReadBytes("mode.bin"), (std::vector<unsigned char>{'O', 'l', 'd'}));

  std::string fresh = Scratch.Path("fresh.bin");
  EXPECT_TRUE(file.Open(fresh.c_str(), BinFileBinary));
  ASSERT_FALSE(file.Open(fresh.c_str(), BinFileWrite));
  std::uint32_t value;
  EXPECT_TRUE(file.ReadU8(value));  // write access only
  file.Close();
}

TEST_F(BinFileModes, DescriptorCreateAlwaysStartsEmpty) {
  BinFile64 file;
  ASSERT_FALSE(file.Create(Path.c_str(), ReadWriteNew));
  FilePos end;
  ASSERT_FALSE(file.SeekFromEnd(0));
  ASSERT_FALSE(file.Tell(end));
  EXPECT_EQ(end.PosKind, FilePos::None);
  file.Close();
  EXPECT_TRUE(Scratch.ReadBytes("mode.bin").empty());
}

TEST_F(BinFileModes, StreamTruncateAlwaysFails) {
  BinFile32 file;
  ASSERT_FALSE(file.Open(Path.c_str(), ReadWriteExisting));
  ASSERT_FALSE(file.SeekRelative(1));
  EXPECT_TRUE(file.Truncate());
  file.Close();
  EXPECT_EQ(Scratch.ReadBytes("mode.bin").size(), 3u);
}

TEST_F(BinFileModes, DescriptorTruncateCutsAtTheCurrentPosition) {
  BinFile64 file;
  ASSERT_FALSE(file.Open(Path.c_str(), ReadWriteExisting));
  ASSERT_FALSE(file.SeekRelative(1));
  EXPECT_FALSE(file.Truncate());
  file.Close();
  EXPECT_EQ(Scratch.ReadBytes("mode.bin"), std::vector<unsigned char>{'o'});
}

TEST(BinFilePositions, DescriptorSeeksBeyondFourGibibytesInASparseFile) {
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.Ready());
  BinFile64 file;
  ASSERT_FALSE(file.Create(scratch.Path("sparse.bin").c_str(), ReadWriteNew));
  FilePos far;
  far.PosKind = FilePos::Offset64;
  far.High = 1;
  far.Low = 0x10;
  if (file.Seek(far) || file.WriteU32(0xCAFEF00D)) GTEST_SKIP() << "file system refuses files beyond 4 GiB";
  FilePos after;
  ASSERT_FALSE(file.Tell(after));
  EXPECT_EQ(after.PosKind, FilePos::Offset64);
  EXPECT_EQ(after.High, 1u);
  EXPECT_EQ(after.Low, 0x14u);
  ASSERT_FALSE(file.WritePos(far));

  ASSERT_FALSE(file.Seek(after));
  FilePos link;
  ASSERT_FALSE(file.ReadPos(link));
  EXPECT_EQ(link.High, 1u);
  EXPECT_EQ(link.Low, 0x10u);
  ASSERT_FALSE(file.Seek(link));
  std::uint32_t value;
  ASSERT_FALSE(file.ReadU32(value));
  EXPECT_EQ(value, 0xCAFEF00Du);
  ASSERT_FALSE(file.SeekFromEndPositions(-1));
  ASSERT_FALSE(file.Tell(after));
  EXPECT_EQ(after.Low, 0x14u);
  file.Close();
}

TEST(BinFilePositions, DescriptorWidensAThirtyTwoBitPosition) {
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.Ready());
  BinFile64 file;
  ASSERT_FALSE(file.Create(scratch.Path("widen.bin").c_str(), ReadWriteNew));
  FilePos narrow;
  narrow.PosKind = FilePos::Offset32;
  narrow.Offset = 100;
  ASSERT_FALSE(file.Seek(narrow));
  EXPECT_EQ(narrow.Low, 100u);
  EXPECT_EQ(narrow.High, 0u);
  FilePos here;
  ASSERT_FALSE(file.Tell(here));
  EXPECT_EQ(here.PosKind, FilePos::Offset64);
  EXPECT_EQ(here.Low, 100u);

  // A stored 32-bit position keeps its value instead of becoming a null link.
  FilePos stored;
  stored.PosKind = FilePos::Offset32;
  stored.Offset = 0x1234;
  ASSERT_FALSE(file.WritePos(stored));
  ASSERT_FALSE(file.Seek(narrow));
  FilePos back;
  ASSERT_FALSE(file.ReadPos(back));
  EXPECT_EQ(back.Low, 0x1234u);
  EXPECT_EQ(back.High, 0u);

  FilePos negative;
  negative.PosKind = FilePos::Offset32;
  negative.Offset = -1;
  EXPECT_TRUE(file.Seek(negative));
  EXPECT_EQ(negative.High, 0xFFFFFFFFu);
  file.Close();
}

TEST(BinFilePositions, StreamStoresAWidePositionOnlyWhenItFits) {
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.Ready());
  BinFile32 file;
  ASSERT_FALSE(file.Create(scratch.Path("narrow.bin").c_str(), ReadWriteNew));
  FilePos wide;
  wide.PosKind = FilePos::Offset64;
  wide.Low = 0x40;
  EXPECT_FALSE(file.WritePos(wide));
  wide.High = 1;
  EXPECT_TRUE(file.WritePos(wide));
  EXPECT_TRUE(file.Seek(wide));
  ASSERT_FALSE(file.Rewind());
  FilePos back;
  ASSERT_FALSE(file.ReadPos(back));
  EXPECT_EQ(back.PosKind, FilePos::Offset32);
  EXPECT_EQ(back.Offset, 0x40);
  file.Close();
}

}  // namespace
