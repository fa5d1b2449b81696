// The engine-wide settings with their defaults.
#include "engine/settings.h"

#include <cstdio>

// Every scalar setting once, with its default, so that the definitions and
// ResetSettings cannot drift apart.
#define QUELM_SCALAR_SETTINGS(X) \
  X(int, MainHash, 10)           \
  X(int, Cpus, 1)                \
  X(int, SplitDepth, 12)         \
  X(int, MinSplit, 2)            \
  X(int, MaxSplit, 32)           \
  X(bool, GlueCores, false)      \
  X(bool, DoNullMove, true)      \
  X(int, NullBase, 12)           \
  X(int, NullProgress, 6)        \
  X(bool, UciOption, true)       \
  X(bool, DoIid, true)           \
  X(bool, Singular, true)        \
  X(int, SingExtension, 4)       \
  X(int, SingMargin, 100)        \
  X(int, ExtendLevel, 4)         \
  X(int, LmrPv, 0)               \
  X(int, LmrExtraPv, 4)          \
  X(int, LmrScout, 4)            \
  X(int, LmrExtraScout, 4)       \
  X(int, PruneLevel, 4)          \
  X(int, PruneSecure, 100)       \
  X(bool, PrunePv, false)        \
  X(int, TimeUse, 100)           \
  X(int, MinRemaining, 25)       \
  X(double, MinMovesMargin, 0.0) \
  X(double, MinMatMargin, 0.0)   \
  X(bool, EasyMove, true)        \
  X(bool, Learning, true)        \
  X(bool, SaveLearningOften, false) \
  X(int, KingSafety, 100)        \
  X(int, KingShield, 100)        \
  X(bool, Ponder, false)         \
  X(int, PostOutput, 1)          \
  X(bool, Logging, false)        \
  X(bool, PrioLow, false)        \
  X(int, IcsMode, 2)             \
  X(int, BookRandom, 2)          \
  X(bool, CtgBookSet, false)     \
  X(int, DefaultVariant, 0)      \
  X(bool, SzQsearch, false)      \
  X(int, SzDepth, 8)             \
  X(int, MultiPv, 1)

namespace Settings {

#define QUELM_DEFINE_SETTING(type, name, value) type name = value;
QUELM_SCALAR_SETTINGS(QUELM_DEFINE_SETTING)
#undef QUELM_DEFINE_SETTING

int PruneAlphaMargin[9] = {100, 100, 100, 100, 100, 100, 100, 100, 100};
int PruneBetaMargin[9] = {100, 100, 100, 100, 100, 100, 100, 100, 100};
std::string CtgBook;
// No drive letter on this system: without a configured path no tables.
char SyzygyPath[256] = "<empty>";

}  // namespace Settings

ConfiguredBookList ConfiguredBooks;

namespace SettingsHooks {
void (*MainHashChanged)() = nullptr;
void (*PruneMarginsChanged)() = nullptr;
void (*CpusChanged)() = nullptr;
}  // namespace SettingsHooks

namespace {

constexpr const char* DefaultSyzygyPath = "<empty>";
constexpr int DefaultMargin = 100;

}  // namespace

void ResetSettings() {
#define QUELM_RESET_SETTING(type, name, value) Settings::name = value;
  QUELM_SCALAR_SETTINGS(QUELM_RESET_SETTING)
#undef QUELM_RESET_SETTING
  for (int level = 0; level < 9; level++) {
    Settings::PruneAlphaMargin[level] = DefaultMargin;
    Settings::PruneBetaMargin[level] = DefaultMargin;
  }
  Settings::CtgBook.clear();
  std::snprintf(Settings::SyzygyPath, sizeof Settings::SyzygyPath, "%s", DefaultSyzygyPath);
  ConfiguredBooks = ConfiguredBookList();
}
