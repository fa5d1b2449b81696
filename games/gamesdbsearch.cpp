// The games database across all of its games: the search by position, the
// rebuild into a fresh set put in place behind a commit marker, and the PGN
// import.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "games/gamesdb.h"
#include "support/messages.h"
#include "support/platform.h"

namespace fs = std::filesystem;

namespace {

// Message ids.
constexpr int GamesRead = 1;
constexpr int GamesAdded = 2;
constexpr int ErrorPrefix = 3;
constexpr int AddedInTotal = 5;
constexpr int PgnReadError = 14;
constexpr int GamesSkipped = 15;
constexpr int GamesCopied = 16;
constexpr int GamesWord = 17;
constexpr int LinesWord = 18;
constexpr int RebuildFirst = 19;
constexpr int BadRecordHeader = 21;
constexpr int CannotWriteRecord = 22;
constexpr int NotOpen = 26;
constexpr int CannotCreate = 30;
constexpr int ReadOnlyDatabase = 31;
constexpr int PgnNotOpened = 43;

// Progress lines come once per this many games: a line per game would cost
// an import of small games more in its sink than in its work. Chosen so that
// a console shows the count moving a few times a second at import speed.
constexpr std::uint32_t ProgressEvery = 1000;

// Games staged before a commit in the import and the rebuild: enough that a
// commit writes many entries to each index block it touches (a rebuilt
// index has up to 8192 chains), few enough that the entries held stay a few
// megabytes and a program killed mid-import loses only the last batch.
constexpr std::size_t CommitEveryGames = 20000;
constexpr std::size_t CommitEveryEntries = std::size_t(1) << 20;

// Positions the rebuild before an import plans per game: about the number
// of distinct main-line positions of a master game.
constexpr std::uint64_t PositionsPerGame = 100;

// The commit marker inside a rebuild's directory: once it exists the new set
// is complete on the disk and replaces the old one, even after a crash.
constexpr const char* CommitMarker = "commit";
constexpr const char* SetExtensions[] = {".fdb", ".fgf", ".fgr", ".fpi", ".fsi"};

fs::path DirectoryOf(const std::string& base) {
  fs::path parent = fs::path(base).parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

// A rebuild's directory lies beside the set (a rename across file systems
// would fail) and is named after it, so that Open finds what a killed
// rebuild left: "<name>.rebuild-<process id>-<n>". The files inside take a
// short name of their own, so that the set's name is not spelt twice in
// their paths.
std::string RebuildPrefix(const std::string& base) { return fs::path(base).filename().string() + ".rebuild-"; }
constexpr const char* RebuiltSetName = "set";
constexpr int RebuildDirectoryTries = 100;
// The longest "<process id>-<n>" a rebuild's directory name ends with: an
// int's ten digits, the dash, and n below RebuildDirectoryTries.
constexpr std::size_t LongestRebuildNumbers = 10 + 1 + 2;
constexpr std::size_t LongestExtension = 4;

// Counts the games of a PGN stream by their tag sections, at the speed of
// reading it: a line that opens with '[' after move text (or at the start)
// begins a game. The count sizes the index; the import itself reads every
// game. Leaves the stream at its end and lines at the number of lines.
std::uint32_t CountPgnGames(std::FILE* stream, int& lines) {
  std::uint32_t games = 0;
  bool inTags = false, lineStart = true, blankSoFar = true, afterCr = false;
  char buffer[1 << 16];
  std::size_t got;
  lines = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) {
    for (std::size_t i = 0; i < got; i++) {
      const char c = buffer[i];
      // Lines end as the PGN reader ends them: LF, CRLF or a lone CR.
      const bool secondOfCrLf = afterCr && c == '\n';
      afterCr = c == '\r';
      if (secondOfCrLf) continue;
      if (c == '\n' || c == '\r') {
        lines++;
        lineStart = blankSoFar = true;
        continue;
      }
      if (lineStart && c == '[') {
        if (!inTags) games++;
        inTags = true;
      } else if (blankSoFar && c != ' ' && c != '\t' && c != '%') {
        inTags = false;
      }
      if (c != ' ' && c != '\t') blankSoFar = false;
      lineStart = false;
    }
  }
  return games;
}

int MainLineLength(const Game& game) {
  int length = 0;
  for (const GameNode* node = game.Root; node; node = node->MainChild) length++;
  return length;
}

// Everything that decides whether two boards hold the same position. A
// castling rook's square counts only while its right is held: after the
// right is gone it is a remnant of the game's start, and two games from
// different Chess960 starts reach equal positions.
bool SamePosition(const GameBoard& a, const GameBoard& b) {
  if (a.Side != b.Side || (a.EpSquare > 0 ? a.EpSquare : 0) != (b.EpSquare > 0 ? b.EpSquare : 0)) return false;
  for (int side = 0; side < 4; side++) {
    if (a.CastlingFlags[side] != b.CastlingFlags[side]) return false;
    if (a.CastlingFlags[side] && a.CastlingRookSquare[side] != b.CastlingRookSquare[side]) return false;
  }
  return std::equal(a.Squares, a.Squares + 64, b.Squares);
}

// The PGN reader's complaints during an import: each costs one game, not
// the import, so they are warnings.
class ImportWarnings : public GameSink {
public:
  explicit ImportWarnings(GameSink& sink) : Sink(sink) {}
  void Write(const char* text) override { Sink.Write(text); }
  void Report(bool, int messageId, int line, const char* text) override { Sink.Report(true, messageId, line, text); }

private:
  GameSink& Sink;
};

}  // namespace

