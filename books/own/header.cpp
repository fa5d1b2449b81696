// The own book's settings file: reading every version, the whole-file
// rewrites, the lock that keeps two programs from changing one book, and the
// settings report.
#include "books/own/header.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "support/filereplace.h"
#include "support/messages.h"
#include "support/output.h"
#include "support/platform.h"

void SetBookMessage(char (&text)[BookTextSize], int id, ...) {
  va_list arguments;
  va_start(arguments, id);
  std::vsnprintf(text, sizeof text, Messages.Text(id), arguments);
  va_end(arguments);
}

namespace {

// Where each field lives. width 0 is a name; readName is the spelling of the
// read-failure message, which differs from the keyword for three names.
// Lowest and Highest are the values the field may hold: a parameter's setter
// accepts no other, and a value read from the file is brought into them.
struct FieldPlace {
  const char* ReadName;
  const char* Keyword;
  int Offset;
  int Width;
  int FromVersion;
  std::int32_t Lowest = 0;
  std::int32_t Highest = 0;
};

constexpr std::int32_t Unbounded = 0x7FFFFFFF;

enum ReadOrder {
  ReadDBname, ReadOwnName, ReadPosName, ReadNrPos, ReadNrMoves, ReadWeightDB, ReadWeightNag, ReadMinDB,
  ReadMinOwn, ReadDraw, ReadPopular, ReadWhiteMinScore, ReadBlackMinScore, ReadRandom, ReadOnlyManual,
  ReadCheckName, ReadMMDepth, ReadMMWeight, ReadSidelines, ReadCount
};

// In file order, which is also the order of reading.
constexpr FieldPlace Places[ReadCount] = {
    {"DBname", "DBname", 10, 0, 0},
    {"Ownname", "OwnName", 60, 0, 0},
    {"Posname", "PosName", 110, 0, 0},
    {"NrPos", "NrPos", 152, 4, 0, 0, Unbounded},
    {"NrMoves", "NrMoves", 156, 4, 0, 0, Unbounded},
    {"WeightDB", "WeightDB", 160, 1, 2, 0, 100},
    {"WeightNag", "WeightNag", 161, 1, 2, 0, 100},
    // At least one game: the move choice divides by both minimums.
    {"MinDB", "MinDB", 162, 4, 2, 1, Unbounded},
    {"MinOwn", "MinOwn", 166, 4, 2, 1, Unbounded},
    {"Draw", "Draw", 170, 1, 2, 1, 100},
    {"Popular", "Popular", 171, 1, 2, 1, 100},
    {"WhiteMinScore", "WhiteMinScore", 172, 1, 2, 1, 100},
    {"BlackMinScore", "BlackMinScore", 173, 1, 2, 1, 100},
    {"Random", "Random", 174, 1, 2, 0, 100},
    // Any byte: on when it is not 0.
    {"OnlyManual", "OnlyManual", 175, 1, 3, -Unbounded - 1, Unbounded},
    {"Checkname", "CheckName", 176, 0, 4},
    {"MMDepth", "MMDepth", 177, 1, 5, 10, 100},
    {"MMWeight", "MMWeight", 178, 1, 5, 0, 100},
    // A percentage kept in one byte.
    {"Sidelines", "Sidelines", 179, 1, 5, 0, 100},
};

// The write fields in the header's Field order, mapped to their places.
constexpr ReadOrder WritePlace[BookHeader::FieldCount] = {
    ReadDBname,  ReadOwnName,  ReadPosName,   ReadNrPos,         ReadNrMoves,       ReadWeightDB,
    ReadWeightNag, ReadMinDB,  ReadMinOwn,    ReadDraw,          ReadPopular,       ReadWhiteMinScore,
    ReadBlackMinScore, ReadRandom, ReadOnlyManual, ReadMMDepth, ReadMMWeight,     ReadSidelines,
};

// How long a rewrite waits for another program's rewrite of the same file.
constexpr int ReplaceWaitMs = 2000;

void ReadName(const std::vector<std::uint8_t>& image, int offset, char* name) {
  int length = 0;
  for (std::size_t at = static_cast<std::size_t>(offset);
       at < image.size() && length < BookHeader::NameLength; at++) {
    const char c = static_cast<char>(image[at]);
    if (c == '\0' || c == '\n' || c == '\r') break;
    name[length++] = c;
  }
  name[length] = '\0';
}

std::int32_t ReadSigned(const std::vector<std::uint8_t>& image, int offset, int width) {
  if (width == 1) return static_cast<std::int8_t>(image[static_cast<std::size_t>(offset)]);
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; i--) value = value << 8 | image[static_cast<std::size_t>(offset + i)];
  return static_cast<std::int32_t>(value);
}

