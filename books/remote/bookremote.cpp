// The remote book client: requests, reply texts, entry images and games on
// the wire. Every reply is read to its announced end, so that the stream
// stays in step with the requests; whatever breaks that closes the
// connection for good.
#include "books/remote/bookremote.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "books/own/positions.h"
#include "games/compact.h"
#include "games/gamerecord.h"
#include "games/gamesink.h"
#include "support/output.h"

namespace {

std::uint32_t ReadU32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::int32_t ReadI32(const std::uint8_t* bytes) { return static_cast<std::int32_t>(ReadU32(bytes)); }

void WriteU32(std::uint8_t* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; i++) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void AppendI32(std::vector<std::uint8_t>& payload, std::int32_t value) {
  std::uint8_t bytes[4];
  WriteU32(bytes, static_cast<std::uint32_t>(value));
  payload.insert(payload.end(), bytes, bytes + 4);
}

void AppendMove(std::vector<std::uint8_t>& payload, const GameMove& move) {
  payload.push_back(static_cast<std::uint8_t>(move.From));
  payload.push_back(static_cast<std::uint8_t>(move.To));
  payload.push_back(static_cast<std::uint8_t>(move.Promotion));
}

// The board's FEN with its terminating zero.
void AppendFen(std::vector<std::uint8_t>& payload, const GameBoard& board) {
  const char* fen = board.GetFen();
  payload.insert(payload.end(), fen, fen + std::strlen(fen) + 1);
}

std::vector<std::uint8_t> FenPayload(const GameBoard& board) {
  std::vector<std::uint8_t> payload;
  AppendFen(payload, board);
  return payload;
}

// The payload of requests that carry nothing.
const std::vector<std::uint8_t> OneByte = {1};

bool PromotionNamesMove(std::uint32_t code) {
  return code == 0 || code == GamePiece::Knight || code == GamePiece::Bishop || code == GamePiece::Rook ||
         code == GamePiece::Queen;
}

// The number in token after skip characters that the client does not read;
// false when the token is shorter or the rest is not a whole number.
bool NumberAfter(const std::string& token, std::size_t skip, std::int32_t& value) {
  if (token.size() <= skip) return false;
  const char* begin = token.c_str() + skip;
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(begin, &end, 10);
  if (end == begin || errno == ERANGE || number < INT32_MIN || number > INT32_MAX) return false;
  while (*end == ' ' || *end == '\t') end++;
  if (*end) return false;
  value = static_cast<std::int32_t>(number);
  return true;
}

bool TokenNumber(const std::vector<std::string>& tokens, std::size_t index, std::size_t skip, std::int32_t& value) {
  return index < tokens.size() && NumberAfter(tokens[index], skip, value);
}

std::int32_t Clamp(std::int64_t value, std::int64_t low, std::int64_t high) {
  return static_cast<std::int32_t>(std::clamp(value, low, high));
}

// The moves of the main line.
int MainLineLength(const Game& game) {
  int length = 0;
  for (const GameNode* node = game.Root; node; node = node->MainChild) length++;
  return length;
}

}  // namespace

// ------------------------------------------------------------ entry image

bool EntryImage::Read(const std::uint8_t* bytes, int length, BookEntry& entry) {
  // Anything but the exact size is some other message: a shorter one would
  // leave fields unread, a longer one means the two sides disagree.
  if (!bytes || length != Size) return true;
  if (bytes[0] >= 64 || bytes[1] >= 64) return true;
  GameMove move;
  move.From = bytes[0];
  move.To = bytes[1];
  move.Promotion = bytes[2];
  move.Valid = PromotionNamesMove(bytes[2]) ? 1 : 0;
  entry.SetMove(move);
  const int manual = static_cast<std::int8_t>(bytes[3]);
  if (manual < MinManual || manual > MaxManual) return true;
  entry.SetManual(manual);
  std::int32_t counters[6];
  for (int i = 0; i < 6; i++) {
    counters[i] = ReadI32(bytes + 4 + 4 * i);
    if (counters[i] < 0) return true;
  }
  entry.SetDBWins(counters[0]);
  entry.SetDBDraws(counters[1]);
  entry.SetDBLosses(counters[2]);
  entry.SetOwnWins(counters[3]);
  entry.SetOwnDraws(counters[4]);
  entry.SetOwnLosses(counters[5]);
  entry.SetMinimax(bytes[44], ReadI32(bytes + 28));
  entry.SetMinimax2(bytes[45], ReadI32(bytes + 32));
  entry.SetDBGames(ReadI32(bytes + 36));
  entry.SetOwnGames(ReadI32(bytes + 40));
  return false;
}

