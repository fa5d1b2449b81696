// The program with a remote book, as a GUI meets it: the start-up texts, a
// book move chosen among the server's entries, a finished game sent to the
// server, and a server that is silent, slow or gone costing a search
// nothing but a short wait, once.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "books/remote_server.h"
#include "frontend/engine_process.h"
#include "games/gamerecord.h"
#include "games/gamesink.h"
#include "support/capture.h"

namespace {

using remotetest::Bytes;
using remotetest::Frame;
using remotetest::Request;
using remotetest::Script;
using remotetest::TextFrame;

constexpr const char* StartFenPrefix = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq";

// A server with one book move, 1. e4, the base move-choice values for every
// getter, and a place for finished games. positionAnswer replaces its answer
// to position requests.
Script BookServer(const Request& request, const std::function<Script()>& positionAnswer = nullptr) {
  switch (request.Type) {
    case 3: {
      if (positionAnswer) return positionAnswer();
      if (request.Text().rfind(StartFenPrefix, 0) != 0) return remotetest::Reply(TextFrame("OK1;db=0;own=0"));
      remotetest::Image e4;
      e4.From = 52;
      e4.To = 36;
      e4.Manual = 50;
      return remotetest::Reply(remotetest::Join({TextFrame("OK2;db=0;own=0"), Frame(1, e4.Encode())}));
    }
    case 25: return remotetest::Reply(TextFrame("OK1;100"));
    case 31: return remotetest::Reply(TextFrame("OK1;50"));
    case 33: return remotetest::Reply(TextFrame("OK1;1"));
    case 10: return remotetest::Reply(TextFrame("OK1"));
    default: return remotetest::Reply(TextFrame(request.Type >= 19 && request.Type <= 47 ? "OK1;0" : "ER1", 0));
  }
}

class RemoteSessionTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Scratch.Ready()); }

  std::string Program() const { return std::filesystem::absolute(EngineProgramPath()).string(); }

  // Runs a UCI session with the configuration, one "go" per position;
  // every line but the options, up to each "bestmove".
  std::vector<std::string> UciSession(const std::string& ini, const std::vector<std::string>& positions) {
    std::ofstream(Scratch / "remote.ini") << ini;
    EngineProcess engine(Program(), {"remote"}, Scratch.Path.string(), Scratch / "stderr");
    return UciSessionToBestMoves(engine, positions);
  }

  static bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  static int Bestmoves(const std::vector<std::string>& lines) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                          [](const std::string& line) { return line.rfind("bestmove ", 0) == 0; }));
  }

  TemporaryDirectory Scratch;
};

TEST_F(RemoteSessionTest, StartUpTextsAndABookMove) {
  remotetest::Server server([](const Request& request) { return BookServer(request); }, 2);
  ASSERT_TRUE(server.Ready());
  const auto lines = UciSession("bookclient " + server.Address() + "\n", {"position startpos"});
  EXPECT_TRUE(Has(lines, "info string Opened client book"));
  EXPECT_TRUE(Has(lines, "info string Setting Book randomness to 2"));
  EXPECT_TRUE(Has(lines, "info string Quelm book move"));
  EXPECT_TRUE(Has(lines, "bestmove e2e4")) << lines.back();
  // Only the requests of the local move choice were sent.
  for (const Request& request : server.Requests()) EXPECT_TRUE(request.Type == 3 || request.Type >= 19) << request.Type;
}

// The game the engine was given, in the buffer form, decodes to its moves,
// whichever dialogue ended it.
TEST_F(RemoteSessionTest, AFinishedGameReachesTheServer) {
  const std::vector<std::vector<std::string>> dialogues = {
      {"xboard", "protover 2", "new", "force", "e2e4", "e7e5", "g1f3", "b8c6", "result 1/2-1/2 {agreed}", "quit"},
      {"console", "new", "force", "e2e4", "e7e5", "g1f3", "b8c6", "result 1/2-1/2", "quit"},
  };
  for (const auto& dialogue : dialogues) {
    SCOPED_TRACE(dialogue.front());
    remotetest::Server server([](const Request& request) { return BookServer(request); }, 2);
    ASSERT_TRUE(server.Ready());
    std::ofstream(Scratch / "remote.ini") << "bookclient " << server.Address() << "\n";
    EngineProcess engine(Program(), {"remote"}, Scratch.Path.string(), Scratch / "stderr");
    ASSERT_TRUE(engine.Started());
    for (const std::string& line : dialogue) engine.Send(line);
    EXPECT_EQ(engine.Finish(), 0);
    std::vector<Request> stored;
    for (const Request& request : server.Requests())
      if (request.Type == 10) stored.push_back(request);
    ASSERT_EQ(stored.size(), 1u) << engine.TranscriptText();
    Game game;
    SilentGameSink silent;
    ASSERT_EQ(game.CompactRead(stored[0].Payload.data(), static_cast<int>(stored[0].Payload.size()), silent), 0);
    std::vector<std::pair<int, int>> moves;
    for (const GameNode* node = game.Root; node; node = node->MainChild)
      moves.emplace_back(node->Move->From, node->Move->To);
    // e2e4 e7e5 g1f3 b8c6 on the a8 = 0 numbering.
    EXPECT_EQ(moves, (std::vector<std::pair<int, int>>{{52, 36}, {12, 28}, {62, 45}, {1, 18}}));
  }
}

// A server that fails the position request: the search runs and answers,
// the connection is closed, and the next search sends nothing.
TEST_F(RemoteSessionTest, AFailingServerCostsOneShortWait) {
  const Bytes cut = [] {
    Bytes frame = TextFrame("OK1;db=0;own=0");
    frame.resize(7);
    return frame;
  }();
  struct Case {
    const char* What;
    Script Answer;
  };
  const std::vector<Case> cases = {
      {"silent", {}},
      {"replies after 2 s", {{TextFrame("OK1;db=0;own=0"), 2000, false}}},
      {"closes mid-frame", {{cut, 0, true}}},
      {"garbage", remotetest::Reply(TextFrame("?"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    remotetest::Server server(
        [&c](const Request& request) { return BookServer(request, [&c] { return c.Answer; }); }, 2);
    ASSERT_TRUE(server.Ready());
    const auto lines =
        UciSession("bookclient " + server.Address() + "\n", {"position startpos", "position startpos moves e2e4"});
    EXPECT_TRUE(Has(lines, "info string Opened client book"));
    EXPECT_EQ(Bestmoves(lines), 2);
    EXPECT_FALSE(Has(lines, "info string Quelm book move"));
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Accepted(), 1);
  }
}

TEST_F(RemoteSessionTest, NothingOnThePort) {
  const std::string address = "127.0.0.1:" + std::to_string(remotetest::ClosedPort());
  const auto lines = UciSession("bookclient " + address + "\n", {"position startpos"});
  EXPECT_TRUE(Has(lines, "info string Opening client book on '" + address + "' failed"));
  EXPECT_FALSE(Has(lines, "info string Opened client book"));
  EXPECT_EQ(Bestmoves(lines), 1);
}

TEST_F(RemoteSessionTest, AnUnusableAddressIsRefused) {
  const auto lines = UciSession("bookclient somehost:70000\n", {"position startpos"});
  EXPECT_TRUE(Has(lines, "info string Opening client book on 'somehost:70000' failed"));
  EXPECT_EQ(Bestmoves(lines), 1);
}

}  // namespace
