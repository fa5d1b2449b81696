// Matches through the xboard protocol at a short time control: two copies of
// the program, the program against Debian's independent xboard engine
// Fairy-Max driven by the tests' own referee, and a match between two copies
// run by the real xboard GUI (without a window, on a virtual display).
// Fairy-Max and xboard are not ours and can crash on their own (Fairy-Max
// dies on some starts here): such a crash runs the match once more, and a
// second one skips the test instead of failing it as our fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine_process.h"
#include "referee.h"
#include "shared_data.h"
#include "support/capture.h"
#include "xboard_lines.h"

namespace {

constexpr int GameMoves = 60;       // full moves the harness insists on
constexpr int StartTimeCs = 1000;   // each side's clock: 10 seconds
constexpr const char* FairyMaxProgram = "/usr/games/fairymax";
constexpr const char* XboardProgram = "/usr/games/xboard";
constexpr const char* VirtualDisplay = "/usr/bin/xvfb-run";

std::string AbsoluteProgram() { return std::filesystem::absolute(EngineProgramPath()).string(); }

bool IsExecutable(const char* path) { return access(path, X_OK) == 0; }

// An installed oracle that a test needs: skipped where absent, a failure
// under CI, which installs it.
#define REQUIRE_PROGRAM(path)                                                   \
  if (!IsExecutable(path)) {                                                    \
    if (RunningUnderCi()) FAIL() << "program missing: " << (path);              \
    GTEST_SKIP() << "program not installed: " << (path);                        \
  }

// One engine on pipes as an xboard GUI drives it, with its clock.
class Player {
public:
  Player(const std::string& program, const std::vector<std::string>& arguments, const std::string& directory,
         const std::string& name, bool ours)
      : Engine(program, arguments, directory, directory + "/" + name + ".stderr"), Name(name), Ours(ours) {}

  // False when the program does not open the dialogue.
  bool Open() { return !OpenXboardDialogue(Engine).empty(); }

  void NewGame(bool ponder) {
    Engine.Send("new");
    Engine.Send("level 0 0:10 0");
    if (Ours) Engine.Send(ponder ? "hard" : "easy");
    ClockCs = StartTimeCs;
  }

  void SendClocks(const Player& opponent) {
    Engine.Send("time " + std::to_string(ClockCs));
    Engine.Send("otim " + std::to_string(opponent.ClockCs));
  }

  // After a game: everything the engine still says about it is read, up to
  // the answer of a ping, so that none of it is taken for the next game's.
  void Synchronise(int number) {
    if (Crashed) return;
    Engine.Send("ping " + std::to_string(number));
    auto pong = Engine.ReadUntil("pong " + std::to_string(number), 30000);
    if (!pong && !Ours && Engine.Crashed()) {
      Crashed = true;
      return;
    }
    EXPECT_TRUE(pong) << Name << " did not answer ping\n" << Engine.TranscriptText();
  }

  // Reads up to the engine's move; a result or resignation instead ends the
  // game (empty text). Every line of ours must have an xboard form; no line
  // of either program may report a protocol error. The other program's
  // crash ends the game and is noted, not failed.
  std::string AwaitMove(bool& ended) {
    ended = false;
    for (;;) {
      auto line = Engine.ReadLine(30000);
      if (!line && !Ours && Engine.Crashed()) {
        Crashed = true;
        ended = true;
        return "";
      }
      if (!line) {
        ADD_FAILURE() << Name << " fell silent\n" << Engine.TranscriptText();
        ended = true;
        return "";
      }
      if (Ours) {
        EXPECT_TRUE(IsXboardLine(*line)) << Name << ": " << *line;
        EXPECT_FALSE(IsProtocolError(*line)) << Name << ": " << *line << "\n" << Engine.TranscriptText();
      } else {
        // The other program's complaint about one of our moves.
        EXPECT_FALSE(StartsWith(*line, "Illegal move")) << Name << ": " << *line << "\n" << Engine.TranscriptText();
      }
      if (StartsWith(*line, "move ")) return MoveOfLine(*line);
      if (IsResultLine(*line) || *line == "resign") {
        ended = true;
        return "";
      }
    }
  }

