// The words of a protocol command line, as the UCI and xboard dialogues split
// them: at blanks, tabs and line ends.
#pragma once

#include <cstddef>
#include <string>

class Tokens {
public:
  explicit Tokens(const char* line) : Line(line ? line : "") {}

  // The next word, or null at the end of the line.
  const char* Next() {
    while (Line[Place] && IsBlank(Line[Place])) Place++;
    if (!Line[Place]) return nullptr;
    std::size_t start = Place;
    while (Line[Place] && !IsBlank(Line[Place])) Place++;
    Word.assign(Line + start, Place - start);
    LastEnd = Place;
    return Word.c_str();
  }
  // The raw text after the one character that ended the last word.
  const char* RestOfLine() const { return Line[LastEnd] ? Line + LastEnd + 1 : Line + LastEnd; }
  // What follows the last word, without the blanks before it and the line end.
  std::string Rest() const {
    std::size_t from = Place;
    while (Line[from] && IsBlank(Line[from])) from++;
    std::string rest = Line + from;
    while (!rest.empty() && IsBlank(rest.back())) rest.pop_back();
    return rest;
  }

private:
  static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

  const char* Line;
  std::size_t Place = 0;
  std::size_t LastEnd = 0;
  std::string Word;
};
