// The book list while no book kind can be opened: no book, no move.
#include "books/booklist.h"

Move GetBookMove(ChessGame&) { return 0; }
