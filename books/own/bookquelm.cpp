// The own book's file set: creating, opening and closing it with its
// companion databases, a position's moves, single-move edits, the companion
// names, the parameters and the reports.
#include "books/own/bookquelm.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "support/messages.h"
#include "support/output.h"
#include "support/platform.h"

namespace {

void ErrorLine(const char* text) { Printer.Print(ChannelStderr, false, "%s\n", text); }

std::string BaseOf(const char* name) {
  std::string path = name ? name : "";
  for (char& c : path)
    if (c == '\\') c = '/';
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameMove(const GameMove& a, const GameMove& b) {
  return a.From == b.From && a.To == b.To && a.Promotion == b.Promotion;
}

}  // namespace

BookQuelm::BookQuelm() {
  OwnDatabase.SetSink(Quiet);
  BigDatabase.SetSink(Quiet);
}

BookQuelm::~BookQuelm() { CloseFiles(); }

std::string BookQuelm::DirectoryPart(const char* name) {
  if (!name) return "";
  const std::string path = std::string(name).substr(0, 255);
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string BookQuelm::Companion(const char* stored) const {
  std::string directory = Directory;
  for (char& c : directory)
    if (c == '\\') c = '/';
  return directory + BaseOf(stored);
}

void BookQuelm::CloseFiles() {
  open = 0;
  Positions.Close();
  if (OwnDatabase.IsOpen()) OwnDatabase.Close();
  if (BigDatabase.IsOpen()) BigDatabase.Close();
  Header.Close();
  if (ProcessedSet.IsOpen()) ProcessedSet.Close();
}

bool BookQuelm::Create(const char* name) {
  if (!name) return true;
  CloseFiles();
  const std::string base = BaseOf(name);
  // The position file's name is kept in a 40-character field: a longer name
  // would be cut into another book's name. The directory is stored nowhere
  // and may be as long as the system allows.
  if (base.empty() || base.size() > static_cast<std::size_t>(BookHeader::NameLength)) {
    SetBookMessage(Header.ErrorText, 2025);
    return true;
  }
  if (Header.Create(name)) return true;
  Directory = DirectoryPart(name);
  BaseName = name;
  if (Header.SetPosName(base.c_str()) || Positions.Create(name)) {
    Header.Close();
    if (std::remove(Header.FileName.c_str()) != 0) SetBookMessage(Header.ErrorText, 2008, std::strerror(errno));
    return true;
  }
  open = 1;
  return false;
}

bool BookQuelm::OpenOwnDatabase() {
  if (!Header.OwnName[0]) return true;
  return OwnDatabase.Open(Companion(Header.OwnName), Header.writable != 0);
}

bool BookQuelm::OpenProcessedSet(const std::string& name, bool writable) {
  if (FileExists(name.c_str())) return ProcessedSet.Open(name.c_str(), writable);
  // A read-only book without the set has processed nothing; only a writable
  // one makes the file.
  if (!writable) return false;
  return ProcessedSet.Create(name.c_str(), ProcessedSetEntries);
}

bool BookQuelm::Open(const char* name, bool wantWritable) {
  CloseFiles();
  writable = wantWritable ? 1 : 0;
  if (!name) return true;
  Directory = DirectoryPart(name);
  BaseName = name;
  if (Header.Open(name, wantWritable)) return true;
  if (Header.LockedOut) writable = 0;  // the book list tells the user
  const bool canWrite = Header.writable != 0;
  auto fail = [this] {
    CloseFiles();
    return true;
  };
  if (Header.PosName[0]) {
    if (Positions.Open(Companion(Header.PosName).c_str(), canWrite)) return fail();
  } else {
    // A book without a position file gets one under its own name, stored
    // without the directory that every companion name is read against.
    if (!canWrite) {
      SetBookMessage(Positions.ErrorText, 2044);
      return fail();
    }
    const std::string base = BaseOf(name);
    if (Header.SetPosName(base.c_str())) return fail();
    const std::string positions = Companion(Header.PosName);
    if (FileExists((positions + ".bpf").c_str()) ? Positions.Open(positions.c_str(), true)
                                                  : Positions.Create(positions.c_str()))
      return fail();
  }
  // The check name shares its bytes with three parameters in the current
  // format, so it is kept in memory only.
  if (!Header.CheckName[0] && canWrite) std::snprintf(Header.CheckName, sizeof Header.CheckName, "%s", name);
  if (Header.DBname[0] && BigDatabase.Open(Companion(Header.DBname), false) && canWrite) return fail();
  if (!Header.OwnName[0]) {
    if (SaveGames && canWrite) return fail();
  } else if (OpenOwnDatabase() && canWrite) {
    return fail();
  }
  if (OpenProcessedSet(std::string(name) + ".bdd", canWrite)) return fail();
  open = 1;
  return false;
}

bool BookQuelm::Close() {
  open = 0;
  bool failed = false;
  Positions.Close();
  if (OwnDatabase.IsOpen() && OwnDatabase.Close()) failed = true;
  if (BigDatabase.IsOpen() && BigDatabase.Close()) failed = true;
  Header.Close();
  if (ProcessedSet.IsOpen()) ProcessedSet.Close();
  return failed;
}

bool BookQuelm::Flush() {
  if (Header.PosName[0]) Positions.Flush();
  if (ProcessedSet.IsOpen() && ProcessedSet.Writable && !ProcessedSet.Flush()) SyncFileToDisk(ProcessedSet.FileName.c_str());
  return false;
}

BookPosition* BookQuelm::GetBookPosition(const GameBoard& board) {
  if (!open) return nullptr;
  BookPosition* position = BookPosition::Allocate();
  if (!position) return nullptr;
  if (Positions.FindStart(board.HashKey())) {
    position->Release();
    return nullptr;
  }
  while (BookQuelmEntry* entry = Positions.ReadEntries()) {
    // Free records hold no move, and a manual score below -100 hides a
    // move from the choice while keeping its figures.
    if (entry->IsFreeRecord() || entry->Manual < -100 || position->Count >= BookPosition::MaxEntries) {
      BookQuelmEntry::Free(entry);
      continue;
    }
    position->Add(entry);
  }
  return position;
}

bool BookQuelm::HasMove(const GameBoard& board, const GameMove& move) {
  if (!open) return false;
  std::uint32_t record = 0;
  if (Positions.FindRecord(board.HashKey(), move, record)) return false;
  BookQuelmEntry entry;
  return !Positions.ReadRecord(record, entry) && SameMove(entry.Move, move);
}

bool BookQuelm::RefusesWrites() {
  if (Header.writable) return false;
  SetBookMessage(Header.ErrorText, 2010);
  return true;
}

bool BookQuelm::CountAppended(bool appended) {
  // The record is in the book, but a count that did not follow is a
  // failure the caller must hear of.
  return appended && Header.IncrementNrMoves() == 0;
}

bool BookQuelm::StoreEntry(BookQuelmEntry& entry, int failureMessage) {
  bool appended = false;
  if (Positions.WriteEntry(entry, &appended)) {
    SetBookMessage(Positions.ErrorText, failureMessage);
    return true;
  }
  return CountAppended(appended);
}

bool BookQuelm::InsertMove(const GameBoard& board, const GameMove& move) {
  if (!open || RefusesWrites()) return true;
  const std::uint64_t key = board.HashKey();
  std::uint32_t record = 0;
  if (!Positions.FindRecord(key, move, record)) {
    BookQuelmEntry found;
    if (!Positions.ReadRecord(record, found) && SameMove(found.Move, move)) return false;
  }
  BookQuelmEntry entry;
  entry.Set(key, move);
  return StoreEntry(entry, 2056);
}

bool BookQuelm::UpdateMove(const GameBoard& board, const BookEntry& given) {
  if (!open || RefusesWrites()) return true;
  BookQuelmEntry entry;
  if (const auto* own = dynamic_cast<const BookQuelmEntry*>(&given)) {
    entry = *own;
  } else {
    // Another kind's entry has no key of its own: it stands for the board.
    entry.Set(board.HashKey(), *given.GetMove());
    entry.Manual = given.GetManual();
    entry.SetDB(given.GetDBGames(), given.GetDBWins(), given.GetDBDraws(), given.GetDBLosses());
    entry.SetOwn(given.GetOwnGames(), given.GetOwnWins(), given.GetOwnDraws(), given.GetOwnLosses());
    entry.SetMinimax(given.GetMinimaxDepth(), given.GetMinimaxScore());
    entry.SetMinimax2(given.GetMinimax2Depth(), given.GetMinimax2Score());
  }
  entry.Valid = 1;
  return StoreEntry(entry, 2055);
}

bool BookQuelm::UpdateMoveNag(const GameBoard& board, const GameMove& move, std::int32_t value) {
  if (!open || RefusesWrites()) return true;
  value = std::max(-100, std::min(100, value));
  bool appended = false;
  if (Positions.SetManual(board, move, appended, value)) return true;
  return CountAppended(appended);
}

bool BookQuelm::DeleteMove(const GameBoard& board, const GameMove& move) {
  if (!open || RefusesWrites()) return true;
  const std::uint64_t key = board.HashKey();
  std::uint32_t record = 0;
  BookQuelmEntry entry;
  // A free record of the position is where a new move would go, not the
  // move asked for.
  if (Positions.FindRecord(key, move, record) || Positions.ReadRecord(record, entry) || !SameMove(entry.Move, move)) {
    ErrorLine("Move not found");
    return true;
  }
  entry.MakeFree(key);
  if (Positions.WriteRecord(record, entry)) {
    SetBookMessage(Positions.ErrorText, 2055);
    return true;
  }
  return false;
}

bool BookQuelm::ImportGames(const char* fileName, bool flag) {
  if (!BigDatabase.IsOpen()) return true;
  if (RefusesWrites()) return true;
  // The big database is the book's read-only source; an import is the one
  // time it is written, so it is opened writable for that alone.
  const std::string path = BigDatabase.Name();
  BigDatabase.Close();
  if (BigDatabase.Open(path, true)) {
    BigDatabase.Open(path, false);
    return true;
  }
  BigDatabase.SetSink(Console);
  const bool failed = BigDatabase.ImportPgn(fileName, flag ? 1 : 0);
  BigDatabase.SetSink(Quiet);
  BigDatabase.Close();
  if (BigDatabase.Open(path, false)) return true;
  return failed;
}

bool BookQuelm::StoreGame(Game& game) {
  if (!OwnDatabase.IsOpen()) return true;
  OwnDatabase.CurrentGame = 0;
  return OwnDatabase.AddGame(game);
}

bool BookQuelm::StoreDatabaseName(GamesDatabase& database, char* field, BookHeader::Field which, const char* name) {
  if (!open) {
    ErrorLine("Error (Book): Database not open");
    return true;
  }
  if (field[0] && database.IsOpen()) database.Close();
  const std::string base = BaseOf(name);
  if (!Header.writable || base.size() > static_cast<std::size_t>(BookHeader::NameLength)) {
    SetBookMessage(Header.ErrorText, Header.writable ? 2025 : 2010);
    ErrorLine("Error (Book): Could not set Database name");
    return true;
  }
  char before[BookHeader::NameLength + 1];
  std::memcpy(before, field, sizeof before);
  std::snprintf(field, sizeof before, "%s", base.c_str());
  if (Header.WriteField(which)) {
    std::memcpy(field, before, sizeof before);
    ErrorLine("Error (Book): Could not set Database name");
    return true;
  }
  return false;
}

bool BookQuelm::SetDatabase(const char* name) {
  if (StoreDatabaseName(BigDatabase, Header.DBname, BookHeader::FieldDBname, name)) return true;
  if (Header.DBname[0] && !BigDatabase.Open(Companion(Header.DBname), false)) return false;
  Printer.Print(ChannelStderr, false, "Error (Book): Could not open Games Database %s\n", Header.DBname);
  return true;
}

bool BookQuelm::SetOwnDatabase(const char* name) {
  if (StoreDatabaseName(OwnDatabase, Header.OwnName, BookHeader::FieldOwnName, name)) return true;
  if (!OpenOwnDatabase()) return false;
  Printer.Print(ChannelStderr, false, "Warning (Book): Could not open Own Games Database %s\n", Header.OwnName);
  if (Header.OwnName[0] && !OwnDatabase.Create(Companion(Header.OwnName), true, false)) {
    Printer.Print(ChannelStderr, false, "Created Own Games Database %s\n", name);
    return false;
  }
  Printer.Print(ChannelStderr, false, "Error (Book): Could not create Own Games Database %s\n", name ? name : "");
  return true;
}

bool BookQuelm::ClearDBStats() {
  if (!open) return ErrorLine("Error (Book): Database not open"), true;
  return Positions.ClearDBStats();
}

bool BookQuelm::ClearOwnStats() {
  if (!open) return ErrorLine("Error (Book): Database not open"), true;
  return Positions.ClearOwnStats();
}

bool BookQuelm::ClearManual() {
  if (!open) return ErrorLine("Error (Book): Database not open"), true;
  return Positions.ClearManual();
}

bool BookQuelm::ClearMinimax() {
  if (!open) return ErrorLine("Error (Book): Database not open"), true;
  return Positions.ClearMinimax();
}

bool BookQuelm::SetParameter(std::int32_t& field, BookHeader::Field which, const char* keyword, std::int64_t value) {
  if (RefusesWrites()) return true;
  const BookHeader::Range range = BookHeader::RangeOf(which);
  if (value < range.Lowest || value > range.Highest) {
    SetBookMessage(Header.ErrorText, 2012, static_cast<int>(value), keyword);
    return true;
  }
  const std::int32_t before = field;
  field = static_cast<std::int32_t>(value);
  if (Header.WriteField(which)) {
    field = before;
    return true;
  }
  return false;
}

// The ranges are the settings file's own (BookHeader::RangeOf), which its
// reading keeps too.
bool BookQuelm::SetWeightDB(std::int32_t v) { return SetParameter(Header.WeightDB, BookHeader::FieldWeightDB, "WeightDB", v); }
bool BookQuelm::SetWeightNag(std::int32_t v) { return SetParameter(Header.WeightNag, BookHeader::FieldWeightNag, "WeightNag", v); }
bool BookQuelm::SetMinDB(std::int32_t v) { return SetParameter(Header.MinDB, BookHeader::FieldMinDB, "MinDB", v); }
bool BookQuelm::SetMinOwn(std::int32_t v) { return SetParameter(Header.MinOwn, BookHeader::FieldMinOwn, "MinOwn", v); }
bool BookQuelm::SetDraw(std::int32_t v) { return SetParameter(Header.Draw, BookHeader::FieldDraw, "Draw", v); }
bool BookQuelm::SetPopular(std::int32_t v) { return SetParameter(Header.Popular, BookHeader::FieldPopular, "Popular", v); }
bool BookQuelm::SetMMdepth(std::int32_t v) { return SetParameter(Header.MMDepth, BookHeader::FieldMMDepth, "MMDepth", v); }
bool BookQuelm::SetMMweight(std::int32_t v) { return SetParameter(Header.MMWeight, BookHeader::FieldMMWeight, "MMWeight", v); }
bool BookQuelm::SetSidelines(std::int32_t v) { return SetParameter(Header.Sidelines, BookHeader::FieldSidelines, "Sidelines", v); }
bool BookQuelm::SetWhiteMinscore(std::int32_t v) { return SetParameter(Header.WhiteMinScore, BookHeader::FieldWhiteMinScore, "WhiteMinScore", v); }
bool BookQuelm::SetBlackMinscore(std::int32_t v) { return SetParameter(Header.BlackMinScore, BookHeader::FieldBlackMinScore, "BlackMinScore", v); }
bool BookQuelm::SetRandomness(std::int32_t v) { return SetParameter(Header.Random, BookHeader::FieldRandom, "Random", v); }

bool BookQuelm::SetManual(bool value) {
  if (RefusesWrites()) return true;
  const bool before = Header.OnlyManual;
  Header.OnlyManual = value;
  if (Header.WriteField(BookHeader::FieldOnlyManual)) {
    Header.OnlyManual = before;
    return true;
  }
  return false;
}

bool BookQuelm::RebuildIndex() {
  if (!open) return true;
  return Positions.RebuildIndex();
}

bool BookQuelm::Reorganise() {
  if (!open) return true;
  return Positions.Reorganise();
}

void BookQuelm::Display() {
  if (!open) Printer.Print(ChannelStdout, false, "No open book\n");
  else Printer.Print(ChannelStdout, false, "The Quelm book '%s'; is opened\n", Header.FileName.c_str());
}

void BookQuelm::ShowBookMoves(const GameBoard& board) {
  ShowListing(board, BigDatabase.IsOpen() ? BigDatabase.GameCount : 0, OwnDatabase.IsOpen() ? OwnDatabase.GameCount : 0);
}

void BookQuelm::Show() {
  if (!open) {
    Printer.Print(ChannelStdout, false, "No open book\n");
    return;
  }
  Header.Print();
  Printer.Print(ChannelStdout, false, "%s",
                Update ? "The Position file will be updated with each move\n" : "The Position file will not be changed\n");
  Printer.Print(ChannelStdout, false, "Database with own games:\n");
  if (OwnDatabase.IsOpen()) {
    OwnDatabase.SetSink(Console);
    OwnDatabase.PrintSummary();
    OwnDatabase.SetSink(Quiet);
  }
  Printer.Print(ChannelStdout, false, "%s",
                SaveGames ? "New games will be saved in this database\n" : "New games will not be saved in this database\n");
  Printer.Print(ChannelStdout, false, "Big Database:\n");
  if (BigDatabase.IsOpen()) {
    BigDatabase.SetSink(Console);
    BigDatabase.PrintSummary();
    BigDatabase.SetSink(Quiet);
  }
}
