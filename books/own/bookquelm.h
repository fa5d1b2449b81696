// The engine's own opening-book format: a settings file (".bdf"), a position
// file with its index (".bpf"/".bpi"), two games databases that feed the
// move statistics (a big one, read-only, and one of the engine's own games)
// and the set of processed big-database games (".bdd"). Companion files live
// in the book's directory under the names the settings file keeps.
// bookquelm.cpp holds the file set, the moves and the parameters;
// bookstats.cpp the statistics and the games queue.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "books/book.h"
#include "books/own/header.h"
#include "books/own/positions.h"
#include "games/gamesdb.h"
#include "games/gamesink.h"
#include "support/indexfile.h"

class BookQuelm : public Book {
public:
  static constexpr std::int64_t ProcessedSetEntries = 100000000;

  BookQuelm();
  ~BookQuelm() override;

  int GetKind() const override { return BookKindOwn; }
  // A new book N: N.bdf, N.bpf and N.bpi; nothing is replaced. The book is
  // then open, writable.
  bool Create(const char* name) override;
  // A writable open that finds the book locked by another program opens it
  // read-only with Header.LockedOut set, for the opener to report.
  bool Open(const char* name, bool writable) override;
  bool Close() override;
  bool Flush() override;
  bool Backup() override { return true; }
  BookPosition* GetBookPosition(const GameBoard& board) override;
  bool HasMove(const GameBoard& board, const GameMove& move) override;
  bool InsertMove(const GameBoard& board, const GameMove& move) override;
  bool UpdateMove(const GameBoard& board, const BookEntry& entry) override;
  bool UpdateMoveNag(const GameBoard& board, const GameMove& move, std::int32_t value) override;
  bool DeleteMove(const GameBoard& board, const GameMove& move) override;
  bool UpdateStats(const GameBoard& board, std::int32_t limit) override;
  bool RecalcStats(const GameBoard& board) override;
  bool ImportGames(const char* fileName, bool flag) override;
  bool StoreGame(Game& game) override;
  Game* GetUnprocessedGameExcept(const GameBoard& board, std::set<std::int32_t>& except) override;
  Game* GetUnprocessedGame(const GameBoard& board) override;
  Game* GetRandomGameExcept(std::set<std::int32_t>& except) override;
  Game* GetRandomGame() override;
  bool SetDatabase(const char* name) override;
  bool ClearDBStats() override;
  bool SetOwnDatabase(const char* name) override;
  bool ClearOwnStats() override;
  bool ClearManual() override;
  bool ClearMinimax() override;
  bool SetSaveGames(std::int32_t value) override {
    SaveGames = value;
    return false;
  }
  std::int32_t GetSaveGames() override { return SaveGames; }
  bool SetUpdate(std::int32_t value) override {
    Update = value;
    return false;
  }
  std::int32_t GetUpdate() override { return Update; }
  const char* GetBookName() override { return Header.IsOpen() ? Header.FileName.c_str() : nullptr; }

  bool SetWeightDB(std::int32_t value) override;
  std::int32_t GetWeightDB() override { return Header.WeightDB; }
  bool SetWeightNag(std::int32_t value) override;
  std::int32_t GetWeightNag() override { return Header.WeightNag; }
  bool SetMinDB(std::int32_t value) override;
  std::int32_t GetMinDB() override { return Header.MinDB; }
  bool SetMinOwn(std::int32_t value) override;
  std::int32_t GetMinOwn() override { return Header.MinOwn; }
  bool SetDraw(std::int32_t value) override;
  std::int32_t GetDraw() override { return Header.Draw; }
  bool SetManual(bool value) override;
  bool GetManual() override { return Header.OnlyManual; }
  bool SetPopular(std::int32_t value) override;
  std::int32_t GetPopular() override { return Header.Popular; }
  bool SetMMdepth(std::int32_t value) override;
  std::int32_t GetMMdepth() override { return Header.MMDepth; }
  bool SetMMweight(std::int32_t value) override;
  std::int32_t GetMMweight() override { return Header.MMWeight; }
  bool SetSidelines(std::int32_t value) override;
  std::int32_t GetSidelines() override { return Header.Sidelines; }
  bool SetWhiteMinscore(std::int32_t value) override;
  std::int32_t GetWhiteMinscore() override { return Header.WhiteMinScore; }
  bool SetBlackMinscore(std::int32_t value) override;
  std::int32_t GetBlackMinscore() override { return Header.BlackMinScore; }
  bool SetRandomness(std::int32_t value) override;
  std::int32_t GetRandomness() override { return Header.Random; }

  bool SetProcessed(std::int32_t game) override;
  bool IsProcessed(std::int32_t game) override;
  bool RebuildIndex() override;
  bool Reorganise() override;
  void Display() override;
  void ShowBookMoves(const GameBoard& board) override;
  void Show() override;

  // Offers a finished game to every open book: 0 when some book stored it,
  // 1 otherwise (no moves, no result, a move that cannot be played, or no
  // book that took it). result: 1 White wins, 2 Black wins, 3 draw. Reports
  // to the log only. It works on the book list, not on one book.
  static int Addgame(int computerIsBlack, int result, const char* startFen, const char* moves);

  // The directory part of a name: up to and including its last '/' or '\'.
  static std::string DirectoryPart(const char* name);
  // Where a companion named stored lives: the book's directory and the
  // stored name without any directory of its own ('\' read as '/').
  std::string Companion(const char* stored) const;

  BookHeader Header;
  BookPositionFile Positions;
  GamesDatabase OwnDatabase;
  GamesDatabase BigDatabase;
  IndexFile ProcessedSet;
  std::int32_t NextUnprocessedGame = 1;
  std::int32_t SaveGames = 0;
  std::int32_t Update = 1;

private:
  // Every change begins here: true, with message 2010, when the book may
  // not be written.
  bool RefusesWrites();
  // A record the position file appended is counted in the header; true when
  // that count failed.
  bool CountAppended(bool appended);
  // Writes the entry into the position file and counts a new record; true
  // on failure, with failureMessage when the write itself failed.
  bool StoreEntry(BookQuelmEntry& entry, int failureMessage);
  bool OpenOwnDatabase();
  bool OpenProcessedSet(const std::string& name, bool writable);
  // Range-checked parameter setting, in the field's range.
  bool SetParameter(std::int32_t& field, BookHeader::Field which, const char* keyword, std::int64_t value);
  void CloseFiles();
  // The shared first half of SetDatabase and SetOwnDatabase: closes the
  // database the field names and stores the new base name in the settings
  // file; true on failure, with the field as it was.
  bool StoreDatabaseName(GamesDatabase& database, char* field, BookHeader::Field which, const char* name);
  Game* TakeGame(std::unique_ptr<Game> loaded, std::int32_t number);

  std::string Directory;
  std::string BaseName;
  FileGameSink Console{stdout};
  SilentGameSink Quiet;
};
