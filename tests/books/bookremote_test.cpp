// The remote book against the scripted server: each request's bytes, the
// replies read to their announced end, entry images checked field by field,
// the getters' cache and the local move choice, and every kind of bad reply
// failing the one operation, closing the connection and costing later
// operations nothing.
#include "books/remote/bookremote.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>
#include <string>

#include "books/own/positions.h"
#include "books/remote_server.h"
#include "games/compact.h"
#include "games/gamerecord.h"
#include "games/gamesink.h"
#include "support/capture.h"

namespace {

using remotetest::Bytes;
using remotetest::Frame;
using remotetest::Image;
using remotetest::Reply;
using remotetest::Request;
using remotetest::Script;
using remotetest::TextFrame;

constexpr const char* StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// Answers by request type; a type without an answer gets none (silence).
using Answers = std::map<std::uint32_t, std::function<Script(const Request&)>>;

class BookRemoteTest : public ::testing::Test {
protected:
  // Starts a server with the answers and connects a book to it.
  void Start(Answers answers, remotetest::Server::Handler onAccept = nullptr) {
    Table = std::move(answers);
    Server = std::make_unique<remotetest::Server>(
        [this](const Request& request) {
          auto found = Table.find(request.Type);
          return found == Table.end() ? Script() : found->second(request);
        },
        1, std::move(onAccept));
    ASSERT_TRUE(Server->Ready());
    ASSERT_FALSE(Book.connection.SetAddress(Server->Address().c_str()));
    ASSERT_EQ(Book.connection.Connect(), 0);
    Book.open = 1;
  }
  static std::function<Script(const Request&)> Always(Bytes bytes) {
    return [bytes](const Request&) { return Reply(bytes); };
  }
  std::size_t RequestCount() { return Server->Requests().size(); }

  Answers Table;
  std::unique_ptr<remotetest::Server> Server;
  BookRemote Book;
  GameBoard Board;  // the standard start position
  TemporaryDirectory Scratch;
};

TEST_F(BookRemoteTest, SelectMoveAsksTheServerForItsMove) {
  Start({{2, Always(remotetest::Join({TextFrame("OK2"), Frame(1, {12, 28, 0})}))}});
  const GameMove move = Book.SelectMove(Board);
  EXPECT_TRUE(move.Valid);
  EXPECT_EQ(move.From, 12);
  EXPECT_EQ(move.To, 28);
  EXPECT_EQ(move.Promotion, 0u);
  const auto requests = Server->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Type, 2u);
  // The FEN with its terminating zero.
  EXPECT_EQ(requests[0].Text(), Board.GetFen());
  EXPECT_EQ(requests[0].Payload.size(), std::strlen(Board.GetFen()) + 1);
}

