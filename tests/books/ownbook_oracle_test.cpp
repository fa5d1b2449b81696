// The own book's statistics against pgn-extract: for positions reached by
// several games of eco.pgn, the pychess files and a few test games, the
// mover's wins, draws and losses of each move equal what pgn-extract's FEN
// comments and results show.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "books/own/bookquelm.h"
#include "books/polyglot.h"
#include "books/polyglot_fixture.h"
#include "games/gamesdb_helpers.h"
#include "support/scratch_directory.h"

namespace {

using namespace gamesdb_test;

// Every game's results are "*" in eco.pgn: each game gets one by its place,
// so that all three results occur.
std::string WithResults(const std::string& pgn) {
  static const char* const results[] = {"1-0", "0-1", "1/2-1/2"};
  std::string out;
  std::size_t at = 0;
  int game = 0;
  while (at < pgn.size()) {
    std::size_t next = pgn.find("\n[Event ", at + 1);
    if (next == std::string::npos) next = pgn.size();
    std::string block = pgn.substr(at, next - at);
    const std::size_t tag = block.find("[Result \"");
    if (tag != std::string::npos) {
      const std::size_t end = block.find('"', tag + 9);
      const std::string old = block.substr(tag + 9, end - tag - 9);
      const std::string fresh = results[game % 3];
      block.replace(tag + 9, old.size(), fresh);
      const std::size_t last = block.rfind(old);
      if (last != std::string::npos && last > tag + 9 + fresh.size()) block.replace(last, old.size(), fresh);
    }
    out += block;
    at = next;
    game++;
  }
  return out;
}

struct Counts {
  int Wins = 0, Draws = 0, Losses = 0;
  bool operator==(const Counts& o) const { return Wins == o.Wins && Draws == o.Draws && Losses == o.Losses; }
};

// Per position key, per move text, the mover's results: each game counted
// once per position, at the first time its main line reaches it.
using Expected = std::map<std::uint64_t, std::map<std::string, Counts>>;

void ReadOracle(const std::string& text, Expected& expected, std::map<std::uint64_t, std::string>& fens,
                std::map<std::uint64_t, int>& games) {
  std::istringstream lines(text);
  std::string line, result, start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
  std::string movetext;
  auto finish = [&] {
    if (movetext.empty()) return;
    // The FEN before each move is the comment after the move before it.
    std::vector<std::string> fensBefore, moves;
    std::string current = start;
    std::istringstream words(movetext);
    std::string word;
    while (words >> word) {
      if (word == "{") {
        std::string fen, part;
        while (words >> part && part != "}") fen += (fen.empty() ? "" : " ") + part;
        current = fen;
        continue;
      }
      if (word == "1-0" || word == "0-1" || word == "1/2-1/2" || word == "*") break;
      fensBefore.push_back(current);
      moves.push_back(word);
    }
    // The PGN reader keeps games of three moves or more.
    if (fensBefore.size() >= 3) {
      std::map<std::uint64_t, bool> seen;
      for (std::size_t i = 0; i < fensBefore.size(); i++) {
        GameBoard board;
        if (board.SetFen(fensBefore[i].c_str())) break;
        const std::uint64_t key = board.HashKey();
        if (seen[key]) continue;
        seen[key] = true;
        games[key]++;
        fens[key] = fensBefore[i];
        Counts& counts = expected[key][moves[i]];
        const bool whiteMoves = board.Side == GameBoard::White;
        if (result == "1/2-1/2") counts.Draws++;
        else if (result == "1-0") (whiteMoves ? counts.Wins : counts.Losses)++;
        else if (result == "0-1") (whiteMoves ? counts.Losses : counts.Wins)++;
      }
    }
    movetext.clear();
  };
  while (std::getline(lines, line)) {
    if (line.rfind("[Event ", 0) == 0) {
      finish();
      start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
      result = "*";
    } else if (line.rfind("[Result \"", 0) == 0) {
      result = line.substr(9, line.find('"', 9) - 9);
    } else if (line.rfind("[FEN \"", 0) == 0) {
      start = line.substr(6, line.find('"', 6) - 6);
    } else if (!line.empty() && line[0] != '[') {
      movetext += line + " ";
    }
  }
  finish();
}

// The book's castling is the king onto its rook's corner; UCI's is the
// king's two-square move (the files hold no Chess960 games).
std::string UciText(const GameMove& move) {
  if (move.IsCastling()) {
    const char rank = move.From / 8 == 0 ? '8' : '1';
    return std::string("e") + rank + (move.From % 8 == 0 ? 'c' : 'g') + rank;
  }
  static const char* const promotions = "..n..brq";
  std::string text = {char('a' + move.From % 8), char('8' - move.From / 8), char('a' + move.To % 8),
                      char('8' - move.To / 8)};
  if (move.Promotion) text += promotions[move.Promotion & 7];
  return text;
}

TEST(OwnBookOracle, StatisticsEqualPgnExtract) {
  const std::string extract = PgnExtractProgram();
  REQUIRE_DB_PATH(extract, "pgn-extract");
  REQUIRE_DB_PATH(EcoPgn(), "eco.pgn");
  std::vector<fs::path> sources = {EcoPgn()};
  for (const fs::path& file : PychessPgnFiles()) sources.push_back(file);
  if (sources.size() == 1 && RunningUnderCi()) FAIL() << "pychess PGN files missing";
  LoadMessagesFile(QUELM_DATA_DIR "/english");

  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.Ready());
  const std::string joined = scratch.Path("joined.pgn"), normal = scratch.Path("normal.pgn"),
                    games = scratch.Path("games.pgn");
  WriteJoined(joined, sources, 1);
  // Both sides read one text: pgn-extract's own main lines, in SAN.
  gamesdb_test::Run(extract + " --novars -s -o \"" + normal + "\" \"" + joined + "\" 2>/dev/null");
  RETURN_IF_OPPONENT_CRASHED();
  std::ofstream(games, std::ios::binary) << WithResults(ReadText(normal));
  const std::string oracle = gamesdb_test::Run(extract + " --novars -s -Wuci --fencomments \"" + games + "\" 2>/dev/null");
  RETURN_IF_OPPONENT_CRASHED();
  Expected expected;
  std::map<std::uint64_t, std::string> fens;
  std::map<std::uint64_t, int> reached;
  ReadOracle(oracle, expected, fens, reached);
  ASSERT_GT(expected.size(), 100u);

