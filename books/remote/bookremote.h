// The remote book: a Book whose positions, moves and settings live on a book
// server reached over TCP. Every operation is one request message and a
// reply of one or more messages; once a move-choice parameter is set here,
// the book asks only for a position's entries and chooses among them with
// the common move choice and the local values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "books/book.h"
#include "books/remote/connection.h"

// The 46-byte little-endian entry image of the wire: from u8, to u8,
// promotion u8, manual value i8, database wins, draws, losses, own wins,
// draws, losses (u32 each), minimax score i32, second minimax score i32,
// database games u32, own games u32, minimax depth u8, second depth u8.
namespace EntryImage {
inline constexpr int Size = 46;
inline constexpr int MinManual = -101, MaxManual = 100;
// Fills entry (already Set to the position) from an image of exactly Size
// bytes; true when the image is refused (length, a square past 63, a manual
// value outside -101..100 or a negative counter). A promotion code other
// than none, knight, bishop, rook or queen leaves the move invalid.
bool Read(const std::uint8_t* bytes, int length, BookEntry& entry);
// The image of entry; values that do not fit their fields keep the nearest
// value that does.
void Write(const BookEntry& entry, std::uint8_t* bytes);
}  // namespace EntryImage

class BookRemote : public Book {
public:
  // Request types of the protocol.
  enum Request : std::uint32_t {
    RequestBookName = 1,
    RequestSelectMove = 2,
    RequestPosition = 3,
    RequestInsertMove = 4,
    RequestUpdateMove = 5,
    RequestUpdateMoveNag = 6,
    RequestUpdateStats = 7,
    RequestRecalcStats = 8,
    RequestStoreGame = 10,
    RequestUnprocessedGame = 11,
    RequestSetProcessed = 48,
    RequestDeleteMove = 55,
    RequestRandomGame = 56,
  };
  // A reply never holds more than its text and a position's entries: a
  // count above this cannot be true, and the stream past it is not trusted.
  static constexpr int MaxReplyMessages = 1 + BookPosition::MaxEntries;

  BookRemote();
  ~BookRemote() override;

  int GetKind() const override { return BookKindRemote; }
  // A remote book is connected, never created or opened.
  bool Create(const char*) override { return true; }
  bool Open(const char*, bool) override { return true; }
  // Closes the connection; false (success).
  bool Close() override;
  bool Flush() override { return false; }
  bool Backup() override { return true; }
  GameMove SelectMove(const GameBoard& board) override;
  BookPosition* GetBookPosition(const GameBoard& board) override;
  bool InsertMove(const GameBoard& board, const GameMove& move) override;
  bool UpdateMove(const GameBoard& board, const BookEntry& entry) override;
  bool UpdateMoveNag(const GameBoard& board, const GameMove& move, std::int32_t value) override;
  bool DeleteMove(const GameBoard& board, const GameMove& move) override;
  bool UpdateStats(const GameBoard& board, std::int32_t value) override;
  bool RecalcStats(const GameBoard& board) override;
  bool ImportGames(const char*, bool) override { return true; }
  // Sends the game's buffer form; a game whose form would not fit a message
  // whole is refused rather than sent cut.
  bool StoreGame(Game& game) override;
  Game* GetUnprocessedGame(const GameBoard& board) override;
  Game* GetRandomGame() override;
  bool SetDatabase(const char*) override { return true; }
  bool ClearDBStats() override { return true; }
  bool SetOwnDatabase(const char*) override { return true; }
  bool ClearOwnStats() override { return true; }
  bool ClearManual() override { return true; }
  bool ClearMinimax() override { return true; }
  bool SetSaveGames(std::int32_t value) override { return SetCached(ParamSaveGames, value, false); }
  std::int32_t GetSaveGames() override { return GetCached(ParamSaveGames); }
  bool SetUpdate(std::int32_t value) override { return SetCached(ParamUpdate, value, false); }
  std::int32_t GetUpdate() override { return GetCached(ParamUpdate); }
  const char* GetBookName() override;

