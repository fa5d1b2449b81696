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
#include <iterator>
#include <string>
#include <vector>

#include "games/gamesdb.h"
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

// The output of a command.
inline std::string Run(const std::string& command) {
  std::string output;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
  pclose(pipe);
  return output;
}

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

}  // namespace gamesdb_test