  GamesDatabase database;
  ASSERT_FALSE(database.Create(scratch.Path("big"), true, false));
  ASSERT_FALSE(database.ImportPgn(games.c_str()));
  database.Close();
  BookQuelm book;
  ASSERT_FALSE(book.Create(scratch.Path("book").c_str()));
  ASSERT_FALSE(book.SetDatabase("big"));

  // The positions most games pass through, and a spread of rarer ones.
  std::vector<std::pair<int, std::uint64_t>> byGames;
  for (auto [key, count] : reached) byGames.push_back({-count, key});
  std::sort(byGames.begin(), byGames.end());
  std::vector<std::uint64_t> chosen;
  for (std::size_t i = 0; i < byGames.size() && chosen.size() < 150; i += i < 60 ? 1 : 37) chosen.push_back(byGames[i].second);
  int compared = 0;
  for (std::uint64_t key : chosen) {
    GameBoard board;
    ASSERT_FALSE(board.SetFen(fens[key].c_str()));
    ASSERT_FALSE(book.UpdateStats(board, 0)) << fens[key];
    std::map<std::string, Counts> found;
    BookPosition* position = book.GetBookPosition(board);
    ASSERT_NE(position, nullptr);
    for (int i = 0; i < position->Count; i++) {
      const BookEntry& entry = *position->Entries[i];
      found[UciText(*entry.GetMove())] = {entry.GetDBWins(), entry.GetDBDraws(), entry.GetDBLosses()};
    }
    position->Release();
    std::map<std::string, Counts> want = expected[key];
    // Moves that ended no game with a result still get a record.
    for (auto& [move, counts] : found) want.try_emplace(move);
    EXPECT_EQ(found.size(), want.size()) << fens[key];
    for (auto& [move, counts] : want) {
      const Counts got = found[move];
      EXPECT_TRUE(got == counts) << fens[key] << " " << move << ": book " << got.Wins << "/" << got.Draws << "/"
                                 << got.Losses << ", pgn-extract " << counts.Wins << "/" << counts.Draws << "/"
                                 << counts.Losses;
    }
    compared++;
  }
  EXPECT_GT(compared, 100);
}

// The FENs before each main-line move of one game that pgn-extract wrote
// with a FEN comment after every move.
std::vector<std::string> GamePositions(const std::string& block) {
  std::string start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
  const std::size_t fenTag = block.find("\n[FEN \"");
  if (fenTag != std::string::npos) start = block.substr(fenTag + 7, block.find('"', fenTag + 7) - fenTag - 7);
  std::vector<std::string> fens = {start};
  for (std::size_t open = block.find('{'); open != std::string::npos; open = block.find('{', open + 1)) {
    const std::size_t close = block.find('}', open);
    std::string fen = block.substr(open + 1, close - open - 1);
    for (char& c : fen)
      if (c == '\n') c = ' ';
    const std::size_t first = fen.find_first_not_of(' '), last = fen.find_last_not_of(' ');
    fens.push_back(fen.substr(first, last - first + 1));
  }
  fens.pop_back();  // the position after the last move
  return fens;
}

// The Polyglot form of a book move: castling as the king onto its rook.
std::uint16_t PolyglotWord(const GameMove& move) {
  if (move.IsCastling()) return PolyglotMove(move.From / 8 == 0 ? 4 : 60, move.From);
  static const int promotions[8] = {0, 0, 1, 0, 0, 2, 3, 4};
  return PolyglotMove(move.From, move.To, promotions[move.Promotion & 7]);
}

