// The real program fed the sessions that once ended it early, wrote out of
// bounds or overflowed: each must end with its dialogue's own last answer
// and a clean exit, with the position and settings still sane.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine_process.h"
#include "support/capture.h"

namespace {

std::string AbsoluteProgram() { return std::filesystem::absolute(EngineProgramPath()).string(); }

// A session: the lines sent (the first one chooses the dialogue; a line
// "@text" sends nothing but waits for an answer holding text, as a GUI waits
// for the engine's move), the lines that must come back in this order, texts
// that must not come back at all, and the last line, which is the dialogue's
// own goodbye or sync answer.
struct Session {
  const char* Name;
  std::vector<std::string> Lines;
  std::vector<std::string> Expected;
  std::vector<std::string> Forbidden;
  const char* LastLine;
};

// Runs a session in its own scratch directory (no configuration file there,
// so every setting starts at its default); the whole output comes back.
std::vector<std::string> RunSession(const Session& session, int& exitCode) {
  TemporaryDirectory scratch;
  EngineProcess engine(AbsoluteProgram(), {"hostile"}, scratch.Path.string(), scratch / "stderr");
  std::vector<std::string> output;
  exitCode = -2;
  if (!engine.Started()) return output;
  for (const std::string& line : session.Lines) {
    if (line[0] != '@') {
      engine.Send(line);
      continue;
    }
    while (auto answer = engine.ReadLine(120000)) {
      output.push_back(*answer);
      if (answer->find(line.substr(1)) != std::string::npos) break;
    }
  }
  engine.CloseInput();
  while (auto line = engine.ReadLine(120000)) output.push_back(*line);
  exitCode = engine.Finish();
  return output;
}

void ExpectSessionEndsCleanly(const Session& session) {
  int exitCode;
  const std::vector<std::string> output = RunSession(session, exitCode);
  std::string transcript;
  for (const std::string& line : output) transcript += line + "\n";
  SCOPED_TRACE(std::string(session.Name) + ", transcript:\n" + transcript);

  EXPECT_EQ(exitCode, 0);
  std::size_t at = 0;
  for (const std::string& expected : session.Expected) {
    while (at < output.size() && output[at].find(expected) == std::string::npos) ++at;
    EXPECT_LT(at, output.size()) << "missing, or out of order: " << expected;
  }
  for (const std::string& forbidden : session.Forbidden)
    for (const std::string& line : output) EXPECT_EQ(line.find(forbidden), std::string::npos) << line;
  std::string last;
  for (const std::string& line : output)
    if (!line.empty()) last = line;
  // The console's prompt may stand before its goodbye on the same line.
  const std::string wanted = session.LastLine;
  EXPECT_TRUE(last.size() >= wanted.size() && last.compare(last.size() - wanted.size(), wanted.size(), wanted) == 0)
      << "last line: " << last;
}

constexpr const char* StartFenLine = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";
// A Chess960 game whose castling rights name rooks on h- and f-files, with
// the kings on g1 and g8: under normal rules none of them can be played.
constexpr const char* Chess960Fen = "bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9";

// "position startpos moves ..." with a legal game of that many plies: the
// knights go out and back, 400 and more moves without an end a GUI must
// claim.
std::string LongGamePosition(int plies) {
  static constexpr const char* Cycle[4] = {"g1f3", "g8f6", "f3g1", "f6g8"};
  std::string line = "position startpos moves";
  for (int ply = 0; ply < plies; ++ply) line += std::string(" ") + Cycle[ply % 4];
  return line;
}

const Session Sessions[] = {
    // A line already waiting when the analysis starts is carried out, and
    // the dialogue goes on.
    {"console analyze then a move",
     {"console", "analyze", "e2e4", "d", "exit", "d", "quit"},
     {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq"},
     {"ERROR"},
     "Goodbye..."},
    {"console analyze then undo, new, setboard",
     {"console", "e2e4", "analyze", "undo", "new", "setboard 8/8/8/4k3/8/8/8/4K2R w K - 0 1", "exit", "d", "quit"},
     {"8/8/8/4k3/8/8/8/4K2R w K -"},
     {"ERROR"},
     "Goodbye..."},
    {"console analyze then bk", {"console", "analyze", "bk", "exit", "d", "quit"}, {StartFenLine}, {}, "Goodbye..."},
    // After a learning run every command works again.
    {"console deeplearn then commands",
     {"console", "deeplearn 1", "d", "new", "e2e4", "d", "quit"},
     {StartFenLine, "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq"},
     {"Command not accepted"},
     "Goodbye..."},
    {"console learn then commands",
     {"console", "learn 1", "d", "?", "result 1-0", "d", "quit"},
     {StartFenLine, StartFenLine},
     {"Command not accepted"},
     "Goodbye..."},
    // Switching the variant under a Chess960 position keeps only the rights
    // the new rules can play.
    {"uci Chess960 position switched to normal",
     {"uci", std::string("position fen ") + Chess960Fen, "setoption name UCI_Chess960 value false", "go depth 5",
      "isready", "quit"},
     {"bestmove "},
     {"bestmove 0000", "Error"},
     "readyok"},
    {"xboard Chess960 position switched to normal",
     {"xboard", "protover 2", "variant fischerandom", std::string("setboard ") + Chess960Fen, "variant normal", "sd 5",
      "go", "@move ", "ping 1", "quit"},
     {"move ", "pong 1"},
     {"Illegal", "Error"},
     "pong 1"},
    {"console Chess960 position switched to normal",
     {"console", "variant fischerandom", std::string("setboard ") + Chess960Fen, "variant off", "d", "sd 4", "go",
      "@Computer's move: ", "quit"},
     {"bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w - -", "Computer's move: "},
     {"ERROR"},
     "Goodbye..."},
    // Hostile clock words still give a search and its move.
    {"uci movestogo at the top of int",
     {"uci", "position startpos moves e2e4 e7e5", "go wtime 1000 btime 1000 movestogo 2147483647", "@bestmove",
      "isready", "quit"},
     {"bestmove "},
     {"bestmove 0000"},
     "readyok"},
    {"xboard hostile level and time",
     {"xboard", "protover 2", "new", "level 0 35791:2147483647 1e300", "time 1000000000", "otim 1000000000", "sd 3",
      "go", "@move ", "ping 7", "quit"},
     {"move "},
     {"Error"},
     "pong 7"},
    {"console hostile level", {"console", "level 40 5 9999999", "sd 3", "go", "@Computer's move: ", "quit"},
     {"Computer's move: "}, {"ERROR"}, "Goodbye..."},
    // Search settings at the top of int no longer overflow the node search.
    {"uci search options at the top of int",
     {"uci", "setoption name LMRScout value 2147483647", "setoption name LMRPV value 2147483647",
      "setoption name LMRExtraScout value 2147483647", "setoption name LMRExtraPV value 2147483647",
      "setoption name NullBase value 2147483647", "position startpos", "go depth 6", "@bestmove", "isready", "quit"},
     {"bestmove "},
     {"bestmove 0000"},
     "readyok"},
    // An option set during a search takes effect after it, as in xboard.
    {"uci setoption while thinking",
     {"uci", "position startpos", "go infinite", "setoption name MultiPV value 3", "stop", "@bestmove",
      "position startpos", "go depth 3", "@bestmove", "isready", "quit"},
     {"bestmove ", "info multipv 3 ", "bestmove "},
     {"Unknown command"},
     "readyok"},
    {"uci setoption while pondering",
     {"uci", "position startpos moves e2e4 e7e5", "go ponder wtime 100000 btime 100000",
      "setoption name MultiPV value 2", "stop", "@bestmove", "position startpos", "go depth 3", "@bestmove", "isready",
      "quit"},
     {"bestmove ", "info multipv 2 ", "bestmove "},
     {"Unknown command"},
     "readyok"},
    // Games longer than the key history go on: move 401 and beyond get a
    // real answer.
    {"uci game of 800 plies",
     {"uci", LongGamePosition(800), "go depth 3", "@bestmove", "isready", "quit"},
     {"bestmove "},
     {"bestmove 0000", "Move not found", "Error"},
     "readyok"},
    {"uci game of 1203 plies",
     {"uci", LongGamePosition(1203), "go depth 3", "@bestmove", "isready", "quit"},
     {"bestmove "},
     {"bestmove 0000", "Move not found", "Error"},
     "readyok"},
};

void PrintTo(const Session& session, std::ostream* out) { *out << session.Name; }

class HostileSessionTest : public testing::TestWithParam<Session> {};

TEST_P(HostileSessionTest, EndsWithTheDialoguesOwnAnswer) { ExpectSessionEndsCleanly(GetParam()); }

std::string SessionName(const testing::TestParamInfo<Session>& info) {
  std::string name;
  for (const char* c = info.param.Name; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Reproducers, HostileSessionTest, testing::ValuesIn(Sessions), SessionName);

}  // namespace