void EntryImage::Write(const BookEntry& entry, std::uint8_t* bytes) {
  const GameMove* move = entry.GetMove();
  bytes[0] = static_cast<std::uint8_t>(move ? move->From : 0);
  bytes[1] = static_cast<std::uint8_t>(move ? move->To : 0);
  bytes[2] = static_cast<std::uint8_t>(move ? move->Promotion : 0);
  bytes[3] = static_cast<std::uint8_t>(static_cast<std::int8_t>(Clamp(entry.GetManual(), MinManual, MaxManual)));
  const std::int32_t counters[6] = {entry.GetDBWins(),  entry.GetDBDraws(),  entry.GetDBLosses(),
                                    entry.GetOwnWins(), entry.GetOwnDraws(), entry.GetOwnLosses()};
  for (int i = 0; i < 6; i++) WriteU32(bytes + 4 + 4 * i, static_cast<std::uint32_t>(std::max(counters[i], 0)));
  WriteU32(bytes + 28, static_cast<std::uint32_t>(entry.GetMinimaxScore()));
  WriteU32(bytes + 32, static_cast<std::uint32_t>(entry.GetMinimax2Score()));
  WriteU32(bytes + 36, static_cast<std::uint32_t>(std::max(entry.GetDBGames(), 0)));
  WriteU32(bytes + 40, static_cast<std::uint32_t>(std::max(entry.GetOwnGames(), 0)));
  bytes[44] = static_cast<std::uint8_t>(Clamp(entry.GetMinimaxDepth(), 0, 255));
  bytes[45] = static_cast<std::uint8_t>(Clamp(entry.GetMinimax2Depth(), 0, 255));
}

// ------------------------------------------------------------ the book

BookRemote::BookRemote() { std::fill(parameters, parameters + ParameterCount, -1); }

BookRemote::~BookRemote() { connection.Close(); }

bool BookRemote::Close() {
  if (connection.IsConnected()) connection.Close();
  open = 0;
  return false;
}

void BookRemote::Desynchronised() { connection.Close(); }