// ---------------------------------------------------------------- search

void GamesDatabase::EndSearch() {
  if (Search) Search->Active = false;
}

bool GamesDatabase::StartPositionSearch(const GameBoard& target) {
  if (!Search) Search = std::make_unique<SearchState>();
  SearchState& search = *Search;
  search.Target = &target;
  search.Active = Opened;
  search.LastCandidate = 0;
  search.NextGame = 1;
  search.Sequential = !PositionIndex.IsOpen();
  if (!search.Active || search.Sequential) return false;
  const std::uint32_t key = static_cast<std::uint32_t>(target.HashKey());
  PositionIndex.SearchKey = key;
  PositionIndex.SearchMask = 0xFFFFFFFFu;
  if (PositionIndex.FindFirst(key & (PositionIndex.BucketCount - 1))) {
    // A damaged index: the games are still there to be scanned.
    Warn(33, BaseName.c_str());
    search.Sequential = true;
  }
  return false;
}

void GamesDatabase::SkipPositionSearchTo(std::uint32_t g) {
  if (!Search || !Search->Active) return;
  if (Search->Sequential)
    Search->NextGame = std::max(Search->NextGame, g);
  else if (PositionIndex.FindFrom(g))
    Search->Active = false;
}

std::uint32_t GamesDatabase::NextPositionMatch() {
  if (!Search || !Search->Active || !Opened) return 0;
  SearchState& search = *Search;
  const GameBoard& target = *search.Target;
  for (;;) {
    std::uint32_t g;
    if (search.Sequential) {
      g = search.NextGame++;
      if (g == 0 || g > GameCount) break;
    } else {
      g = PositionIndex.FindNext();
      if (g == 0) break;
      // Entries above the count belong to an append that never committed.
      if (g > GameCount || g <= search.LastCandidate) continue;
    }
    search.LastCandidate = g;
    Game& game = search.Replay;
    std::uint8_t flags = 0;
    if (LoadGameInto(g, game, flags)) {
      char number[16];
      std::snprintf(number, sizeof number, "%u", g);
      Fail(BadRecordHeader, number);
      continue;
    }
    if (flags != 0) continue;
    // Pieces never come back: once the game has fewer than the target, it
    // cannot reach it any more.
    bool found = false;
    game.Rewind();
    do {
      if (game.Board.PieceCount < target.PieceCount) break;
      found = SamePosition(game.Board, target);
    } while (!found && !game.Forward());
    if (found) return g;
  }
  search.Active = false;
  return 0;
}

// ---------------------------------------------------------------- rebuild

bool GamesDatabase::StagedFull() const {
  return Staged.Offsets.size() >= CommitEveryGames ||
         Staged.Positions.size() + Staged.Players.size() >= CommitEveryEntries;
}

std::string GamesDatabase::RebuiltFile(const std::string& directory, const std::string& base, const char* extension) {
  std::error_code error;
  const std::string file = (fs::path(directory) / RebuiltSetName).string() + extension;
  if (fs::exists(file, error)) return file;
  // A rebuild of an earlier build named the files after the set.
  return (fs::path(directory) / fs::path(base).filename()).string() + extension;
}