// On games without a repeated position, Polyglot's weight of a move is
// 2 x wins + draws of the side that plays it: what the book counts.
TEST(OwnBookOracle, WeightsEqualPolyglotMakeBook) {
  const std::string extract = PgnExtractProgram();
  const std::string polyglot = "/usr/games/polyglot";
  REQUIRE_DB_PATH(extract, "pgn-extract");
  REQUIRE_DB_PATH(polyglot, "polyglot");
  REQUIRE_DB_PATH(EcoPgn(), "eco.pgn");
  std::vector<fs::path> sources = {EcoPgn()};
  for (const fs::path& file : PychessPgnFiles()) sources.push_back(file);
  LoadMessagesFile(QUELM_DATA_DIR "/english");

  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.Ready());
  const std::string joined = scratch.Path("joined.pgn"), normal = scratch.Path("normal.pgn"),
                    games = scratch.Path("games.pgn"), kept = scratch.Path("kept.pgn");
  WriteJoined(joined, sources, 1);
  gamesdb_test::Run(extract + " --novars -s -o \"" + normal + "\" \"" + joined + "\" 2>/dev/null");
  RETURN_IF_OPPONENT_CRASHED();
  std::ofstream(games, std::ios::binary) << WithResults(ReadText(normal));
  // One text for both sides: SAN with the FEN after every move.
  const std::string text =
      gamesdb_test::Run(extract + " --novars -s --fencomments \"" + games + "\" 2>/dev/null");
  RETURN_IF_OPPONENT_CRASHED();
  // Keep the games the database keeps (three moves or more) that never
  // repeat a position and start from the standard position.
  std::vector<std::string> blocks;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t next = text.find("\n[Event ", at + 1);
    if (next == std::string::npos) next = text.size();
    blocks.push_back(text.substr(at, next - at));
    at = next;
  }
  std::vector<std::vector<std::string>> positions;
  for (const std::string& block : blocks) positions.push_back(GamePositions(block));
  std::string keptText;
  std::vector<std::string> keptFens;
  for (std::size_t g = 0; g < blocks.size(); g++) {
    // Polyglot reads every game from the standard start.
    if (positions[g].size() < 3 || blocks[g].find("\n[FEN ") != std::string::npos) continue;
    std::set<std::uint64_t> keys;
    bool repeats = false;
    for (const std::string& fen : positions[g]) {
      GameBoard board;
      if (board.SetFen(fen.c_str()) || !keys.insert(board.HashKey()).second) repeats = true;
    }
    if (repeats) continue;
    keptText += blocks[g] + "\n";
    keptFens.insert(keptFens.end(), positions[g].begin(), positions[g].end());
  }
  std::ofstream(kept, std::ios::binary) << keptText;
  const std::string said = gamesdb_test::Run(polyglot + " make-book -pgn \"" + kept + "\" -bin \"" +
                                             scratch.Path("kept.bin") + "\" -min-game 1 2>&1");
  RETURN_IF_OPPONENT_CRASHED();
  const auto weights = ScanPolyglotBook(scratch.Path("kept.bin"));
  ASSERT_GT(weights.size(), 100u) << said;

  GamesDatabase database;
  ASSERT_FALSE(database.Create(scratch.Path("big"), true, false));
  ASSERT_FALSE(database.ImportPgn(kept.c_str()));
  database.Close();
  BookQuelm book;
  ASSERT_FALSE(book.Create(scratch.Path("book").c_str()));
  ASSERT_FALSE(book.SetDatabase("big"));
  std::set<std::uint64_t> done;
  int compared = 0;
  for (std::size_t i = 0; i < keptFens.size() && compared < 200; i += 7) {
    GameBoard board;
    ASSERT_FALSE(board.SetFen(keptFens[i].c_str()));
    if (!done.insert(board.HashKey()).second) continue;
    ASSERT_FALSE(book.UpdateStats(board, 0));
    std::map<std::uint16_t, int> ours;
    BookPosition* position = book.GetBookPosition(board);
    ASSERT_NE(position, nullptr);
    for (int e = 0; e < position->Count; e++) {
      const BookEntry& entry = *position->Entries[e];
      const int weight = 2 * entry.GetDBWins() + entry.GetDBDraws();
      if (weight > 0) ours[PolyglotWord(*entry.GetMove())] = weight;
    }
    position->Release();
    std::map<std::uint16_t, int> theirs;
    const auto found = weights.find(BookPolyglot::ComputeKey(board));
    if (found != weights.end())
      for (const PolyglotFixtureEntry& entry : found->second) theirs[entry.Move] = entry.Weight;
    EXPECT_EQ(ours, theirs) << keptFens[i];
    compared++;
  }
  EXPECT_GT(compared, 100);
}

}  // namespace
