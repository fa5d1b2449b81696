// A seeded fuzz of the three dialogues: the real program gets random mixes of
// valid and malformed commands (hostile numbers, broken FENs, moves that are
// no moves, words out of place), and after every batch its own sync command
// must still be answered; at the end of input it must exit cleanly. Bounded
// by its case counts, so that it runs in every build, the checked one too.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine_process.h"
#include "support/capture.h"

namespace {

// The counts, not a clock, bound the test: sessions per dialogue, batches
// per session (each ends in a sync), commands per batch.
constexpr int SessionsPerDialogue = 8;
constexpr int BatchesPerSession = 6;
constexpr int CommandsPerBatch = 10;
constexpr unsigned Seed = 20261210;
// A sync may have to wait for a search of depth 3 under the sanitizers.
constexpr int SyncTimeoutMs = 120000;

class Draw {
public:
  explicit Draw(unsigned seed) : Random(seed) {}

  int Below(int n) { return static_cast<int>(Random() % static_cast<unsigned>(n)); }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[static_cast<std::size_t>(Below(static_cast<int>(items.size())))];
  }
  std::string Word(std::initializer_list<const char*> words) {
    return Pick(std::vector<std::string>(words.begin(), words.end()));
  }

  // Numbers a GUI or a careless user may type, the hostile ones included.
  std::string Number() {
    return Word({"0", "1", "2", "3", "5", "40", "-1", "-5", "100", "99999999", "2147483647", "-2147483648",
                 "99999999999", "abc", "1e300", "nan", "5:30", "35791:2147483647", "0.5", ""});
  }
  std::string Fen() {
    return Word({"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
                 "bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9",
                 "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
                 "8/8/8/4k3/8/8/8/4K2R w K - 0 1", "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", "7k/6Q1/6K1/8/8/8/8/8 b - - 0 1",
                 "4k3/8/8/8/8/8/8/4K3 w - - 99999999999 1", "8/8/8/8/8/8/8/8 w - - 0 1", "rnbqkbnr/pppppppp/8/8 w",
                 "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq e9 0 1", "kkkkkkkk/8/8/8/8/8/8/KKKKKKKK w - -",
                 "garbage", ""});
  }
  std::string Move() {
    return Word({"e2e4", "e7e5", "g1f3", "b8c6", "d2d4", "e1g1", "e8c8", "a7a8q", "e7e8n", "0000", "zz", "e2e9",
                 "h7h8", "a1a1", "e2e4e5", "g1f3", "g8f6", "f3g1", "f6g8"});
  }
  std::string Moves() {
    std::string text;
    for (int n = Below(9); n > 0; --n) text += " " + Move();
    return text;
  }
  // Lines that belong to no dialogue: random bytes, blanks, a very long one.
  std::string Garbage() {
    switch (Below(4)) {
      case 0: return "";
      case 1: return " \t \r";
      case 2: return std::string(static_cast<std::size_t>(3000 + Below(3000)), 'a' + static_cast<char>(Below(26)));
      default: {
        std::string text;
        for (int n = Below(40); n > 0; --n) text += static_cast<char>(32 + Below(95));
        return text;
      }
    }
  }

private:
  std::mt19937 Random;
};

// One dialogue: its opening lines, a generator of one random command (one or
// more lines), and the lines of its sync with the answer that ends it.
struct Dialogue {
  const char* Name;
  std::vector<std::string> Opening;
  std::function<std::vector<std::string>(Draw&)> Command;
  std::function<std::vector<std::string>(int)> Sync;
  std::function<std::string(int)> SyncAnswer;
};

// The clock commands lift the depth limit; one follows them at once, so that
// no search of the fuzz can think for hours on a hostile clock.
std::vector<std::string> WithDepthLimit(std::string line) { return {std::move(line), "sd 2"}; }

