// Time allocation before a search and the time check during it: the budget
// from the clock, the expected length of the game and the material left; the
// extensions of a search that is still unsure; status output; input polling.
#include "engine/timeman.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/frontendport.h"
#include "engine/game.h"
#include "engine/movetext.h"
#include "engine/searchstate.h"
#include "engine/settings.h"
#include "engine/smp.h"
#include "support/input.h"
#include "support/output.h"

namespace ClockSettings {
std::int32_t MovesToGo;
std::int32_t BaseSeconds;
std::int32_t IncrementMs;
std::int32_t FixedDepth;
std::int32_t Unused;
std::int32_t TimeLeftMs;
std::int32_t OpponentTimeMs;
std::int32_t MovesToGoReceived;

void Reset() {
  MovesToGo = 0;
  BaseSeconds = 5;
  IncrementMs = 3000;
  FixedDepth = 0;
  Unused = 0;
  TimeLeftMs = 5000;
}

[[maybe_unused]] const bool Defaults = [] {
  Reset();
  return true;
}();
}  // namespace ClockSettings

namespace TimeLimits {
std::int64_t Start;
std::int64_t EasyTime;
std::int64_t MinTime;
std::int64_t MaxTime;
std::int32_t MaxDepth = MaxSearchDepth;
std::int64_t IterationEnd;
bool IterationUnfinished;
bool NewBestPending;
bool ScoreDropped;
bool EasyFound;
std::int32_t ExtensionCount;
std::int32_t FailHighCount;
std::int64_t NextStatusTime;
}  // namespace TimeLimits

Clock SearchClock;
std::int32_t MovesToPlay;

namespace {

[[maybe_unused]] const bool SearchClockStarted = [] {
  SearchClock.Start();
  SearchClock.LastElapsed = 0;
  return true;
}();

// The expected moves still to play. Only some entries were given; the rest
// are filled by straight lines between them (a flat stretch where two
// neighbours are equal), and everything after the last one is 0.
struct Anchor {
  int Index;
  double Value;
};

template <std::size_t Size, std::size_t Count>
constexpr std::array<double, Size> Interpolate(const Anchor (&anchors)[Count]) {
  std::array<double, Size> table{};
  for (std::size_t a = 0; a + 1 < Count; a++) {
    const Anchor low = anchors[a], high = anchors[a + 1];
    for (int i = low.Index; i < high.Index; i++)
      table[i] = low.Value + (high.Value - low.Value) * (i - low.Index) / (high.Index - low.Index);
  }
  table[anchors[Count - 1].Index] = anchors[Count - 1].Value;
  return table;
}

// By game ply (0..1023).
constexpr Anchor PlyAnchors[] = {{0, 135.24},  {10, 125.34}, {20, 115.43}, {40, 96.38},  {60, 80.18},
                                 {80, 68.17},  {100, 60.45}, {150, 58.12}, {300, 58.12}, {400, 53.39},
                                 {500, 51.86}, {600, 61.9},  {700, 31.0},  {749, 1.0}};
constexpr std::array<double, 1024> ExpectedByPly = Interpolate<1024>(PlyAnchors);

// By material index 3 x minors + 5 x (rooks + 2 x queens) + pawns (0..127).
constexpr Anchor MaterialAnchors[] = {{0, 24.88},  {3, 32.62},  {7, 44.84},  {9, 49.47},
                                      {11, 57.51}, {20, 64.08}, {30, 67.77}, {40, 70.76},
                                      {60, 77.85}, {70, 98.5},  {80, 129.24}, {89, 80.0}};
constexpr std::array<double, 128> ExpectedByMaterial = Interpolate<128>(MaterialAnchors);

// The budget right after a book move and after each further miss, in 1/128.
constexpr int BookMissFactor[8] = {512, 320, 224, 176, 152, 140, 134, 131};

int TimeMaterialIndex(const Position& position) {
  auto both = [&](int kind) { return position.CountOf(PieceCode(White, kind)) + position.CountOf(PieceCode(Black, kind)); };
  const int index = 3 * (both(Knight) + both(Bishop)) + 5 * (both(Rook) + 2 * both(Queen)) + both(Pawn);
  return std::min(index, 127);
}

std::int64_t Floor(double value) { return static_cast<std::int64_t>(std::floor(value)); }

// Clock::Format takes 32 bits; anything beyond shows as the "no time" text.
const char* FormatMs(std::int64_t ms) {
  return SearchClock.Format(static_cast<std::int32_t>(std::clamp<std::int64_t>(ms, 0, 0x7fffffff)));
}

void Stop() {
  TimeLimits::NextStatusTime = 0;
  Printer.Print(ChannelLogOnly, true, "Aborting search\n");
  StopSearch.store(true, std::memory_order_relaxed);
}

// True when the search may go on past its maximum time: a root move is
// still unresolved and this kind of reason has not been used up.
bool MayExtend() {
  using namespace TimeLimits;
  return (IterationUnfinished && ExtensionCount < 1) || (ScoreDropped && ExtensionCount < 2) ||
         (NewBestPending && ExtensionCount < 3);
}

// False when the extension did not help (the new maximum has passed too).
bool ExtendMaxTime(std::int64_t elapsed) {
  using namespace TimeLimits;
  const std::int64_t remaining = ClockSettings::TimeLeftMs - 6500 + (Start - elapsed);
  std::int64_t add = Floor(0.6 * static_cast<double>(MaxTime));
  if (4 * add > remaining) add = remaining / 4;
  ExtensionCount++;
  MaxTime += add;
  if (ActiveFrontEnd && ActiveFrontEnd->Kind == ProtocolUci) {
    char text[128];
    std::snprintf(text, sizeof text, "Time Added (%d): %s, new max %s", ExtensionCount, FormatMs(add),
                  FormatMs(std::max<std::int64_t>(MaxTime - Start, 0)));
    ActiveFrontEnd->Info(text);
  }
  return SearchClock.Elapsed() < MaxTime;
}

void SendStatus(ChessGame& game, Worker& worker, int ply, std::int64_t elapsed) {
  const int ms = static_cast<int>(std::min<std::int64_t>(elapsed, 0x7fffffff));
  ActiveFrontEnd->SendStatus(ms);
  if (!ActiveFrontEnd->SendCurrentLine(1, ms)) return;
  char line[MaxPly * 8 + 2];
  int length = 0;
  for (int p = 0; p < ply && p < MaxPly; p++)
    length += std::snprintf(line + length, sizeof line - length, " %s", MoveToText(game, worker.Record(p).CurrentMove));
  Printer.Print(ChannelStdout, true, "%s\n", line);
}

// After a ponder hit: true when the search should go on with its new limits.
bool ContinueAfterPonderHit(std::int64_t elapsed) {
  using namespace TimeLimits;
  if (OnlyOneMove.load(std::memory_order_relaxed)) return false;
  if (FailHighCount != 0 && elapsed < (3 * MaxTime - MinTime) / 4) return true;
  return (IterationEnd <= MinTime || ScoreDropped || NewBestPending) && !EasyFound;
}

}  // namespace

