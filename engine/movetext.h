// Move text: a move written in coordinate form, and the move of a list that
// a coordinate or SAN text names, with the Chess960 castling forms. The
// castling rules come from the position the move belongs to.
#pragma once

#include "engine/move.h"
#include "engine/movegen.h"
#include "engine/position.h"

// Coordinate text of a move of pos ("e2e4", "e7e8q", "null"); Chess960
// castling is the king taking its own rook under UCI, else "O-O"/"O-O-O".
// The text lives in the next of 32 buffers of the calling thread, used in
// rotation, so up to 32 results stay valid at once.
const char* MoveToText(const Position& pos, const Move& move);

// Castling words, or four characters: file, digit 0..8, file, digit 0..8.
bool IsMoveText(const char* text);

// The squares a coordinate text names; a king taking its own castling rook,
// and the castling words, become the king's castling move. Squares outside
// the board come back as -1.
void ParseCoordinateSquares(const Position& pos, const char* text, int& from, int& to, bool& castling);

// The index of the move the coordinate text names, -1 when none; the list's
// cursor ends after the move found.
int FindCoordinateMove(MoveList& list, const Position& pos, const char* text);

bool MatchCoordinateMove(const Position& pos, const char* text, const Move& move);

// The index of the legal move a SAN text names, -1 when none.
int ParseSanMove(MoveList& list, Position& pos, const char* text);