  EngineProcess Engine;
  std::string Name;
  bool Ours;
  bool Crashed = false;  // the other program died of a signal of its own
  int ClockCs = StartTimeCs;
};

// Plays games between the two until GameMoves full moves have been played
// in all; every move is refereed. players[0] has White in the first game;
// colours change with each game.
void PlayMatch(Player* players[2]) {
  Referee referee;
  int plies = 0;
  int games = 0;
  while (plies < 2 * GameMoves) {
    ASSERT_LT(++games, 10) << "games keep ending at once";
    Player* white = players[(games - 1) % 2];
    Player* black = players[games % 2];
    referee = Referee();
    white->NewGame(white->Ours && games % 2 == 1);
    black->NewGame(black->Ours && games % 2 == 0);
    white->SendClocks(*black);
    white->Engine.Send("go");
    Player* mover = white;
    Player* waiter = black;
    for (;;) {
      auto started = std::chrono::steady_clock::now();
      bool ended = false;
      std::string move = mover->AwaitMove(ended);
      if (testing::Test::HasFailure() || mover->Crashed) return;
      if (ended) break;  // a claim or a resignation: the next game
      auto used = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
      mover->ClockCs = std::max(1, mover->ClockCs - static_cast<int>(used.count() / 10));
      ASSERT_TRUE(referee.Play(move)) << mover->Name << " played illegal " << move << " after" << referee.MovesText();
      plies++;
      if (referee.IsOver()) break;
      waiter->SendClocks(*mover);
      waiter->Engine.Send(move);
      std::swap(mover, waiter);
    }
    for (Player* player : {white, black}) {
      if (player->Ours) player->Engine.Send("result * {game over}");
      player->Synchronise(games);
      if (player->Crashed) return;
    }
  }
}

void FinishPlayers(Player* players[2]) {
  for (int i = 0; i < 2; i++) {
    players[i]->Engine.Send("quit");
    int code = players[i]->Engine.Finish();
    if (players[i]->Ours) {
      EXPECT_EQ(code, 0) << players[i]->Name;
    }
  }
}

class XboardMatchTest : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Scratch.Ready()); }

  static void Open(Player& player) {
    EXPECT_TRUE(player.Open()) << player.Name << " did not open the xboard dialogue\n"
                               << player.Engine.TranscriptText();
  }

  TemporaryDirectory Scratch;
};

TEST_F(XboardMatchTest, TwoProgramsPlaySixtyMovesOfLegalChess) {
  const std::string directory = Scratch.Path.string();
  Player first(AbsoluteProgram(), {"first"}, directory, "first", true);
  Player second(AbsoluteProgram(), {"second"}, directory, "second", true);
  Open(first);
  Open(second);
  if (HasFailure()) return;
  Player* players[2] = {&first, &second};
  PlayMatch(players);
  FinishPlayers(players);
}

TEST_F(XboardMatchTest, ProgramAndFairyMaxPlaySixtyMovesOfLegalChess) {
  REQUIRE_PROGRAM(FairyMaxProgram);
  const std::string directory = Scratch.Path.string();
  for (int attempt = 0; attempt < 2; attempt++) {
    Player ours(AbsoluteProgram(), {"ours"}, directory, "ours", true);
    Player fairyMax(FairyMaxProgram, {}, directory, "fairymax", false);
    Open(ours);
    if (!fairyMax.Open()) {
      if (fairyMax.Engine.Crashed()) fairyMax.Crashed = true;
      else ADD_FAILURE() << "Fairy-Max did not open the xboard dialogue\n" << fairyMax.Engine.TranscriptText();
    }
    if (HasFailure()) return;
    Player* players[2] = {&ours, &fairyMax};
    if (!fairyMax.Crashed) PlayMatch(players);
    if (!fairyMax.Crashed) {
      FinishPlayers(players);
      return;
    }
    std::printf("the opponent crashed: Fairy-Max died of a signal%s\n", attempt == 0 ? "; once more" : "");
  }
  GTEST_SKIP() << "the opponent crashed twice: Fairy-Max died of a signal, a fault of its own";
}

