// The program's entry: key tables, NUMA, the engine's tables, the choice of
// the dialogue, start-up, the dialogue itself and the teardown.
#include <cstdio>

#include "books/booklist.h"
#include "engine/attacks.h"
#include "engine/eval.h"
#include "engine/evalweights.h"
#include "engine/frontendport.h"
#include "engine/material.h"
#include "engine/settings.h"
#include "engine/tt.h"
#include "engine/zobrist.h"
#include "frontend/console.h"
#include "frontend/startup.h"
#include "frontend/uci.h"
#include "frontend/xboard.h"
#include "games/gameboard.h"
#include "support/input.h"
#include "support/platform.h"

namespace {

void InitEngineTables() {
  InitAttackTables();
  InitEval();
  MaterialTable::Build();
  InitGameBoardTables();
  if (InitialiseNetwork()) std::fprintf(stderr, "Could not start the network layer\n");
  InitDistanceTable();
  TranspositionTable::Allocate(Settings::MainHash);
  SyzygyEnabled = true;
  ScaleEvalWeights();
  // The second run builds the king-in-the-square table on real distances and
  // hooks the pruning settings to the weights; the table's own initialiser
  // hooks "mainhash".
  if (InitEval()) std::fprintf(stderr, "Could not allocate the pawn hash table\n");
}

}  // namespace

int main(int argc, char** argv) {
  InitZobristKeys();
  DiscoverNuma();
  InitEngineTables();
  SetConfigBaseName(argc, argv);

  // On a pipe the GUI's first line names the dialogue and is not seen by it;
  // a person at a terminal always gets the console.
  FrontEndChoice choice = FrontEndChoice::Console;
  if (Input::IsPipe()) {
    char firstLine[32];
    if (!Input::ReadFirstLine(firstLine, sizeof firstLine)) return 1;
    choice = ChooseFrontEnd(firstLine);
  }
  switch (choice) {
    case FrontEndChoice::Uci: ActiveFrontEnd = new UciFrontEnd; break;
    case FrontEndChoice::Xboard: ActiveFrontEnd = new XboardFrontEnd; break;
    case FrontEndChoice::Console: ActiveFrontEnd = new ConsoleFrontEnd; break;
  }

  LoadConfiguration(ConfigBaseName);
  if (Settings::IcsMode == 1) ActiveFrontEnd->IcsFlag = 1;
  ActiveFrontEnd->Run();

  CloseConfiguration();
  delete ActiveFrontEnd;
  ActiveFrontEnd = nullptr;
  return 0;
}