std::vector<std::string> UciCommand(Draw& d) {
  switch (d.Below(20)) {
    case 0: return {"isready"};
    case 1: return {"ucinewgame"};
    case 2: return {"position startpos" + d.Moves()};
    case 3: return {"position fen " + d.Fen() + (d.Below(2) ? " moves" + d.Moves() : "")};
    case 4: return {d.Word({"position", "position fen", "position startpos moves", "position moves e2e4"})};
    case 5: return {"go depth " + d.Word({"1", "2", "3", "0", "-3", "99999999999"})};
    case 6: return {"go movetime " + d.Word({"1", "10", "50", "0", "-5"})};
    case 7:
      return {"go wtime " + d.Number() + " btime " + d.Number() + " winc " + d.Number() + " binc " + d.Number() +
              " movestogo " + d.Number()};
    case 8: return {"go infinite"};
    case 9: return {"go ponder wtime 1000 btime 1000"};
    case 10: return {d.Word({"ponderhit", "stop", "go", "go searchmoves e2e4 zz depth 2", "go nodes 100 mate 2"})};
    case 11:
      return {"setoption name " +
              d.Word({"LMRScout", "LMRPV", "LMRExtraScout", "LMRExtraPV", "NullBase", "NullProgress", "PruneLevel",
                      "PruneSecure", "SingExtension", "SingMargin", "MultiPV", "SplitDepth", "TimeUse", "KingSafety",
                      "SyzygyDepth", "PostOutput", "Nonsense"}) +
              " value " + d.Number()};
    case 12: return {"setoption name Hash value " + d.Word({"1", "2", "8", "0", "-1"})};
    case 13: return {"setoption name Threads value " + d.Word({"1", "2", "3", "0"})};
    case 14: return {"setoption name UCI_Chess960 value " + d.Word({"true", "false", "maybe"})};
    case 15:
      return {d.Word({"setoption name SyzygyPath value /nonexistent", "setoption name SyzygyPath value <empty>",
                      "setoption name Clear Hash", "setoption", "setoption name", "setoption name Ponder",
                      "setoption name Ponder value true", "setoption name Learning value false"})};
    case 16: return {d.Word({"debug on", "uci", "register later", "ucinewgame now"})};
    default: return {d.Garbage()};
  }
}

std::vector<std::string> XboardCommand(Draw& d) {
  switch (d.Below(24)) {
    case 0: return {d.Word({"new", "force", "go", "playother", "white", "black", "random", "computer"})};
    case 1: return WithDepthLimit("level " + d.Number() + " " + d.Number() + " " + d.Number());
    case 2: return WithDepthLimit("st " + d.Number());
    case 3: return {"sd " + d.Word({"1", "2", "3"})};
    case 4: return {d.Word({"time ", "otim "}) + d.Number()};
    case 5:
    case 6: return {d.Move()};
    case 7: return {"usermove " + d.Move()};
    case 8: return {d.Word({"undo", "remove", "hint", "bk", "draw", "?"})};
    case 9: return {d.Word({"hard", "easy", "post", "nopost"})};
    case 10: return {d.Word({"analyze", "exit", "."})};
    case 11: return {"setboard " + d.Fen()};
    case 12: return {"variant " + d.Word({"fischerandom", "normal", "nocastle", "crazyhouse", ""})};
    case 13: return {"result " + d.Word({"1-0 {White mates}", "0-1", "1/2-1/2 {Draw}", "*", ""})};
    case 14:
      return {d.Word({"protover 2", "protover", "accepted ping", "rejected setboard", "name Fuzz", "rating 2000 1900"})};
    case 15: return {"ics " + d.Word({"-", "freechess.org", ""})};
    case 16: return {"memory " + d.Word({"1", "4", "16", "-1"})};
    case 17: return {"cores " + d.Word({"1", "2", "0"})};
    case 18: return {"ping " + d.Number()};
    case 19: return {"xboard"};
    default: return {d.Garbage()};
  }
}

