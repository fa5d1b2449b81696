// The search's shared words: one home for each.
#include "engine/searchstate.h"

Move BestMove = 0;
Move PonderMove = 0;
Move SearchPonderMove = 0;
std::atomic<bool> StopSearch{false};
std::atomic<bool> OnlyOneMove{false};
int IterationScores[128] = {};
bool RootSearchInterrupted = false;
