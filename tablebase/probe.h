// Syzygy tablebase probes as the search uses them: win/draw/loss of a
// position, distance to zeroing, and the root filter. Until tables are
// registered every probe fails, and callers act as if no table existed.
#pragma once

class ChessGame;

// The largest number of men among the registered tables; 0 when none.
extern int TbMaxMen;

// WDL for the side to move: -2 loss, -1 blessed loss, 0 draw, 1 cursed win,
// 2 win. success: 0 failure, 1 result, 2 the result comes from a capture.
int ProbeWdl(ChessGame& game, int* success);
// Distance to the next zeroing move in plies, signed like WDL.
int ProbeDtz(ChessGame& game, int* success);
// Keeps in the game's move list only the moves that keep the best result;
// true on success (the list is untouched on failure).
bool RootProbe(ChessGame& game);
