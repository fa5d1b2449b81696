// The razoring margins of the node search, rebuilt from the pruning settings,
// and the switch that lets the search probe tablebases inside the tree. The
// evaluation's own weights are constants beside the terms that read them.
#pragma once

#include <atomic>
#include <cstdint>

// Name and version of the evaluation's weight set, shown in the banner.
inline constexpr char EvalParamVersion[] = "evalparam.20180601163024";

// [phase of the side not to move 0..8][depth level in plies 1..8], in
// milli-pawns; column 0 stays 0.
extern std::int32_t AlphaMargin[9][9];

// Tablebase probes inside the search tree (node, split point, quiescence).
extern std::atomic<bool> SyzygyProbing;

// Rebuilds AlphaMargin from Settings::PruneSecure and
// Settings::PruneAlphaMargin and turns SyzygyProbing on. Runs at start-up and
// whenever a pruning margin setting changes.
void ScaleEvalWeights();
