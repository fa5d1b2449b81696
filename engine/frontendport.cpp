// The part of the front-end port every dialogue shares: the log-only line and
// the hand-over of input that arrives while the engine searches.
#include "engine/frontendport.h"

#include "support/input.h"
#include "support/output.h"

FrontEnd* ActiveFrontEnd = nullptr;

void FrontEnd::Log(const char* text) { Printer.Print(ChannelLogOnly, true, "%s\n", text); }

int FrontEnd::DispatchInput() {
  const char* line = Input::ReadLine();
  if (!line) return 1;  // the GUI has gone: nothing can answer the search any more
  switch (Mode) {
    case ModeIdle:
      return HandleCommand(line);
    case ModeThinking:
    case ModeBusy:
      return HandleCommandThinking(line);
    case ModePondering:
      return HandleCommandPondering(line);
    case ModeAnalysing:
      return HandleCommandAnalysing(line);
    case ModeAfterAnalysis:
      return HandleCommandAfterAnalysis(line);
    default:
      // A ponder hit lasts only until the time check has seen it; a line read
      // in it has nobody to go to and is dropped.
      return 0;
  }
}
