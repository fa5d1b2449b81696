// The mate and tactics positions that every search configuration must solve:
// one thread or several, the same mate scores and the same winning moves.
#pragma once

struct MateCase {
  const char* Fen;
  int Plies;  // the mate is delivered on this ply
  const char* FirstMove;
};

// Mates in 1, 2 and 3 (checked with an independent engine).
constexpr MateCase MateCases[] = {
    {"6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1", 1, "a1a8"},
    {"rnbqkbnr/ppppp2p/5p2/6p1/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 3", 1, "d1h5"},
    {"r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq - 1 1", 3, "d5f6"},
    {"r1b1kb1r/pppp1ppp/5q2/4n3/3KP3/2N3PN/PPP4P/R1BQ1B1R b kq - 0 1", 5, "f8c5"},
};

struct TacticCase {
  const char* Fen;
  int Depth;
  const char* Expected;
  const char* Theme;
  // The move saves a lost game by a draw that lies inside the search's
  // horizon, so its score is the draw's, whatever the threads do.
  bool ProvenDraw = false;
};

constexpr TacticCase TacticCases[] = {
    {"4k3/8/8/3q4/8/2N5/8/4K3 w - - 0 1", 4, "c3d5", "winning capture"},
    {"3q3k/8/8/4N3/8/8/8/6K1 w - - 0 1", 5, "e5f7", "knight fork"},
    {"1r4k1/P7/8/8/8/8/6PP/6K1 w - - 0 1", 5, "a7b8q", "promotion by capture"},
    // Only Rb1+ draws (the tablebase agrees): the rook checks along the
    // b-file until taking it stalemates, while Rh6+ loses. Below depth 8
    // both are judged at the horizon, a few centipawns apart. One thread
    // finds the stalemate from depth 8 on; several share the tree in
    // another order and may miss it up to depth 9 (about one search in a
    // hundred), so the case searches well beyond that: Rb1 scores 0 and
    // Rh6+ stays a rook down.
    {"k7/2Q5/1K6/8/8/8/8/7r b - - 0 1", 12, "h1b1", "desperado rook against stalemate", true},
    {"r1bqkbnr/pppp1ppp/2n5/4p3/2B1P3/5Q2/PPPP1PPP/RNB1K1NR w KQkq - 2 3", 3, "f3f7", "scholar's mate"},
};
