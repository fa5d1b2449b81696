// Syzygy tablebase probes as the search and the console use them: win/draw/
// loss of a position, distance to zeroing, and the root filter. A probe that
// fails knows nothing: callers must treat it as unknown, never as a draw.
#pragma once

#include <cstdint>

class ChessGame;
class Position;

// Reads the path (';' between directories) and registers every table of up
// to six men whose WDL file is on it, then prints "Found %d tablebases."; an
// empty path or "<empty>" leaves no tables. Main thread, no search running;
// a second call replaces the first one's tables.
void InitTablebases(const char* path);

// WDL for the side to move: -2 loss, -1 blessed loss, 0 draw, 1 cursed win,
// 2 win. success: 0 failure, 1 result, 2 the result comes from a capture.
// Any search thread may call it on its own game.
int ProbeWdl(ChessGame& game, int* success);
// Distance to the next zeroing move in plies, signed like WDL; success as
// for ProbeWdl. Main thread only.
int ProbeDtz(ChessGame& game, int* success);
// The ordering score RootProbe gives a root move that does not keep the best
// result (or is illegal); no distance to zeroing comes near it.
inline constexpr std::uint32_t RootMoveDropped = 0x80000000u;

// Scores the game's moves by their distance to zeroing and marks with
// RootMoveDropped those that do not keep the best result; the root search
// takes the marked moves out (ProbeRootMoves). True on success (no move is
// marked on failure). Main thread only.
bool RootProbe(ChessGame& game);

// The steps of the probes, exposed for tests and the console. The position
// is the same afterwards as before.
int ProbeWdlTable(Position& pos, int* success);
int ProbeDtzTable(Position& pos, int wdl, int* success);
int ProbeAb(Position& pos, int alpha, int beta, int* success);
int ProbeWdl(Position& pos, int* success);
int ProbeDtz(Position& pos, int* success);
