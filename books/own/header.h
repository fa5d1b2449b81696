// The own book's settings file (".bdf"): the companion names, the counts and
// the move-choice parameters, held in memory and written whole on every change.
//
// Version 5 layout (single bytes as the value's low byte, 4-byte values
// little-endian, a name as its characters and one NUL, never padded):
//   0 version | 10 DBname | 60 OwnName | 110 PosName | 152 NrPos (4) |
//   156 NrMoves (4) | 160 WeightDB | 161 WeightNag | 162 MinDB (4) |
//   166 MinOwn (4) | 170 Draw | 171 Popular | 172 WhiteMinScore |
//   173 BlackMinScore | 174 Random | 175 OnlyManual | 177 MMDepth |
//   178 MMWeight | 179 Sidelines
// Version 4 kept a check name at 176, over the bytes that version 5 gives to
// MMDepth, MMWeight and Sidelines; versions below 2 end after NrMoves,
// version 2 after Random, version 3 after OnlyManual.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int BookTextSize = 256;

// Formats message id of the messages file into text.
void SetBookMessage(char (&text)[BookTextSize], int id, ...);

class BookHeader {
public:
  static constexpr int CurrentVersion = 5;
  static constexpr int NameLength = 40;
  static constexpr int ImageSize = 180;
  // The largest file of any version: version 4's check name, 40 characters
  // and a NUL from offset 176, ends at 217, and a file upgraded from it keeps
  // those bytes. A longer file is no settings file and is refused unread.
  static constexpr int LargestFileSize = 176 + NameLength + 1;

  // The fields a single writer rewrites, in the order Write sets them.
  enum Field {
    FieldDBname, FieldOwnName, FieldPosName, FieldNrPos, FieldNrMoves, FieldWeightDB, FieldWeightNag,
    FieldMinDB, FieldMinOwn, FieldDraw, FieldPopular, FieldWhiteMinScore, FieldBlackMinScore, FieldRandom,
    FieldOnlyManual, FieldMMDepth, FieldMMWeight, FieldSidelines, FieldCount
  };

  // The values a field may hold: what its setter accepts, and what a value
  // read from the file is brought into (a name has none).
  struct Range {
    std::int32_t Lowest, Highest;
  };
  static Range RangeOf(Field field);

  BookHeader() { SetDefaults(); }
  ~BookHeader() { Close(); }
  BookHeader(const BookHeader&) = delete;
  BookHeader& operator=(const BookHeader&) = delete;

  // Everything below answers true on failure with a message in ErrorText.

  void SetDefaults();
  // Reads name + ".bdf". Writable opens take an advisory lock on the file;
  // when another program holds it the header opens read-only and LockedOut
  // says so. An older version is rewritten as version 5 when writable and
  // read with the defaults for what it lacks when not.
  bool Open(const char* name, bool writable);
  // A new file name + ".bdf" with the defaults, made only when no file of
  // that name exists.
  bool Create(const char* name);
  // The whole file in version 5 form.
  bool Write();
  // Rewrites the file with one field changed from its in-memory value. Every
  // write replaces the whole file, so a program killed during one leaves the
  // old settings or the new ones, never a mix.
  bool WriteField(Field field);
  bool SetPosName(const char* name);
  // The new count, 0 when it could not be written.
  int IncrementNrMoves();
  // The settings report, on standard error.
  void Print() const;
  bool Close();
  bool IsOpen() const { return Opened; }

  char ErrorText[BookTextSize] = {};
  std::string FileName;
  char DBname[NameLength + 1] = {};
  char OwnName[NameLength + 1] = {};
  char PosName[NameLength + 1] = {};
  // Read from version 4 files only and never written: on disk it shares its
  // bytes with MMDepth, MMWeight and Sidelines.
  char CheckName[NameLength + 1] = {};
  std::int32_t NrPos = 0;
  std::int32_t NrMoves = 0;
  std::int32_t WeightDB = 0;
  std::int32_t WeightNag = 0;
  std::int32_t MinDB = 0;
  std::int32_t MinOwn = 0;
  std::int32_t Draw = 0;
  bool OnlyManual = false;
  std::int32_t MMDepth = 0;
  std::int32_t MMWeight = 0;
  std::int32_t Sidelines = 0;
  std::int32_t Popular = 0;
  std::int32_t WhiteMinScore = 0;
  std::int32_t BlackMinScore = 0;
  std::int32_t Random = 0;
  std::uint8_t writable = 0;
  // The version the file had when it was read.
  int FileVersion = CurrentVersion;
  // A writable open found the file locked by another program.
  bool LockedOut = false;

private:
  bool Fail(int id, const char* argument = nullptr);
  bool ReadImage(const std::vector<std::uint8_t>& image);
  void PutField(Field field);
  bool Commit();
  bool Relock();

  bool Opened = false;
  int LockDescriptor = -1;
  // The file's bytes as read: whole rewrites keep the bytes no field owns.
  std::vector<std::uint8_t> Image;
};
