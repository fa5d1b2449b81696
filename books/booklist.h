// The one door between the books and the rest of the engine: the search
// driver and the front ends reach every opening book through these calls
// alone, with nothing but the engine's own game and move types.
#pragma once

#include <memory>
#include <vector>

#include "engine/move.h"
#include "games/gamemove.h"

class Book;
class ChessGame;
class Position;

// The open books, in configuration order; the list owns them. At most
// MaxOpenBooks; filled at start-up (and by the console's "book" command),
// emptied by CloseBooks.
inline constexpr int MaxOpenBooks = 16;
extern std::vector<std::unique_ptr<Book>> OpenBooks;

// Start-up, once, before any book is made: the network layer the remote
// books use. True on failure.
bool InitialiseNetwork();

// Adds a row to the configured books (the console's "book" command); a full
// table ignores the call.
void AddBook(const char* name, int kind);
// The console's "book NAME": adds the row, opens the own-format book NAME
// writable and lists it, telling standard output how it went. True when it
// could not be opened.
bool OpenOwnBookCommand(const char* name);
// Lists an opened book; a full list deletes it. False when it was listed.
bool ListOpenBook(std::unique_ptr<Book> book);

// Start-up, after the learning file and before the tablebases: makes and
// opens the configured books, telling the front end what came of each.
void OpenConfiguredBooks();

// The book move for the game's position: the CTG book named by "ctgbook"
// first, then the open books; checked for legality and announced through the
// front end. NoMove when no book has one.
Move FindBookMove(ChessGame& game);

// A legal, non-repeating move for the game's position from the first open
// book that has one; NoMove when none does. Says nothing.
Move GetBookMove(ChessGame& game);

// A game is over: the books may learn from it. computerIsBlack tells which
// side the engine played; a game without a result is not offered.
void OfferGameToBooks(ChessGame& game, int computerIsBlack);

// Teardown, before the log closes: every open book is closed and freed.
void CloseBooks();

// The one conversion between the book side's moves and the engine's. Book
// side castling is the king onto its corner (h1h1, a1a1, h8h8, a8a8); the
// engine's is the king's move to the g- or c-file with MoveCastle.
// The engine's move of pos that move names, with the flags the engine's
// generator gives it; NoMove when pos has no such move.
Move EngineMoveOf(const Position& pos, const GameMove& move);
// The book side's move of an engine move (squares and promotion only);
// invalid for NoMove and the null move.
GameMove GameMoveOf(Move move);