double ExpectedMovesByPly(int ply) { return ExpectedByPly[std::clamp(ply, 0, 1023)]; }
double ExpectedMovesByMaterial(int materialIndex) { return ExpectedByMaterial[std::clamp(materialIndex, 0, 127)]; }

void AllocateTime(const ChessGame& game, int mode) {
  using namespace TimeLimits;
  const std::int64_t increment = ClockSettings::IncrementMs;
  const double usage = Settings::TimeUse;
  FailHighCount = 0;
  std::int64_t available = std::max<std::int64_t>(std::int64_t{ClockSettings::TimeLeftMs} - increment - 2000, 10);
  std::int64_t budget;

  if (ClockSettings::FixedDepth > 0) {
    MaxDepth = std::min(ClockSettings::FixedDepth, MaxSearchDepth);
    budget = 3600000;
    available = 9999999;
    MovesToPlay = 1;
  } else {
    MaxDepth = MaxSearchDepth;
    if (ClockSettings::MovesToGo < 1) {
      const double m = Settings::MinRemaining;
      const double m2 = 2 * m;
      const double byPly = ExpectedMovesByPly(std::min(game.GamePly, 1023));
      const double a = m2 + (byPly <= m2 ? 4 * m : 2 * byPly);
      const double c = std::max(m2, ExpectedMovesByMaterial(TimeMaterialIndex(game)));
      // A game beyond every table entry with no reserve setting would divide by 0.
      MovesToPlay = static_cast<std::int32_t>(std::max<std::int64_t>(Floor((a + c) * 0.125 + 0.5), 1));
      budget = available / MovesToPlay;
      if (increment < available) budget += increment;
    } else {
      const int n = ClockSettings::MovesToGo;
      MovesToPlay = n - (game.GamePly / 2) % n;
      budget = available / MovesToPlay + (3 * increment) / 4;
    }
    const int misses = ActiveFrontEnd ? ActiveFrontEnd->BookMisses : 8;
    if (misses >= 0 && misses < 8) budget = BookMissFactor[misses] * budget / 128;
  }

  if (Settings::Ponder) budget = budget + budget / 2 + increment / 2;
  if (available - budget < 10000) budget = budget <= 2000 ? budget / 2 : budget - 1000;

  ExtensionCount = 0;
  NewBestPending = false;
  ScoreDropped = false;

  // Shrink the budget until the clock keeps a reserve for the moves to come.
  std::int64_t minimum = Floor(budget * 0.006175 * usage);
  std::int64_t slack = std::min<std::int64_t>(increment - minimum - 900, 0);
  std::int64_t extra = Floor(budget * 0.06091875 * usage);
  std::int64_t need = extra + (MovesToPlay / 2) * (100 - slack);
  while (available < need && budget > 5) {
    const std::int64_t k = (need - available) / MovesToPlay;
    budget = std::max<std::int64_t>(budget - 1 - std::min(k, budget / 16), 5);
    minimum = Floor(budget * 0.006175 * usage);
    slack = std::min<std::int64_t>(increment - minimum + 100, 0);
    extra = Floor(budget * 0.06091875 * usage);
    need = extra + std::int64_t{MovesToPlay - 1} * (100 - slack);
  }

  std::int64_t minTime = minimum;
  std::int64_t maxTime = Floor(budget * 0.027075 * usage);
  if (ClockSettings::MovesToGo < 0) {
    minTime = maxTime = std::int64_t{ClockSettings::BaseSeconds} * 1000;
    MaxDepth = MaxSearchDepth;
    MovesToPlay = 1;
    ExtensionCount = 10;  // a fixed time per move is never extended
  }
  const std::int64_t easy = std::min<std::int64_t>(Floor(budget * 0.001235 * usage), 2000);

  switch (mode) {
    case AllocateOwnMove:
    case AllocatePonder:
    case AllocateOwnMoveAgain:
      SearchClock.Start();
      SearchClock.LastElapsed = 0;
      Start = 0;
      MinTime = mode == AllocatePonder ? NoTimeLimit : minTime;
      MaxTime = mode == AllocatePonder ? NoTimeLimit : maxTime;
      EasyTime = easy;
      IterationEnd = 0;
      EasyFound = false;
      break;
    case AllocatePonderHit:
      // The clock runs on: the time spent pondering counts for this move.
      Start = SearchClock.Elapsed();
      EasyTime = easy;
      MinTime = minimum;
      MaxTime = maxTime;
      if (minimum < IterationEnd && IterationUnfinished) {
        MaxTime = IterationEnd;
        NewBestPending = false;
      }
      break;
    default:
      SearchClock.Start();
      SearchClock.LastElapsed = 0;
      Start = 0;
      EasyTime = MinTime = MaxTime = NoTimeLimit;
      MaxDepth = MaxSearchDepth;
      IterationEnd = 0;
      EasyFound = false;
      break;
  }
}