// Move replies that give no move; the stream stays in step after each, so
// the getter asked next is answered by its own reply.
TEST_F(BookRemoteTest, MoveRepliesWithoutAMove) {
  struct Case {
    const char* What;
    Bytes Reply;
  };
  const Case cases[] = {
      {"promotion code 3", remotetest::Join({TextFrame("OK2"), Frame(1, {12, 28, 3})})},
      {"from-square 64", remotetest::Join({TextFrame("OK2"), Frame(1, {64, 28, 0})})},
      {"four bytes", remotetest::Join({TextFrame("OK2"), Frame(1, {12, 28, 0, 0})})},
      {"count 1: nothing more is read", TextFrame("OK1")},
      {"an error reply", TextFrame("ER1;no move", 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    BookRemote book;
    remotetest::Server server(
        [&c](const Request& request) { return Reply(request.Type == 2 ? c.Reply : TextFrame("OK1;7")); }, 1);
    ASSERT_FALSE(book.connection.SetAddress(server.Address().c_str()));
    ASSERT_EQ(book.connection.Connect(), 0);
    StreamCapture errors(2, Scratch / "stderr");
    EXPECT_FALSE(book.SelectMove(Board).Valid);
    EXPECT_EQ(book.GetDraw(), 7);
    EXPECT_TRUE(book.connection.IsConnected());
    const std::string warned = errors.Finish();
    if (std::string(c.What).rfind("count 1", 0) == 0) {
      EXPECT_EQ(warned, "Unexpected number of responses on SelectMove(): 1. Expected 2 responses\n");
    }
  }
}

TEST_F(BookRemoteTest, GettersAreCachedAndSettersAreLocal) {
  Start({{23, Always(TextFrame("OK1;35"))}, {33, Always(TextFrame("OK1;1"))}});
  EXPECT_EQ(Book.GetWeightDB(), 35);
  EXPECT_EQ(Book.GetWeightDB(), 35);
  EXPECT_TRUE(Book.GetManual());
  ASSERT_EQ(RequestCount(), 2u);
  EXPECT_EQ(Server->Requests()[0].Type, 23u);
  EXPECT_EQ(Server->Requests()[0].Payload, Bytes{1});

  EXPECT_TRUE(Book.SetWeightDB(-1));
  EXPECT_FALSE(Book.localParameters);
  EXPECT_FALSE(Book.SetManual(false));
  EXPECT_FALSE(Book.SetSaveGames(1));
  EXPECT_FALSE(Book.localParameters);
  EXPECT_FALSE(Book.GetManual());
  EXPECT_FALSE(Book.SetWeightDB(35));  // the value it had: still the server's choice
  EXPECT_FALSE(Book.localParameters);
  EXPECT_FALSE(Book.SetWeightDB(60));
  EXPECT_TRUE(Book.localParameters);
  EXPECT_EQ(Book.GetWeightDB(), 60);
  EXPECT_EQ(RequestCount(), 2u);
}

// A failed getter answers 0 and caches nothing.
TEST_F(BookRemoteTest, AFailedGetterAnswersZero) {
  Start({{41, Always(TextFrame("ER1", 5))}, {43, Always(TextFrame("OK1;x12"))}});
  EXPECT_EQ(Book.GetSidelines(), 0);
  EXPECT_EQ(Book.parameters[BookRemote::ParamSidelines], -1);
  // An unreadable value: nothing cached either.
  EXPECT_EQ(Book.GetWhiteMinscore(), 0);
  EXPECT_EQ(Book.parameters[BookRemote::ParamWhiteMinscore], -1);
}

TEST_F(BookRemoteTest, PositionEntriesAreReadFieldByField) {
  Image full;
  full.From = 52;
  full.To = 36;
  full.Manual = -101;
  for (int i = 0; i < 6; i++) full.Counters[i] = 1000 * (i + 1) + i;
  full.Score = -1234;
  full.Score2 = 567;
  full.DBGames = 70000;
  full.OwnGames = 12;
  full.Depth = 200;
  full.Depth2 = 3;
  Image knight;
  knight.From = 62;
  knight.To = 45;
  knight.Manual = 100;
  Image manual101 = knight, from64 = knight, negative = knight, promotion3 = knight;
  manual101.Manual = 101;
  from64.From = 64;
  negative.Counters[4] = -1;
  promotion3.Promotion = 3;
  Bytes short45 = knight.Encode(), long47 = knight.Encode();
  short45.pop_back();
  long47.push_back(0);
  const Bytes reply = remotetest::Join({TextFrame("OK8;db=1500;own=77"), Frame(1, full.Encode()), Frame(1, short45),
                                        Frame(1, long47), Frame(1, manual101.Encode()), Frame(1, from64.Encode()),
                                        Frame(1, negative.Encode()), Frame(1, knight.Encode())});
  Start({{3, Always(reply)}, {47, Always(TextFrame("OK1;0"))}});
  BookPosition* position = Book.GetBookPosition(Board);
  ASSERT_NE(position, nullptr);
  EXPECT_EQ(Book.dbTotal, 1500);
  EXPECT_EQ(Book.ownTotal, 77);
  ASSERT_EQ(position->Count, 2);
  const BookEntry& first = *position->Entries[0];
  EXPECT_EQ(first.GetMove()->From, 52);
  EXPECT_EQ(first.GetMove()->To, 36);
  EXPECT_TRUE(first.GetMove()->Valid);
  EXPECT_EQ(first.GetManual(), -101);
  EXPECT_EQ(first.GetDBWins(), 1000);
  EXPECT_EQ(first.GetDBDraws(), 2001);
  EXPECT_EQ(first.GetDBLosses(), 3002);
  EXPECT_EQ(first.GetOwnWins(), 4003);
  EXPECT_EQ(first.GetOwnDraws(), 5004);
  EXPECT_EQ(first.GetOwnLosses(), 6005);
  EXPECT_EQ(first.GetMinimaxScore(), -1234);
  EXPECT_EQ(first.GetMinimaxDepth(), 200);
  EXPECT_EQ(first.GetMinimax2Score(), 567);
  EXPECT_EQ(first.GetMinimax2Depth(), 3);
  EXPECT_EQ(first.GetDBGames(), 70000);
  EXPECT_EQ(first.GetOwnGames(), 12);
  EXPECT_EQ(position->Entries[1]->GetManual(), 100);
  position->Release();
  // The reply was read to its end: the next request gets its own answer.
  EXPECT_EQ(Book.GetRandomness(), 0);
  EXPECT_TRUE(Book.connection.IsConnected());

  // A promotion code that names no piece keeps the entry with a move that
  // is not valid.
  BookQuelmEntry entry;
  entry.Set(Board, GameMove());
  const Bytes image = promotion3.Encode();
  EXPECT_FALSE(EntryImage::Read(image.data(), static_cast<int>(image.size()), entry));
  EXPECT_FALSE(entry.GetMove()->Valid);
}

TEST_F(BookRemoteTest, EntryImagesRoundTrip) {
  BookQuelmEntry entry;
  GameMove move;
  entry.Set(Board, move.FromText("e7e8q"));
  entry.SetManual(-40);
  entry.SetDBWins(5);
  entry.SetDBDraws(6);
  entry.SetDBLosses(7);
  entry.SetOwnWins(8);
  entry.SetOwnDraws(9);
  entry.SetOwnLosses(10);
  entry.SetMinimax(12, -300);
  entry.SetMinimax2(4, 250);
  entry.SetDBGames(99);
  entry.SetOwnGames(11);
  std::uint8_t image[EntryImage::Size];
  EntryImage::Write(entry, image);
  EXPECT_EQ(image[0], 12);
  EXPECT_EQ(image[1], 4);
  EXPECT_EQ(image[2], GamePiece::Queen);
  BookQuelmEntry back;
  back.Set(Board, GameMove());
  ASSERT_FALSE(EntryImage::Read(image, EntryImage::Size, back));
  EXPECT_TRUE(back.GetMove()->SameMove(*entry.GetMove()));
  EXPECT_EQ(back.GetManual(), -40);
  EXPECT_EQ(back.GetOwnLosses(), 10);
  EXPECT_EQ(back.GetMinimaxDepth(), 12);
  EXPECT_EQ(back.GetMinimaxScore(), -300);
  EXPECT_EQ(back.GetMinimax2Score(), 250);
  EXPECT_EQ(back.GetOwnGames(), 11);
}

// With a local parameter the book asks for the entries and the getters it
// does not know, and chooses with the common move choice.
TEST_F(BookRemoteTest, LocalParametersChooseAmongTheEntries) {
  Image best, worse;
  best.From = 51;  // d2d4
  best.To = 35;
  best.Manual = 60;
  worse.From = 52;
  worse.To = 36;
  worse.Manual = 10;
  const Bytes position =
      remotetest::Join({TextFrame("OK3;db=0;own=0"), Frame(1, best.Encode()), Frame(1, worse.Encode())});
  Answers answers = {{3, Always(position)}};
  // The base values: WeightNag 100, Draw 50, Manual on, the rest 0.
  for (std::uint32_t type = 19; type <= 47; type += 2)
    answers[type] = Always(TextFrame(type == 25 ? "OK1;100" : type == 31 ? "OK1;50" : type == 33 ? "OK1;1" : "OK1;0"));
  Start(answers);
  ASSERT_FALSE(Book.SetRandomness(0));
  ASSERT_TRUE(Book.localParameters);
  const GameMove move = Book.SelectMove(Board);
  EXPECT_TRUE(move.Valid);
  EXPECT_EQ(move.From, 51);
  EXPECT_EQ(move.To, 35);
  for (const Request& request : Server->Requests()) EXPECT_NE(request.Type, 2u);
  // The getters are asked once.
  const std::size_t asked = RequestCount();
  EXPECT_TRUE(Book.SelectMove(Board).Valid);
  EXPECT_EQ(RequestCount(), asked + 1);
}

// Replies that cannot be trusted: the operation fails, the connection is
// closed, and the next operation fails at once without a request.
TEST_F(BookRemoteTest, BadRepliesCloseTheConnection) {
  Image good;
  struct Case {
    const char* What;
    std::uint32_t Type;
    Script Answer;
  };
  const Bytes cut = [] {
    Bytes frame = TextFrame("OK1;3");
    frame.resize(6);
    return frame;
  }();
  const std::vector<Case> cases = {
      {"silent", 23, {}},
      {"replies after 2 s", 23, {{TextFrame("OK1;3"), 2000, false}}},
      {"closes mid-frame", 23, {{cut, 0, true}}},
      {"garbage text", 23, Reply(TextFrame("garbage"))},
      {"L of 65535", 23, Reply({0xFF, 0xFF, 0, 0})},
      {"count 999 for a position", 3, Reply(remotetest::Join({TextFrame("OK999;db=1;own=1"), Frame(1, good.Encode())}))},
      {"a position count past 161, every entry sent", 3, Reply([&] {
         Bytes all = TextFrame("OK163;db=1;own=1");
         for (int i = 0; i < 162; i++) all = remotetest::Join({all, Frame(1, good.Encode())});
         return all;
       }())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    BookRemote book;
    remotetest::Server server([&c](const Request&) { return c.Answer; }, 1);
    ASSERT_FALSE(book.connection.SetAddress(server.Address().c_str()));
    ASSERT_EQ(book.connection.Connect(), 0);
    if (c.Type == 23) {
      EXPECT_EQ(book.GetWeightDB(), 0);
    } else {
      BookPosition* position = book.GetBookPosition(Board);
      if (position) position->Release();
    }
    EXPECT_FALSE(book.connection.IsConnected());
    EXPECT_EQ(book.GetDraw(), 0);
    EXPECT_FALSE(book.SelectMove(Board).Valid);
    EXPECT_EQ(server.Requests().size(), 1u);
  }
}

// A message sent before any request would answer the first one.
TEST_F(BookRemoteTest, AReplyToNoRequestIsNotTaken) {
  Start({{23, Always(TextFrame("OK1;35"))}}, [](const Request&) { return Reply(TextFrame("OK1;99")); });
  // Give the unasked message time to arrive; without it the test proves less
  // but still passes.
  for (int i = 0; i < 100 && !Book.connection.Connection.HasPendingInput(); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(Book.GetWeightDB(), 0);
  EXPECT_FALSE(Book.connection.IsConnected());
  EXPECT_EQ(RequestCount(), 0u);
}

TEST_F(BookRemoteTest, ErrorRepliesToMoveEdits) {
  Start({{4, Always(TextFrame("ERR1: not in book", 2))},
         {6, Always(TextFrame("ERR1: bad value", 2))},
         {55, Always(TextFrame("E", 2))},
         {8, Always(TextFrame("OK1"))},
         {7, Always(TextFrame("OK3"))}});
  GameMove move;
  move.FromText("e2e4");
  StreamCapture errors(2, Scratch / "stderr");
  EXPECT_TRUE(Book.InsertMove(Board, move));
  EXPECT_TRUE(Book.UpdateMoveNag(Board, move, -20));
  EXPECT_TRUE(Book.DeleteMove(Board, move));
  EXPECT_FALSE(Book.RecalcStats(Board));
  EXPECT_FALSE(Book.UpdateStats(Board, 5));  // count 3: warned, waits past the bound, closes
  EXPECT_EQ(errors.Finish(),
            "Received Error response in InsertMove(): not in book\n"
            "Received Error response in UpdateMoveNag(): bad value\n"
            "Received Error response in DeleteMove(): \n"
            "Unexpected number of responses on UpdateStats(): 3. Expected 1 response\n");
  const auto requests = Server->Requests();
  ASSERT_EQ(requests.size(), 5u);
  // Payloads: move then FEN; value, move, FEN; value, a zero byte, FEN.
  EXPECT_EQ(Bytes(requests[0].Payload.begin(), requests[0].Payload.begin() + 3), (Bytes{52, 36, 0}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(requests[0].Payload.data()) + 3), Board.GetFen());
  EXPECT_EQ(Bytes(requests[1].Payload.begin(), requests[1].Payload.begin() + 7), (Bytes{0xEC, 0xFF, 0xFF, 0xFF, 52, 36, 0}));
  EXPECT_EQ(Bytes(requests[4].Payload.begin(), requests[4].Payload.begin() + 5), (Bytes{5, 0, 0, 0, 0}));
  EXPECT_EQ(requests[3].Text(), Board.GetFen());
}

TEST_F(BookRemoteTest, GamesTravelInTheirBufferForm) {
  Game played;
  ASSERT_FALSE(played.Reset());
  for (const char* move : {"e2e4", "c7c5", "g1f3", "d7d6", "e1e2"}) ASSERT_FALSE(played.AddMoveText(move)) << move;
  played.Rewind();
  CompactGameRecord record;
  record.Length = played.CompactWrite(record.Bytes);
  const Bytes form(record.Bytes, record.Bytes + record.Length);
  const Bytes gameReply = remotetest::Join({TextFrame("OK2;gn=17"), Frame(1, form)});
  Start({{10, Always(TextFrame("OK1"))}, {11, Always(gameReply)}, {56, Always(gameReply)}, {48, Always(TextFrame("OK2"))}});

  EXPECT_FALSE(Book.StoreGame(played));
  ASSERT_EQ(RequestCount(), 1u);
  EXPECT_EQ(Server->Requests()[0].Payload, form);

  for (Game* game : {Book.GetUnprocessedGame(Board), Book.GetRandomGame()}) {
    ASSERT_NE(game, nullptr);
    EXPECT_EQ(game->GameNumber, 17);
    CompactGameRecord again;
    again.Length = game->CompactWrite(again.Bytes);
    EXPECT_EQ(Bytes(again.Bytes, again.Bytes + again.Length), form);
    delete game;
  }
  EXPECT_EQ(Server->Requests()[2].Payload, Bytes{1});
  EXPECT_TRUE(Book.connection.IsConnected());
  StreamCapture errors(2, Scratch / "stderr");
  EXPECT_FALSE(Book.SetProcessed(17));
  EXPECT_EQ(errors.Finish(), "Unexpected number of responses on SetProcessed(): 2. Expected 1 response\n");
  EXPECT_EQ(Server->Requests().back().Payload, (Bytes{17, 0, 0, 0}));
}

// A game whose buffer form would be cut is refused, not sent cut.
TEST_F(BookRemoteTest, AGameTooLongForAMessageIsRefused) {
  Start({{10, Always(TextFrame("OK1"))}});
  Game game;
  ASSERT_FALSE(game.Reset());
  // Knights out and back with a one-move variation at every move: four
  // bytes a move, so 600 moves need more than the 2048 bytes of a message.
  const char* shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
  const char* aside[] = {"h2h3", "h7h6", "h2h3", "h7h6"};
  for (int i = 0; i < 600; i++) {
    ASSERT_FALSE(game.AddMoveText(shuffle[i % 4])) << i;
    if (i == 0) continue;  // the game's first move has no variation
    game.Back();
    ASSERT_FALSE(game.AddMoveText(aside[i % 4])) << i;
    game.Back();
    ASSERT_FALSE(game.Forward()) << i;
  }
  CompactGameRecord record;
  ASSERT_GT(game.CompactWrite(record.Bytes), 2000);
  game.Rewind();
  EXPECT_TRUE(Book.StoreGame(game));
  EXPECT_EQ(RequestCount(), 0u);
  EXPECT_TRUE(Book.connection.IsConnected());
}

TEST_F(BookRemoteTest, OperationsWithoutAConnectionFailAtOnce) {
  BookRemote book;
  Game game;
  ASSERT_FALSE(game.Reset());
  EXPECT_FALSE(book.SelectMove(Board).Valid);
  EXPECT_EQ(book.GetBookPosition(Board), nullptr);
  EXPECT_EQ(book.GetWeightNag(), 0);
  EXPECT_EQ(book.GetBookName(), nullptr);
  EXPECT_TRUE(book.StoreGame(game));
  EXPECT_EQ(book.GetRandomGame(), nullptr);
  EXPECT_FALSE(book.Close());
  EXPECT_EQ(book.open, 0);
  EXPECT_EQ(book.GetKind(), BookKindRemote);
  EXPECT_TRUE(book.Open("x", true));
  EXPECT_TRUE(book.RebuildIndex());
}

}  // namespace