std::vector<std::string> ConsoleCommand(Draw& d) {
  switch (d.Below(26)) {
    case 0: return {d.Word({"new", "go", "force", "undo", "remove", "reset"})};
    case 1:
    case 2: return {d.Move()};
    case 3: return {d.Word({"d", "key", "moves", "score", "qscore", "game", "options", "draw"})};
    case 4: return {"see" + d.Word({" ", "x "}) + d.Move()};
    case 5: return {"setboard " + d.Fen()};
    case 6: return WithDepthLimit("level " + d.Number() + " " + d.Number() + " " + d.Number());
    case 7: return WithDepthLimit("st " + d.Number());
    case 8: return {"sd " + d.Word({"1", "2", "3"})};
    case 9: return {d.Word({"hard", "easy", "post", "nopost"})};
    case 10: return {d.Word({"analyze", "exit", "bk", ".", "?"})};
    case 11: return {"result " + d.Word({"1-0", "0-1", "1/2-1/2", "*", ""})};
    case 12: return {"perft " + d.Word({"1", "2", "0", "-1"})};
    case 13: return {"hash " + d.Word({"1", "4", "0", "-9"})};
    case 14: return {"cpus " + d.Word({"1", "2", "0"})};
    case 15: return {"splitdepth " + d.Number()};
    case 16:
      return {d.Word({"learning", "nullmove", "iid", "se"}) + " " + d.Word({"on", "off", ""})};
    case 17: return {"variant " + d.Word({"off", "fischerandom", "crazyhouse", ""})};
    case 18: return {d.Word({"learn 1", "deeplearn 1", "learn", "deeplearn x"})};
    case 19: return {d.Word({"szwdl", "szdtz", "szdtzroot", "setboard", "level", "st", "sd", "perft", "see"})};
    default: return {d.Garbage()};
  }
}

const Dialogue Dialogues[] = {
    {"uci", {"uci"}, UciCommand, [](int) { return std::vector<std::string>{"stop", "isready"}; },
     [](int) { return std::string("readyok"); }},
    // "exit" ends an analysis; the ping then comes back in every mode, after
    // the move when the engine thinks on its own.
    {"xboard", {"xboard", "protover 2", "sd 2"}, XboardCommand,
     [](int id) { return std::vector<std::string>{"exit", "ping " + std::to_string(id)}; },
     [](int id) { return "pong " + std::to_string(id); }},
    // "exit" ends an analysis, "force" a ponder search, "?" the engine's own;
    // then "key" is read by the idle handler, whatever the mode was.
    {"console", {"console", "sd 2"}, ConsoleCommand,
     [](int) { return std::vector<std::string>{"exit", "force", "?", "key"}; },
     [](int) { return std::string("Hashkey = "); }},
};

void PrintTo(const Dialogue& dialogue, std::ostream* out) { *out << dialogue.Name; }

class DialogueFuzzTest : public testing::TestWithParam<Dialogue> {};

TEST_P(DialogueFuzzTest, KeepsAnsweringItsSyncAndExitsCleanly) {
  const Dialogue& dialogue = GetParam();
  const std::string program = std::filesystem::absolute(EngineProgramPath()).string();
  for (int session = 0; session < SessionsPerDialogue; ++session) {
    const unsigned seed = Seed + static_cast<unsigned>(session) * 7919u + static_cast<unsigned>(dialogue.Name[0]);
    Draw draw(seed);
    TemporaryDirectory scratch;
    EngineProcess engine(program, {"fuzz"}, scratch.Path.string(), scratch / "stderr");
    ASSERT_TRUE(engine.Started());
    std::vector<std::string> sent;
    auto send = [&](const std::vector<std::string>& lines) {
      for (const std::string& line : lines) {
        sent.push_back(line);
        engine.Send(line);
      }
    };
    auto context = [&] {
      std::string text = std::string(dialogue.Name) + " session " + std::to_string(session) + " (seed " +
                         std::to_string(seed) + "); sent:\n";
      for (const std::string& line : sent) text += "  " + line.substr(0, 200) + "\n";
      return text;
    };
    send(dialogue.Opening);
    for (int batch = 0; batch < BatchesPerSession; ++batch) {
      for (int c = 0; c < CommandsPerBatch; ++c) send(dialogue.Command(draw));
      const int id = 1000 + batch;
      send(dialogue.Sync(id));
      const std::string answer = dialogue.SyncAnswer(id);
      bool answered = false;
      while (auto line = engine.ReadLine(SyncTimeoutMs)) {
        if (line->find(answer) != std::string::npos) {
          answered = true;
          break;
        }
      }
      ASSERT_TRUE(answered) << "no \"" << answer << "\" after batch " << batch << "\n" << context();
    }
    EXPECT_EQ(engine.Finish(SyncTimeoutMs), 0) << context();
  }
}

INSTANTIATE_TEST_SUITE_P(Seeded, DialogueFuzzTest, testing::ValuesIn(Dialogues),
                         [](const testing::TestParamInfo<Dialogue>& info) { return std::string(info.param.Name); });

}  // namespace
