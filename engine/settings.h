// The engine-wide settings, each named after its configuration keyword. They
// are written on the main thread while no search runs (start-up, command
// handlers) and read by the search threads without a lock. The configuration
// file that sets them is read in frontend/inifile.
#pragma once

#include <string>
#include <vector>

namespace Settings {

inline constexpr int MaxHashMb = sizeof(void*) == 4 ? 1024 : 65536;

// Upper bounds of the search settings that once had none. The node search
// adds and multiplies them: a value near the top of int overflowed it. The
// reductions keep the maxima the UCI greeting announces, for the
// configuration file too. The other two stop where a larger value would
// change nothing: the extension level at 16, where every extension already
// reaches the cap of one ply, and the null-move base (quarter plies) far
// beyond any depth the search reaches, where no null move is tried.
inline constexpr int MaxNullBase = 4096;
inline constexpr int MaxLmrPv = 12;
inline constexpr int MaxLmrExtraPv = 12;
inline constexpr int MaxLmrScout = 20;
inline constexpr int MaxLmrExtraScout = 12;
inline constexpr int MaxExtendLevel = 16;

extern int MainHash;  // MB
extern int Cpus;
extern int SplitDepth;
extern int MinSplit;
extern int MaxSplit;
extern bool GlueCores;
extern bool DoNullMove;
extern int NullBase;  // quarter plies
extern int NullProgress;
extern bool UciOption;
extern bool DoIid;
extern bool Singular;
extern int SingExtension;  // quarter plies
extern int SingMargin;     // percent
extern int ExtendLevel;
extern int LmrPv;  // quarter plies
extern int LmrExtraPv;
extern int LmrScout;
extern int LmrExtraScout;
extern int PruneLevel;
extern int PruneSecure;           // percent
extern bool PrunePv;
extern int PruneAlphaMargin[9];   // percent, levels 1..8
extern int PruneBetaMargin[9];    // percent, levels 1..8
extern int TimeUse;               // percent
extern int MinRemaining;          // moves
extern double MinMovesMargin;
extern double MinMatMargin;
extern bool EasyMove;
extern bool Learning;
extern bool SaveLearningOften;
extern int KingSafety;  // percent
extern int KingShield;  // percent
extern bool Ponder;
extern int PostOutput;
extern bool Logging;
extern bool PrioLow;
extern int IcsMode;  // 0 off, 1 on (active), 2 smart
extern int BookRandom;
extern std::string CtgBook;  // the ".ctg" file, whole
extern bool CtgBookSet;
extern int DefaultVariant;  // 0 normal chess, 1 Chess960
extern char SyzygyPath[256];
extern bool SzQsearch;
extern int SzDepth;  // quarter plies
extern int MultiPv;

}  // namespace Settings

// The opening books named in the configuration file, opened at start-up.
// Names are kept whole: a path cut short would open some other file.
struct ConfiguredBookList {
  static constexpr int MaxBooks = 16;
  std::string Names[MaxBooks];
  int Kinds[MaxBooks] = {};  // 1 own format, 4 CTG, 5 Polyglot, 7 remote
  int Count = 0;
  // Rows past the sixteenth, kept only so that start-up can say they were
  // not opened.
  std::vector<std::string> Dropped;
};
extern ConfiguredBookList ConfiguredBooks;

// Work a setting's change triggers in parts of the engine that are built on
// top of the settings: the transposition table reallocates on "mainhash", the
// evaluation weights are rescaled on the pruning margins, the worker pool
// grows or shrinks on "cpus". Null = nothing to do.
namespace SettingsHooks {
extern void (*MainHashChanged)();
extern void (*PruneMarginsChanged)();
extern void (*CpusChanged)();
}  // namespace SettingsHooks

// Puts every setting, the configured books and the CTG book back to their
// built-in defaults (start of a run, tests). Calls no hook.
void ResetSettings();
