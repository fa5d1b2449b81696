// The engine's own opening-book format. Only the offer of a finished game to
// the open books is here so far; the book itself is still to come.
#pragma once

#include "books/book.h"

class BookQuelm : public Book {
public:
  // Offers a finished game to every open book: 0 when some book stored it,
  // 1 otherwise (no moves, no result, a move that cannot be played, or no
  // book that took it). result: 1 White wins, 2 Black wins, 3 draw. Reports
  // to the log only. It works on the book list, not on one book.
  static int Addgame(int computerIsBlack, int result, const char* startFen, const char* moves);
};