// The real GUI: xboard runs two games between two copies of the program,
// each in a directory of its own, one game with each colour, and writes them
// down. xboard stops a game at an illegal move or a protocol error and says
// so in the game's result.
TEST_F(XboardMatchTest, XboardGuiPlaysAMatchBetweenTwoCopies) {
  REQUIRE_PROGRAM(XboardProgram);
  REQUIRE_PROGRAM(VirtualDisplay);
  const std::filesystem::path first = Scratch / "first", second = Scratch / "second";
  ASSERT_TRUE(std::filesystem::create_directory(first) && std::filesystem::create_directory(second));
  for (int attempt = 0; attempt < 2; attempt++) {
    const std::string run = "run" + std::to_string(attempt);
    const std::string games = Scratch / (run + ".pgn");
    const std::string debug = Scratch / (run + ".debug");
    const std::string errors = Scratch / (run + ".stderr");
    // xboard saves its settings on exit into the user's home directory: not
    // here, and not anywhere but the scratch directory if it does. Without a
    // window it must not wait for a click on its exit message.
    const std::vector<std::string> arguments = {
        "HOME=" + Scratch.Path.string(), VirtualDisplay, "-a", XboardProgram, "-noGUI", "-xexit",
        "-saveSettingsOnExit", "false", "-saveSettingsFile", Scratch / "xboardrc", "-fcp",
        AbsoluteProgram() + " first", "-fd", first.string(), "-scp", AbsoluteProgram() + " second", "-sd",
        second.string(), "-mg", "2", "-tc", "0:10", "-inc", "0", "-ponder", "-autoCallFlag", "true",
        "-saveGameFile", games, "-debug", "-nameOfDebugFile", debug};
    EngineProcess gui("/usr/bin/env", arguments, Scratch.Path.string(), errors);
    ASSERT_TRUE(gui.Started());
    const int code = gui.Finish(180000);
    if (gui.Crashed()) {
      std::printf("the opponent crashed: xboard died of a signal%s\n", attempt == 0 ? "; once more" : "");
      continue;
    }
    EXPECT_EQ(code, 0) << ReadWholeFile(errors);

    const std::string pgn = ReadWholeFile(games);
    int results = 0;
    for (std::size_t at = pgn.find("[Result \""); at != std::string::npos; at = pgn.find("[Result \"", at + 1)) {
      results++;
      std::string result = pgn.substr(at + 9, pgn.find('"', at + 9) - at - 9);
      EXPECT_NE(result, "*") << pgn;
    }
    EXPECT_EQ(results, 2) << pgn << ReadWholeFile(errors);
    // xboard names a fault of either program in the game text.
    for (const char* fault : {"llegal", "alse win", "alse draw", "xboard exit", "crash", "unexpectedly", "disconnect"})
      EXPECT_EQ(pgn.find(fault), std::string::npos) << fault << "\n" << pgn;
    // What either program said, as xboard logged it ("<first : ",
    // "<second: "), and xboard's own complaints about either.
    const std::string log = ReadWholeFile(debug);
    for (const char* fault :
         {"<first : Error", "<first : Illegal", "<first : tellusererror", "<second: Error", "<second: Illegal",
          "<second: tellusererror", "Error writing to", "Error reading from"})
      EXPECT_EQ(log.find(fault), std::string::npos) << fault;
    const std::string said = ReadWholeFile(errors);
    for (const char* fault : {"Error writing to", "Error reading from", "Broken pipe"})
      EXPECT_EQ(said.find(fault), std::string::npos) << fault << "\n" << said;
    return;
  }
  GTEST_SKIP() << "the opponent crashed twice: xboard died of a signal, a fault of its own";
}

}  // namespace