void PutBytes(std::vector<std::uint8_t>& image, int offset, std::uint32_t value, int width) {
  if (image.size() < static_cast<std::size_t>(offset + width)) image.resize(static_cast<std::size_t>(offset + width));
  for (int i = 0; i < width; i++) image[static_cast<std::size_t>(offset + i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutName(std::vector<std::uint8_t>& image, int offset, const char* name) {
  const int length = static_cast<int>(std::strlen(name));
  if (image.size() < static_cast<std::size_t>(offset + length + 1))
    image.resize(static_cast<std::size_t>(offset + length + 1));
  std::memcpy(image.data() + offset, name, static_cast<std::size_t>(length));
  image[static_cast<std::size_t>(offset + length)] = 0;
}

enum class FileRead { Read, Unreadable, TooLarge };

FileRead ReadWholeFile(const std::string& name, std::vector<std::uint8_t>& image) {
  RegularFileReader file;
  if (file.Open(name.c_str())) return FileRead::Unreadable;
  if (file.Size() > static_cast<std::uint64_t>(BookHeader::LargestFileSize)) return FileRead::TooLarge;
  image.assign(static_cast<std::size_t>(file.Size()), 0);
  return file.ReadAt(0, image.data(), image.size()) ? FileRead::Unreadable : FileRead::Read;
}

void CopyName(char* target, const char* source) {
  std::strncpy(target, source ? source : "", BookHeader::NameLength);
  target[BookHeader::NameLength] = '\0';
}

}  // namespace

void BookHeader::SetDefaults() {
  DBname[0] = OwnName[0] = PosName[0] = CheckName[0] = '\0';
  NrPos = 0;
  NrMoves = 0;
  WeightDB = 50;
  WeightNag = 100;
  MinDB = 50;
  MinOwn = 5;
  Draw = 50;
  OnlyManual = false;
  MMDepth = 32;
  MMWeight = 90;
  Sidelines = 0;
  Popular = 3;
  WhiteMinScore = 50;
  BlackMinScore = 45;
  Random = 20;
  writable = 0;
  ErrorText[0] = '\0';
  FileVersion = CurrentVersion;
  LockedOut = false;
  Image.clear();
}

bool BookHeader::Fail(int id, const char* argument) {
  SetBookMessage(ErrorText, id, argument);
  return true;
}

bool BookHeader::Close() {
  UnlockFile(LockDescriptor);
  Opened = false;
  writable = 0;
  return false;
}

bool BookHeader::Open(const char* name, bool wantWritable) {
  Close();
  SetDefaults();
  if (!name) return Fail(2005);
  FileName = std::string(name) + ".bdf";
  if (wantWritable) {
    switch (LockFileForWriting(FileName.c_str(), LockDescriptor)) {
      case FileLockResult::Locked:
        writable = 1;
        break;
      case FileLockResult::Busy:
        // Two engines of one GUI often share a configuration: the second
        // one reads the book the first one keeps.
        LockedOut = true;
        break;
      case FileLockResult::Failed:
        return Fail(2004);
    }
  }
  std::vector<std::uint8_t> image;
  switch (ReadWholeFile(FileName, image)) {
    case FileRead::Read:
      break;
    case FileRead::Unreadable:
      Close();
      return Fail(wantWritable && !LockedOut ? 2004 : 2005);
    case FileRead::TooLarge:
      Close();
      return Fail(2007);
  }
  if (ReadImage(image)) {
    Close();
    return true;
  }
  Image = std::move(image);
  Opened = true;
  if (FileVersion < CurrentVersion && writable) {
    if (Write()) {
      Close();
      return true;
    }
  }
  return false;
}

bool BookHeader::ReadImage(const std::vector<std::uint8_t>& image) {
  if (image.empty()) return Fail(2000, "Version");
  const int version = static_cast<std::int8_t>(image[0]);
  // Only the versions this program knows: a damaged first byte (255 reads
  // as -1) must not pass for an old book that a writable open would then
  // rewrite from garbage.
  if (version < 0 || version > CurrentVersion) return Fail(2006);
  FileVersion = version;
  const int last = version < 2 ? ReadNrMoves : version == 2 ? ReadRandom : version == 3 ? ReadOnlyManual
                   : version == 4 ? ReadCheckName : ReadSidelines;
  for (int f = 0; f <= last; f++) {
    const FieldPlace& place = Places[f];
    if (f == ReadCheckName && version != 4) continue;
    const std::size_t need = static_cast<std::size_t>(place.Offset + (place.Width ? place.Width : 1));
    if (image.size() < need) return Fail(2000, place.ReadName);
    // A value no setter could have written (a damaged or hand-made file)
    // takes the nearest one it could.
    const std::int32_t value =
        place.Width ? std::clamp(ReadSigned(image, place.Offset, place.Width), place.Lowest, place.Highest) : 0;
    switch (f) {
      case ReadDBname: ReadName(image, place.Offset, DBname); break;
      case ReadOwnName: ReadName(image, place.Offset, OwnName); break;
      case ReadPosName: ReadName(image, place.Offset, PosName); break;
      case ReadCheckName: ReadName(image, place.Offset, CheckName); break;
      case ReadNrPos: NrPos = value; break;
      case ReadNrMoves: NrMoves = value; break;
      case ReadWeightDB: WeightDB = value; break;
      case ReadWeightNag: WeightNag = value; break;
      case ReadMinDB: MinDB = value; break;
      case ReadMinOwn: MinOwn = value; break;
      case ReadDraw: Draw = value; break;
      case ReadPopular: Popular = value; break;
      case ReadWhiteMinScore: WhiteMinScore = value; break;
      case ReadBlackMinScore: BlackMinScore = value; break;
      case ReadRandom: Random = value; break;
      case ReadOnlyManual: OnlyManual = value != 0; break;
      case ReadMMDepth: MMDepth = value; break;
      case ReadMMWeight: MMWeight = value; break;
      case ReadSidelines: Sidelines = value; break;
      default: break;
    }
  }
  return false;
}

void BookHeader::PutField(Field field) {
  const FieldPlace& place = Places[WritePlace[field]];
  std::int32_t value = 0;
  switch (field) {
    case FieldDBname: PutName(Image, place.Offset, DBname); return;
    case FieldOwnName: PutName(Image, place.Offset, OwnName); return;
    case FieldPosName: PutName(Image, place.Offset, PosName); return;
    case FieldNrPos: value = NrPos; break;
    case FieldNrMoves: value = NrMoves; break;
    case FieldWeightDB: value = WeightDB; break;
    case FieldWeightNag: value = WeightNag; break;
    case FieldMinDB: value = MinDB; break;
    case FieldMinOwn: value = MinOwn; break;
    case FieldDraw: value = Draw; break;
    case FieldPopular: value = Popular; break;
    case FieldWhiteMinScore: value = WhiteMinScore; break;
    case FieldBlackMinScore: value = BlackMinScore; break;
    case FieldRandom: value = Random; break;
    case FieldOnlyManual: value = OnlyManual ? 1 : 0; break;
    case FieldMMDepth: value = MMDepth; break;
    case FieldMMWeight: value = MMWeight; break;
    case FieldSidelines: value = Sidelines; break;
    default: return;
  }
  PutBytes(Image, place.Offset, static_cast<std::uint32_t>(value), place.Width);
}

// The image goes to a file beside and is renamed over the old one; the lock
// then moves to the new file, since the old one is gone from the name.
bool BookHeader::Commit() {
  FileReplacement replacement;
  if (replacement.Begin(FileName.c_str(), ReplaceWaitMs) != FileReplacement::Status::Ready ||
      replacement.Write(Image.data(), Image.size()) || replacement.Commit())
    return true;
  // Another program that opened the new file in the instant before the lock
  // moved now holds it: this one keeps what it wrote and changes no more.
  if (Relock()) {
    writable = 0;
    LockedOut = true;
    Printer.Print(ChannelLogOnly, true, "Book '%s' is in use by another program: no further changes\n",
                  FileName.c_str());
  }
  return false;
}

bool BookHeader::Relock() {
  int descriptor = -1;
  if (LockFileForWriting(FileName.c_str(), descriptor) != FileLockResult::Locked) return true;
  UnlockFile(LockDescriptor);
  LockDescriptor = descriptor;
  return false;
}

bool BookHeader::Write() {
  if (!writable) return Fail(2010);
  if (!Opened) return Fail(2009);
  const std::vector<std::uint8_t> before = Image;
  if (Image.size() < static_cast<std::size_t>(ImageSize)) Image.resize(ImageSize);
  Image[0] = CurrentVersion;
  for (int f = 0; f < FieldCount; f++) PutField(static_cast<Field>(f));
  if (Commit()) {
    Image = before;
    return Fail(2011, "Version");
  }
  FileVersion = CurrentVersion;
  return false;
}

bool BookHeader::WriteField(Field field) {
  if (!Opened) return Fail(2009);
  if (field < 0 || field >= FieldCount) return true;
  const std::vector<std::uint8_t> before = Image;
  PutField(field);
  if (Commit()) {
    Image = before;
    return Fail(2011, Places[WritePlace[field]].Keyword);
  }
  return false;
}

bool BookHeader::Create(const char* name) {
  Close();
  SetDefaults();
  if (!name) return Fail(2003);
  FileName = std::string(name) + ".bdf";
  switch (CreateNewFile(FileName.c_str())) {
    case NewFileResult::Exists:
      return Fail(2002);
    case NewFileResult::Failed:
      return Fail(2003);
    case NewFileResult::Created:
      break;
  }
  if (LockFileForWriting(FileName.c_str(), LockDescriptor) != FileLockResult::Locked) {
    std::remove(FileName.c_str());
    return Fail(2003);
  }
  writable = 1;
  Opened = true;
  if (Write()) {
    Close();
    std::remove(FileName.c_str());
    return true;
  }
  return false;
}

bool BookHeader::SetPosName(const char* name) {
  if (!writable) return Fail(2010);
  char before[NameLength + 1];
  std::memcpy(before, PosName, sizeof before);
  CopyName(PosName, name);
  if (WriteField(FieldPosName)) {
    std::memcpy(PosName, before, sizeof before);
    return true;
  }
  return false;
}

BookHeader::Range BookHeader::RangeOf(Field field) {
  const FieldPlace& place = Places[WritePlace[field]];
  return {place.Lowest, place.Highest};
}

int BookHeader::IncrementNrMoves() {
  if (!writable) {
    Fail(2010);
    return 0;
  }
  // The largest count stays: one more would wrap to a negative one.
  if (NrMoves == Unbounded) return NrMoves;
  NrMoves++;
  if (WriteField(FieldNrMoves)) {
    NrMoves--;
    return 0;
  }
  return NrMoves;
}

void BookHeader::Print() const {
  auto line = [](const char* format, auto... values) { Printer.Print(ChannelStderr, false, format, values...); };
  line("Book:          %s\n", FileName.c_str());
  line("Position File: %s\n", PosName);
  line("  positions:   %d\n", NrPos);
  line("  moves:       %d\n", NrMoves);
  if (DBname[0]) line("Database:      %s\n", DBname);
  else line("%s", "Database:      <none>\n");
  if (OwnName[0]) line("Own Games:     %s\n", OwnName);
  else line("%s", "Own Games:     <none>\n");
  line("%s", "Book Move Scoring options:\n");
  line("\tDatabase games weight:   %3d\n", WeightDB);
  line("\tMinimax depth:           %3d\n", MMDepth);
  line("\tMinimax score weight:    %3d\n", MMWeight);
  line("\tManual bonus weight:     %3d\n", WeightNag);
  line("\tMinimum nr of db games:  %3d\n", MinDB);
  line("\tMinimum nr of own games: %3d\n", MinOwn);
  line("\tWeight of draw scores:   %3d\n", Draw);
  if (Sidelines != 0) line("\tFavour sidelines up to:  %3d%%\n", Sidelines);
  else line("\tMinimum popularity:      %3d\n", Popular);
  if (OnlyManual) line("%s", "\tMajor bonus for moves with manual score\n");
  line("%s", "Book Move Selection options:\n");
  line("\tMinimum white score: %3d\n", WhiteMinScore);
  line("\tMinimum black score: %3d\n", BlackMinScore);
  line("\tRandomness:          %3d\n", Random);
}
