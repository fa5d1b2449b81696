// King and pawn against king, solved exactly at start-up: the recognisers'
// quick rules for this ending call some won positions drawn, and this
// table tells them which.
#pragma once

class Position;

// Solves the ending once; later calls return at once. Needs no other table.
void InitKingPawnKing();

// True when the side with the lone pawn (`strong`) wins the position, which
// must hold only the two kings and that pawn.
bool KingPawnKingWins(const Position& position, int strong);
