// The CTG book reader that the search driver consults through the "ctgbook"
// setting: one global reader whose file name is set before each look-up.
#pragma once

class CTGReader {
public:
  // 0 when the position (a FEN) is not in the book, text then "a1a1\n";
  // 1 with the chosen move as coordinate text ("a8h7" for no move).
  int GetMove(const char* fen, char* text);

  char Name[81] = "book";  // the .ctg file; callers copy at most 70 characters
};

extern CTGReader GlobalCTGReader;
