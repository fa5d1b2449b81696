// Helpers of the games-database tests: where the real PGN files and
// pgn-extract live, PGN files built from them in a scratch directory, and
// running pgn-extract to list the games that reach a position.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <iterator>
#include <string>
#include <vector>

#include "games/gamesdb.h"
#include "other_program.h"
#include "record_helpers.h"
#include "shared_data.h"

namespace gamesdb_test {

namespace fs = std::filesystem;

// A file or program the test needs: skip where absent, fail under CI.
#define REQUIRE_DB_PATH(path, what)                                                \
  if ((path).empty() || !fs::exists(path)) {                                       \
    if (RunningUnderCi()) FAIL() << what << " missing: " << (path);                \
    GTEST_SKIP() << what << " not found" << ((path).empty() ? "" : ": ") << (path); \
  }

inline std::string PgnExtractProgram() {
  for (const char* candidate : {"/usr/bin/pgn-extract", "/usr/games/pgn-extract"})
    if (fs::exists(candidate)) return candidate;
  return "";
}

inline std::string EcoPgn() { return "/usr/share/pgn-extract/eco.pgn"; }

// Where .ci/run unpacks pychess; QUELM_PYCHESS names another unpacked root.
inline std::vector<fs::path> PychessPgnFiles() {
  const char* root = std::getenv("QUELM_PYCHESS");
  std::vector<fs::path> files;
  for (fs::path base : {fs::path(root && *root ? root : "/tmp/pychess-root"), fs::path("/")}) {
    fs::path learn = base / "usr/share/pychess/learn";
    if (!fs::exists(learn / "lessons")) continue;
    for (const char* folder : {"lessons", "puzzles"}) {
      std::error_code error;
      for (const auto& entry : fs::directory_iterator(learn / folder, error))
        if (entry.path().extension() == ".pgn") files.push_back(entry.path());
    }
    break;
  }
  std::sort(files.begin(), files.end());
  return files;
}

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The files one after the other, times over, each ending with a blank line.
inline void WriteJoined(const std::string& target, const std::vector<fs::path>& files, int times) {
  std::string once;
  for (const fs::path& file : files) {
    once += ReadText(file);
    once += "\n\n";
  }
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  for (int i = 0; i < times; i++) out << once;
}

// The output of a command that runs another program (see other_program.h:
// check for a skip after it).
inline std::string Run(const std::string& command) { return RunOtherProgram(command); }

inline std::string TagValue(const TagList& tags, int id) {
  const GameTag* tag = tags.Find(id);
  return tag ? tag->ToString() : "";
}

// A sink that keeps errors and warnings apart.
class CountingSink : public GameSink {
public:
  void Write(const char* text) override { Text += text; }
  void Report(bool warning, int messageId, int line, const char* text) override {
    (warning ? Warnings : Errors).push_back(messageId);
    Lines.push_back(line);
    Text += text;
  }
  std::string Text;
  std::vector<int> Errors, Warnings, Lines;
};

// A game of SAN moves between two players.
inline std::unique_ptr<Game> MakeGame(const std::string& moves, const char* white = "Alpha", const char* black = "Beta") {
  auto game = std::make_unique<Game>();
  EXPECT_FALSE(game->Reset());
  GameTag tag;
  tag.Parse(TagWhite, white);
  game->Tags.Set(tag);
  tag.Parse(TagBlack, black);
  game->Tags.Set(tag);
  std::istringstream tokens(moves);
  std::string move;
  while (tokens >> move) EXPECT_FALSE(game->AddMoveText(move.c_str())) << move;
  game->Rewind();
  return game;
}

// PGN text of n games of three moves, each a different line; game i (from
// 0) has its moves on line 4 i + 3, and game bad an illegal third move.
inline std::string ShortGames(int n, int bad = -1) {
  static const char* const firsts[] = {"a3", "a4", "b3", "b4", "c3", "c4", "d3", "d4", "e3", "e4",
                                       "f3", "f4", "g3", "g4", "h3", "h4", "Na3", "Nc3", "Nf3", "Nh3"};
  static const char* const replies[] = {"a6", "a5", "b6", "b5", "c6", "c5", "d6", "d5", "e6", "e5"};
  std::string text;
  for (int i = 0; i < n; i++) {
    const char* first = firsts[i % 20];
    const char* third = i == bad ? "Ke5" : first[0] == 'N' ? "e4" : first[0] == 'f' ? "Nc3" : "Nf3";
    text += "[Event \"g" + std::to_string(i + 1) + "\"]\n\n1. " + first + " " + replies[i / 20 % 10] + " 2. " + third +
            " *\n\n";
  }
  return text;
}

}  // namespace gamesdb_test