bool GamesDatabase::NameTooLong(const std::string& base, std::string& why) {
  const std::size_t part = fs::path(base).filename().string().size();
  const std::size_t suffixes = RebuildPrefix("").size() + LongestRebuildNumbers;
  const std::size_t longestPart = LongestFileName() - suffixes;
  // The longest path: a file inside the rebuild's directory.
  const std::size_t longestPath =
      LongestPathName() - suffixes - 1 - std::char_traits<char>::length(RebuiltSetName) - LongestExtension;
  if (part <= longestPart && base.size() <= longestPath) return false;
  why = "the name is too long for this system (at most " + std::to_string(longestPart) +
        " characters after the last '/', " + std::to_string(longestPath) + " in all)";
  return true;
}

// Moves the files of a committed rebuild over the set's; true on failure
// (the marker then stays, and the next open tries again).
bool GamesDatabase::MoveSetIntoPlace(const std::string& directory, const std::string& base) {
  std::error_code error;
  for (const char* extension : SetExtensions) {
    const std::string from = RebuiltFile(directory, base, extension);
    if (!fs::exists(from, error)) continue;
    fs::rename(from, base + extension, error);
    if (error) return true;
  }
  SyncDirectory(DirectoryOf(base).c_str());
  return false;
}

bool GamesDatabase::FinishRebuildLeftovers() {
  const std::string prefix = RebuildPrefix(BaseName);
  std::error_code error;
  std::vector<fs::path> leftovers;
  for (const auto& entry : fs::directory_iterator(DirectoryOf(BaseName), error)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) == 0 && entry.is_directory(error)) leftovers.push_back(entry.path());
  }
  for (const fs::path& directory : leftovers) {
    const bool committed = fs::exists(directory / CommitMarker, error);
    if (!Writable) {
      // Reading must not write: the committed set is read where it lies.
      if (committed) PendingDirectory = directory.string();
      continue;
    }
    if (committed && MoveSetIntoPlace(directory.string(), BaseName)) return true;
    fs::remove_all(directory, error);
  }
  return false;
}

bool GamesDatabase::CopyLiveGames(GamesDatabase& target) {
  Game game;
  std::uint32_t copied = 0;
  char number[16];
  for (std::uint32_t g = 1; g <= GameCount; g++) {
    std::snprintf(number, sizeof number, "%u", g);
    std::uint8_t flags = 0;
    if (LoadGameInto(g, game, flags)) return Fail(BadRecordHeader, number);
    CurrentGame = 0;
    if (flags & DeletedFlag) continue;
    if (RecordsFileVersion == OlderVersion) {
      // The older records were written under another rook-square rule; the
      // places of the current one are worked out on the current rule.
      game.Rewind();
      game.Board.RookSquareOption = 1;
      if (game.Root && game.Root->AssignMoveIndices(game)) return Fail(BadRecordHeader, number);
    }
    game.Rewind();
    game.ComputeGameHash();
    if (target.StageGame(game) || (target.StagedFull() && target.CommitStaged())) return true;
    if (++copied % ProgressEvery == 0) Sink->Printf("%u %s\r", copied, Messages.Text(GamesCopied));
  }
  if (target.CommitStaged()) return true;
  target.CurrentGame = 0;
  Sink->Printf("%u %s, %u %s.\n", GameCount, Messages.Text(GamesRead), target.GameCount, Messages.Text(GamesAdded));
  return false;
}

bool GamesDatabase::Rebuild(std::uint64_t positions) {
  if (!Opened) return Fail(NotOpen);
  if (!Writable) return Fail(ReadOnlyDatabase);
  EndSearch();
  std::error_code error;
  const fs::path parent = DirectoryOf(BaseName);
  fs::path directory;
  for (int n = 0; directory.empty() && n < RebuildDirectoryTries; n++) {
    fs::path candidate = parent / (RebuildPrefix(BaseName) + std::to_string(ProcessId()) + "-" + std::to_string(n));
    if (fs::create_directory(candidate, error)) directory = candidate;
    if (error) break;
  }
  if (directory.empty()) return Fail(CannotCreate, (parent / RebuildPrefix(BaseName)).c_str());
  const std::string tempName = (directory / RebuiltSetName).string();

  // Sized once for the games to come: 64-bit arithmetic, since a hundred
  // positions per game overflows 32 bits from 43 million games on.
  const std::uint64_t positionEntries =
      std::max({positions, std::uint64_t(PositionCount), PositionsPerGame * GameCount});
  const std::uint64_t playerEntries = 2 * std::max(positions, std::uint64_t(PositionCount));
  GamesDatabase temp(*Sink);
  // Creating and copying report their own failures; the saving after them
  // is reported here.
  const bool failed = temp.CreateSet(tempName, !NoPositionIndex, !NoPlayerIndex,
                                     static_cast<std::int64_t>(positionEntries),
                                     static_cast<std::int64_t>(playerEntries)) ||
                      CopyLiveGames(temp);
  bool unsaved = !failed && temp.Flush();
  temp.Close();
  // The new set reaches the disk whole before the marker says so.
  for (const char* extension : SetExtensions) {
    const std::string file = tempName + extension;
    if (!failed && !unsaved && fs::exists(file, error)) unsaved = SyncFileToDisk(file.c_str());
  }
  if (!failed && !unsaved) {
    const std::string marker = (directory / CommitMarker).string();
    std::FILE* file = std::fopen(marker.c_str(), "w");
    unsaved = !file || std::fclose(file) != 0 || SyncFileToDisk(marker.c_str()) || SyncDirectory(directory.c_str());
  }
  if (failed || unsaved) {
    fs::remove_all(directory, error);
    return unsaved ? Fail(CannotCreate, directory.c_str()) : true;
  }
  const std::string base = BaseName;
  Close();
  // From here on the new set is the database: what fails now is finished by
  // the next open.
  if (!MoveSetIntoPlace(directory.string(), base)) fs::remove_all(directory, error);
  SyncDirectory(parent.c_str());
  return Open(base, true);
}