bool BookRemote::Exchange(std::uint32_t type, const std::vector<std::uint8_t>& payload, Reply& reply) {
  if (!connection.IsConnected() || payload.size() > static_cast<std::size_t>(ConnectionClient::MaxPayload))
    return true;
  const int size = ConnectionClient::HeaderBytes + static_cast<int>(payload.size());
  WriteU32(message, type);
  WriteU32(message + 4, static_cast<std::uint32_t>(payload.size()));
  if (!payload.empty()) std::memcpy(message + ConnectionClient::HeaderBytes, payload.data(), payload.size());
  if (connection.SendMessage(size, message) < 0) return true;
  const int got = connection.GetMessage(message);
  if (got < ConnectionClient::HeaderBytes) return true;
  reply = Reply();
  reply.Type = ReadU32(message);
  const std::size_t length = ReadU32(message + 4);
  // A text may fill the payload without a terminator, or stop at one.
  const char* text = reinterpret_cast<const char*>(message + ConnectionClient::HeaderBytes);
  reply.Text.assign(text, strnlen(text, length));
  for (std::size_t begin = reply.Text.find_first_not_of(";\r\n"); begin != std::string::npos;) {
    const std::size_t end = reply.Text.find_first_of(";\r\n", begin);
    reply.Tokens.push_back(reply.Text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    begin = end == std::string::npos ? end : reply.Text.find_first_not_of(";\r\n", end);
  }
  // The first token: two characters the client does not read, then the
  // number of messages in the reply, the text included.
  std::int32_t count = 0;
  const bool counted = TokenNumber(reply.Tokens, 0, 2, count) && count >= 1;
  reply.Count = counted ? count : 1;
  if (reply.Type == 0 && !counted) {
    // Without the count the rest of the reply cannot be found.
    Desynchronised();
    return true;
  }
  if (reply.Type != 0 && reply.Count > 1) Desynchronised();
  return false;
}

void BookRemote::CheckCount(const Reply& reply, const char* operation, int expected) {
  if (reply.Count == expected) return;
  Printer.Print(ChannelStderr, false, "Unexpected number of responses on %s(): %d. Expected %d %s\n", operation,
                reply.Count, expected, expected == 1 ? "response" : "responses");
}

bool BookRemote::SkipMessages(const Reply& reply, int first) {
  const int last = std::min(reply.Count, MaxReplyMessages) - 1;
  for (int i = first; i <= last; i++)
    if (connection.GetMessage(message) < 0) return true;
  // A count past any true reply: what follows cannot be matched to requests.
  if (reply.Count > MaxReplyMessages) {
    Desynchronised();
    return true;
  }
  return false;
}

bool BookRemote::TextRequest(std::uint32_t type, const std::vector<std::uint8_t>& payload, const char* operation,
                             const char* errorContext) {
  ConnectionClient::Operation scope(connection);
  Reply reply;
  if (Exchange(type, payload, reply)) return true;
  if (reply.Type != 0) {
    if (errorContext) {
      const std::string detail = reply.Text.size() > 6 ? reply.Text.substr(6) : std::string();
      Printer.Print(ChannelStderr, false, "Received Error response in %s(): %s\n", errorContext, detail.c_str());
    }
    return true;
  }
  CheckCount(reply, operation, 1);
  SkipMessages(reply, 1);
  return false;
}

GameMove BookRemote::SelectMove(const GameBoard& board) {
  ConnectionClient::Operation scope(connection);
  if (localParameters) return Book::SelectMove(board);
  GameMove answer;
  answer.Valid = 0;
  Reply reply;
  if (Exchange(RequestSelectMove, FenPayload(board), reply) || reply.Type != 0) return answer;
  CheckCount(reply, "SelectMove", 2);
  if (reply.Count < 2) return answer;
  const int got = connection.GetMessage(message);
  if (got < 0) return answer;
  const int length = got - ConnectionClient::HeaderBytes;
  const std::uint8_t* move = message + ConnectionClient::HeaderBytes;
  if (length == 3 && move[0] < 64 && move[1] < 64) {
    answer.From = move[0];
    answer.To = move[1];
    answer.Promotion = move[2];
    answer.Valid = PromotionNamesMove(move[2]) ? 1 : 0;
  }
  if (SkipMessages(reply, 2)) answer.Valid = 0;
  return answer;
}

BookPosition* BookRemote::GetBookPosition(const GameBoard& board) {
  ConnectionClient::Operation scope(connection);
  Reply reply;
  if (Exchange(RequestPosition, FenPayload(board), reply) || reply.Type != 0) return nullptr;
  std::int32_t database = 0, own = 0;
  if (!TokenNumber(reply.Tokens, 1, 3, database) || !TokenNumber(reply.Tokens, 2, 4, own)) {
    Desynchronised();
    return nullptr;
  }
  dbTotal = database;
  ownTotal = own;
  BookPosition* position = BookPosition::Allocate();
  if (!position) {
    Desynchronised();
    return nullptr;
  }
  const int last = std::min(reply.Count, MaxReplyMessages) - 1;
  for (int i = 1; i <= last; i++) {
    const int got = connection.GetMessage(message);
    if (got < 0) {
      position->Release();
      return nullptr;
    }
    BookQuelmEntry* entry = BookQuelmEntry::Allocate();
    if (!entry) continue;
    entry->Set(board, GameMove());
    if (EntryImage::Read(message + ConnectionClient::HeaderBytes, got - ConnectionClient::HeaderBytes, *entry)) {
      delete entry;
      continue;
    }
    position->Add(entry);  // a full position deletes it
  }
  if (reply.Count > MaxReplyMessages) Desynchronised();
  return position;
}

bool BookRemote::InsertMove(const GameBoard& board, const GameMove& move) {
  std::vector<std::uint8_t> payload;
  AppendMove(payload, move);
  AppendFen(payload, board);
  return TextRequest(RequestInsertMove, payload, "InsertMove", "InsertMove");
}

bool BookRemote::UpdateMove(const GameBoard& board, const BookEntry& entry) {
  std::vector<std::uint8_t> payload(EntryImage::Size);
  EntryImage::Write(entry, payload.data());
  AppendFen(payload, board);
  return TextRequest(RequestUpdateMove, payload, "UpdateMove", nullptr);
}

bool BookRemote::UpdateMoveNag(const GameBoard& board, const GameMove& move, std::int32_t value) {
  std::vector<std::uint8_t> payload;
  AppendI32(payload, value);
  AppendMove(payload, move);
  AppendFen(payload, board);
  return TextRequest(RequestUpdateMoveNag, payload, "UpdateMoveNag", "UpdateMoveNag");
}

bool BookRemote::DeleteMove(const GameBoard& board, const GameMove& move) {
  std::vector<std::uint8_t> payload;
  AppendMove(payload, move);
  AppendFen(payload, board);
  return TextRequest(RequestDeleteMove, payload, "DeleteMove", "DeleteMove");
}

bool BookRemote::UpdateStats(const GameBoard& board, std::int32_t value) {
  std::vector<std::uint8_t> payload;
  AppendI32(payload, value);
  payload.push_back(0);
  AppendFen(payload, board);
  return TextRequest(RequestUpdateStats, payload, "UpdateStats", nullptr);
}

bool BookRemote::RecalcStats(const GameBoard& board) {
  return TextRequest(RequestRecalcStats, FenPayload(board), "RecalcStats", nullptr);
}

bool BookRemote::StoreGame(Game& game) {
  if (!connection.IsConnected()) return true;
  CompactGameRecord record;
  record.Length = game.CompactWrite(record.Bytes);
  if (record.Length <= 0 || record.Length > CompactGameRecord::Size) return true;
  // The writer cuts a line that does not fit its buffer; a cut game would
  // teach the server a game that was never played.
  Game check;
  SilentGameSink silent;
  if (check.CompactRead(record.Bytes, record.Length, silent) || MainLineLength(check) != MainLineLength(game))
    return true;
  const std::vector<std::uint8_t> payload(record.Bytes, record.Bytes + record.Length);
  return TextRequest(RequestStoreGame, payload, "StoreGame", nullptr);
}

Game* BookRemote::GameRequest(std::uint32_t type, const std::vector<std::uint8_t>& payload, const char* operation) {
  ConnectionClient::Operation scope(connection);
  Reply reply;
  if (Exchange(type, payload, reply) || reply.Type != 0) return nullptr;
  CheckCount(reply, operation, 2);
  if (reply.Count < 2) return nullptr;
  std::int32_t number = 0;
  if (!TokenNumber(reply.Tokens, 1, 3, number)) {
    Desynchronised();
    return nullptr;
  }
  const int got = connection.GetMessage(message);
  if (got < 0) return nullptr;
  Game* game = new Game;
  SilentGameSink silent;
  const bool failed =
      game->CompactRead(message + ConnectionClient::HeaderBytes, got - ConnectionClient::HeaderBytes, silent) != 0;
  if (SkipMessages(reply, 2) || failed) {
    delete game;
    return nullptr;
  }
  game->GameNumber = number;
  return game;
}

Game* BookRemote::GetUnprocessedGame(const GameBoard& board) {
  return GameRequest(RequestUnprocessedGame, FenPayload(board), "GetUnprocessedGame");
}

Game* BookRemote::GetRandomGame() { return GameRequest(RequestRandomGame, OneByte, "GetRandomGame"); }

bool BookRemote::SetProcessed(std::int32_t gameNumber) {
  std::vector<std::uint8_t> payload;
  AppendI32(payload, gameNumber);
  return TextRequest(RequestSetProcessed, payload, "SetProcessed", nullptr);
}

bool BookRemote::IsProcessed(std::int32_t) {
  Printer.Print(ChannelStderr, false, "Not implemented: BookRemote::IsProcessed\n");
  return true;
}

const char* BookRemote::GetBookName() {
  ConnectionClient::Operation scope(connection);
  Reply reply;
  if (Exchange(RequestBookName, OneByte, reply) || reply.Type != 0) return nullptr;
  CheckCount(reply, "GetBookName", 1);
  SkipMessages(reply, 1);
  if (reply.Tokens.size() < 2) return nullptr;
  bookName = reply.Tokens[1];
  return bookName.c_str();
}

// The getter requests and the names their warnings use, by parameter.
namespace {
struct GetterRequest {
  std::uint32_t Type;
  const char* Name;
};
constexpr GetterRequest GetterRequests[BookRemote::ParameterCount] = {
    {19, "GetSaveGames"}, {21, "GetUpdate"},     {23, "GetWeightDB"},      {25, "GetWeightNag"},
    {27, "GetMinDB"},     {29, "GetMinOwn"},     {31, "GetDraw"},          {33, "GetManual"},
    {35, "GetPopular"},   {39, "GetMMdepth"},    {37, "GetMMweight"},      {41, "GetSidelines"},
    {43, "GetWhiteMinscore"}, {45, "GetBlackMinscore"}, {47, "GetRandomness"},
};
}  // namespace

bool BookRemote::SetCached(int parameter, std::int32_t value, bool choosesMoves) {
  if (value < 0) return true;
  if (choosesMoves && value != parameters[parameter]) localParameters = true;
  parameters[parameter] = value;
  return false;
}

std::int32_t BookRemote::GetCached(int parameter) {
  if (parameters[parameter] >= 0) return parameters[parameter];
  ConnectionClient::Operation scope(connection);
  Reply reply;
  if (Exchange(GetterRequests[parameter].Type, OneByte, reply) || reply.Type != 0) return 0;
  CheckCount(reply, GetterRequests[parameter].Name, 1);
  if (SkipMessages(reply, 1)) return 0;
  std::int32_t value = 0;
  if (!TokenNumber(reply.Tokens, 1, 0, value)) return 0;
  parameters[parameter] = value;
  return value;
}

void BookRemote::ShowBookMoves(const GameBoard& board) { ShowListing(board, dbTotal, ownTotal); }

void BookRemote::Show() {
  Book::Show();
  if (localParameters) Printer.Print(ChannelStdout, false, "Using local parameters for move selection\n");
}
