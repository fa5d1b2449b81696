// The tests' view of an xboard dialogue: the forms of the lines an engine
// sends, the thinking line taken apart, and the opening of the dialogue with
// a program on pipes.
#pragma once

#include <cctype>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine_process.h"

struct ThinkingLine {
  int Depth = 0;
  char Marker = 0;
  long long Score = 0;
  long long Centiseconds = 0;
  long long Nodes = 0;
  std::vector<std::string> Pv;
};

// "depth[marker] score time nodes pv...", nothing for any other line.
inline std::optional<ThinkingLine> ParseThinkingLine(const std::string& line) {
  std::istringstream words(line);
  std::string depth;
  ThinkingLine parsed;
  if (!(words >> depth) || depth.empty()) return std::nullopt;
  std::size_t digits = 0;
  while (digits < depth.size() && std::isdigit(static_cast<unsigned char>(depth[digits]))) digits++;
  if (digits == 0 || depth.size() - digits > 1) return std::nullopt;
  parsed.Depth = std::atoi(depth.c_str());
  parsed.Marker = digits < depth.size() ? depth[digits] : ' ';
  if (!(words >> parsed.Score >> parsed.Centiseconds >> parsed.Nodes)) return std::nullopt;
  for (std::string move; words >> move;) parsed.Pv.push_back(move);
  return parsed;
}

inline bool StartsWith(const std::string& line, const char* prefix) { return line.rfind(prefix, 0) == 0; }

inline bool IsResultLine(const std::string& line) {
  return StartsWith(line, "1-0 {") || StartsWith(line, "0-1 {") || StartsWith(line, "1/2-1/2 {");
}

// A line in one of the forms the engine may send under xboard.
inline bool IsXboardLine(const std::string& line) {
  for (const char* form : {"# ", "feature ", "move ", "pong ", "Hint: ", "tellics ", "tellusererror ", "Score=",
                           "Error (", "Illegal move: "})
    if (StartsWith(line, form)) return true;
  return line.empty() || IsResultLine(line) || ParseThinkingLine(line).has_value();
}

// A line by which an engine says that it did not understand its partner.
inline bool IsProtocolError(const std::string& line) {
  return StartsWith(line, "Error") || StartsWith(line, "Illegal move") || StartsWith(line, "tellusererror");
}

// The move of a "move X" line, empty for any other line.
inline std::string MoveOfLine(const std::string& line) { return StartsWith(line, "move ") ? line.substr(5) : ""; }

// Sends "xboard" and "protover 2" and collects the lines up to "feature
// done=1"; empty when the program ended or fell silent first.
inline std::vector<std::string> OpenXboardDialogue(EngineProcess& engine) {
  engine.Send("xboard");
  engine.Send("protover 2");
  std::vector<std::string> lines;
  while (auto line = engine.ReadLine(20000)) {
    lines.push_back(*line);
    if (*line == "feature done=1") return lines;
  }
  return {};
}