void CheckTime(ChessGame& game, Worker& worker, int ply) {
  using namespace TimeLimits;
  const std::int64_t elapsed = SearchClock.Elapsed();
  if (elapsed >= MaxTime) {
    if (!MayExtend() || !ExtendMaxTime(elapsed)) {
      Stop();
      return;
    }
  }
  // Without a front end there is nobody to show the status or hand input to.
  if (!ActiveFrontEnd) return;
  if (elapsed > NextStatusTime) {
    NextStatusTime = elapsed + 2000;
    SendStatus(game, worker, ply, elapsed);
  }
  if (!Input::IsAvailable()) return;
  if (ActiveFrontEnd->DispatchInput() != 0) {
    Stop();
    return;
  }
  if (ActiveFrontEnd->Mode != ModePonderHit) return;
  ActiveFrontEnd->Mode = ModeThinking;
  if (!ContinueAfterPonderHit(elapsed)) Stop();
}

const char* TimeManagementReport() {
  using namespace TimeLimits;
  static char text[256];
  std::snprintf(text, sizeof text, "Time Management: Time Left %s, Moves to play %d, start %s, min %s, max %s, easy %s, depth %d",
                FormatMs(ClockSettings::TimeLeftMs), MovesToPlay, FormatMs(Start),
                FormatMs(std::max<std::int64_t>(MinTime - Start, 0)), FormatMs(std::max<std::int64_t>(MaxTime - Start, 0)),
                FormatMs(std::max<std::int64_t>(EasyTime - Start, 0)), MaxDepth);
  return text;
}