// ---------------------------------------------------------------- import

bool GamesDatabase::ImportPgn(const char* fileName, int flag) {
  (void)flag;
  if (!Opened) return Fail(NotOpen);
  if (!Writable) return Fail(ReadOnlyDatabase);
  CurrentGame = 0;
  std::FILE* stream = fileName ? std::fopen(fileName, "r") : nullptr;
  if (!stream) return Fail(PgnNotOpened, fileName ? fileName : "");

  // The first pass counts the games, so that the index is sized once before
  // the first of them is appended; nothing is held in memory.
  PgnInput input;
  input.Stream = stream;
  const std::uint32_t read = CountPgnGames(stream, input.Line);
  auto readError = [&]() {
    Flush();
    char text[256];
    std::snprintf(text, sizeof text, "%s: %s %d\n", Messages.Text(ErrorPrefix), Messages.Text(PgnReadError),
                  input.Line);
    Sink->Report(false, PgnReadError, input.Line, text);
    std::fclose(stream);
    return true;
  };
  if (std::ferror(stream)) return readError();
  Sink->Printf("%u %s.\n", read, Messages.Text(GamesRead));

  if (IndexesReady()) {
    std::fclose(stream);
    return true;
  }
  if (read > GameCount && read >= 101 && !NoPositionIndex) {
    Sink->Printf("%s\n", Messages.Text(RebuildFirst));
    // A failed rebuild leaves the set as it was and fails the import: going
    // on would crowd the games into an index sized for far fewer.
    if (Rebuild(PositionsPerGame * (std::uint64_t(GameCount) + read))) {
      std::fclose(stream);
      return true;
    }
  }

  std::rewind(stream);
  input = PgnInput();
  input.Stream = stream;
  Game game;
  ImportWarnings warnings(*Sink);
  std::uint32_t added = 0, skipped = 0;
  auto appendFailed = [&](int line) {
    // The games committed so far stay, and so do those staged before the
    // one that failed.
    CommitStaged();
    Flush();
    char text[256];
    std::snprintf(text, sizeof text, "%s: %s %s %d\n", Messages.Text(ErrorPrefix), Messages.Text(CannotWriteRecord),
                  Messages.Text(10), line);
    Sink->Report(false, CannotWriteRecord, line, text);
    std::fclose(stream);
    return true;
  };
  for (PgnResult result; (result = game.ReadPgn(input, warnings)) != PgnResult::End;) {
    if (result == PgnResult::Error) {
      skipped++;
      continue;
    }
    if (MainLineLength(game) < 2) continue;
    if (StageGame(game)) return appendFailed(input.Line);
    if (StagedFull() && CommitStaged()) return appendFailed(input.Line);
    if (++added % ProgressEvery == 0) Sink->Printf("%u %s\r", added, Messages.Text(GamesAdded));
  }
  if (CommitStaged()) return appendFailed(input.Line);
  CurrentGame = 0;
  if (std::ferror(stream)) return readError();
  std::fclose(stream);
  Flush();
  if (skipped) Sink->Printf("%u %s\n", skipped, Messages.Text(GamesSkipped));
  Sink->Printf("%u %s.\n", added, Messages.Text(AddedInTotal));
  return false;
}