  bool SetWeightDB(std::int32_t v) override { return SetCached(ParamWeightDB, v, true); }
  std::int32_t GetWeightDB() override { return GetCached(ParamWeightDB); }
  bool SetWeightNag(std::int32_t v) override { return SetCached(ParamWeightNag, v, true); }
  std::int32_t GetWeightNag() override { return GetCached(ParamWeightNag); }
  bool SetMinDB(std::int32_t v) override { return SetCached(ParamMinDB, v, true); }
  std::int32_t GetMinDB() override { return GetCached(ParamMinDB); }
  bool SetMinOwn(std::int32_t v) override { return SetCached(ParamMinOwn, v, true); }
  std::int32_t GetMinOwn() override { return GetCached(ParamMinOwn); }
  bool SetDraw(std::int32_t v) override { return SetCached(ParamDraw, v, true); }
  std::int32_t GetDraw() override { return GetCached(ParamDraw); }
  bool SetManual(bool v) override { return SetCached(ParamManual, v ? 1 : 0, false); }
  bool GetManual() override { return GetCached(ParamManual) == 1; }
  bool SetPopular(std::int32_t v) override { return SetCached(ParamPopular, v, true); }
  std::int32_t GetPopular() override { return GetCached(ParamPopular); }
  bool SetMMdepth(std::int32_t v) override { return SetCached(ParamMMdepth, v, true); }
  std::int32_t GetMMdepth() override { return GetCached(ParamMMdepth); }
  bool SetMMweight(std::int32_t v) override { return SetCached(ParamMMweight, v, true); }
  std::int32_t GetMMweight() override { return GetCached(ParamMMweight); }
  bool SetSidelines(std::int32_t v) override { return SetCached(ParamSidelines, v, true); }
  std::int32_t GetSidelines() override { return GetCached(ParamSidelines); }
  bool SetWhiteMinscore(std::int32_t v) override { return SetCached(ParamWhiteMinscore, v, true); }
  std::int32_t GetWhiteMinscore() override { return GetCached(ParamWhiteMinscore); }
  bool SetBlackMinscore(std::int32_t v) override { return SetCached(ParamBlackMinscore, v, true); }
  std::int32_t GetBlackMinscore() override { return GetCached(ParamBlackMinscore); }
  bool SetRandomness(std::int32_t v) override { return SetCached(ParamRandomness, v, true); }
  std::int32_t GetRandomness() override { return GetCached(ParamRandomness); }

  bool SetProcessed(std::int32_t gameNumber) override;
  // The protocol has no such request: says so on standard error, true.
  bool IsProcessed(std::int32_t gameNumber) override;
  bool RebuildIndex() override { return true; }
  bool Reorganise() override { return true; }
  // The listing with the totals of the last position reply.
  void ShowBookMoves(const GameBoard& board) override;
  void Show() override;

  // The cached parameters, in this order; -1 = not known yet.
  enum Parameter : int {
    ParamSaveGames,
    ParamUpdate,
    ParamWeightDB,
    ParamWeightNag,
    ParamMinDB,
    ParamMinOwn,
    ParamDraw,
    ParamManual,
    ParamPopular,
    ParamMMdepth,
    ParamMMweight,
    ParamSidelines,
    ParamWhiteMinscore,
    ParamBlackMinscore,
    ParamRandomness,
    ParameterCount
  };

  ConnectionClient connection;
  std::int32_t dbTotal = 0;
  std::int32_t ownTotal = 0;
  std::int32_t parameters[ParameterCount];
  bool localParameters = false;

private:
  // The first message of a reply, its text split into tokens.
  struct Reply {
    std::uint32_t Type = 0;
    std::string Text;
    std::vector<std::string> Tokens;
    int Count = 0;  // messages in the reply, this one included
  };

  bool SetCached(int parameter, std::int32_t value, bool choosesMoves);
  std::int32_t GetCached(int parameter);

  // Sends one request and reads the first message of its reply. True when
  // there is no usable reply: no connection, a payload too long, a failed
  // or late exchange, or a success text without a message count (the
  // connection is then closed). An error reply is a reply.
  bool Exchange(std::uint32_t type, const std::vector<std::uint8_t>& payload, Reply& reply);
  // Warns on standard error when the count is not the expected one.
  void CheckCount(const Reply& reply, const char* operation, int expected);
  // Reads and drops the reply's messages from number first (1 = the one
  // after the text) on; true when one did not come.
  bool SkipMessages(const Reply& reply, int first);
  // A request answered by a text alone: false on a success reply. Error
  // replies are printed when errorContext is given.
  bool TextRequest(std::uint32_t type, const std::vector<std::uint8_t>& payload, const char* operation,
                   const char* errorContext);
  // Requests 11 and 56: a text and the game.
  Game* GameRequest(std::uint32_t type, const std::vector<std::uint8_t>& payload, const char* operation);
  // A protocol fault that leaves the stream out of step: the connection goes.
  void Desynchronised();

  // Concurrency: the book name and the message buffer belong to this book
  // alone (each book its own, so two remote books never share a reply) and
  // are used from the front-end (main) thread only, like every book: no
  // lock. A name answered by GetBookName lives until the next call.
  std::string bookName;
  std::uint8_t message[ConnectionClient::MaxMessage] = {};
};
