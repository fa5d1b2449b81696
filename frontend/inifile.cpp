// The configuration file reader and the console's settings report.
#include "frontend/inifile.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Copies at most maxLength characters and always terminates; destination
// holds maxLength + 1 bytes.
void CopyBounded(char* destination, const char* source, std::size_t length, std::size_t maxLength) {
  if (length > maxLength) length = maxLength;
  std::memcpy(destination, source, length);
  destination[length] = '\0';
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

const char* SkipBlanks(const char* text) {
  while (IsBlank(*text)) text++;
  return text;
}

// One decimal number after optional blanks, as a "%d" scan would read it. A
// value beyond int saturates instead of wrapping, so that it clamps sanely.
bool ReadNumber(const char*& text, int& value) {
  const char* start = SkipBlanks(text);
  char* end = nullptr;
  long number = std::strtol(start, &end, 10);
  if (end == start) return false;
  if (number > INT_MAX) number = INT_MAX;
  if (number < INT_MIN) number = INT_MIN;
  value = static_cast<int>(number);
  text = end;
  return true;
}

// The value part of "<keyword> %d": false when no number follows.
bool ReadValue(const char* line, const char* keyword, int& value) {
  const char* text = line + std::strlen(keyword);
  return ReadNumber(text, value);
}

int Clamp(int value, int low, int high) { return value < low ? low : value > high ? high : value; }

void SetClamped(const char* line, const char* keyword, int& setting, int low, int high) {
  int value;
  if (ReadValue(line, keyword, value)) setting = Clamp(value, low, high);
}

// A switch is on unless the word "off" appears anywhere on its line.
void SetSwitch(const char* line, bool& setting) { setting = std::strstr(line, "off") == nullptr; }

// Integer-valued margins in 0..3; anything outside turns the margin off.
void SetTimeMargin(const char* line, const char* keyword, double& setting) {
  int value;
  if (!ReadValue(line, keyword, value)) return;
  setting = value < 0 || value > 3 ? 0.0 : value;
}

void NotifyPruneMargins() {
  if (SettingsHooks::PruneMarginsChanged) SettingsHooks::PruneMarginsChanged();
}

void SetPruneMargin(const char* line, const char* keyword, int* margins) {
  const char* text = line + std::strlen(keyword);
  int level, percent;
  if (!ReadNumber(text, level) || !ReadNumber(text, percent)) return;
  margins[Clamp(level, 1, 8)] = Clamp(percent, 25, 400);
  NotifyPruneMargins();
}

// The first word after the keyword; false when there is none.
bool ReadWord(const char* line, const char* keyword, const char*& word, std::size_t& length) {
  word = SkipBlanks(line + std::strlen(keyword));
  length = 0;
  while (word[length] && !IsBlank(word[length])) length++;
  return length > 0;
}

void AddConfiguredBook(const char* line, const char* keyword, int kind) {
  const char* word;
  std::size_t length;
  if (!ReadWord(line, keyword, word, length)) return;
  ConfiguredBookList& books = ConfiguredBooks;
  if (books.Count >= ConfiguredBookList::MaxBooks) {
    books.Dropped.emplace_back(word, length);
    return;
  }
  books.Names[books.Count].assign(word, length);
  books.Kinds[books.Count] = kind;
  books.Count++;
}

void SetCtgBook(const char* line, const char* keyword) {
  const char* word;
  std::size_t length;
  if (!ReadWord(line, keyword, word, length)) return;
  Settings::CtgBook.assign(word, length);
  Settings::CtgBookSet = true;
}

// The path is the rest of the line from the twelfth character on: "syzygypath"
// and one separator come first, and blanks inside the path are kept. A line
// that ends before the path could begin leaves the path as it was.
void SetSyzygyPath(const char* line) {
  constexpr std::size_t PathStart = 11;
  std::size_t length = std::strcspn(line, "\r\n");
  if (length < PathStart) return;
  CopyBounded(Settings::SyzygyPath, line + PathStart, length - PathStart, sizeof Settings::SyzygyPath - 1);
}

void SetIcsMode(const char* line) {
  if (std::strstr(line, "off"))
    Settings::IcsMode = 0;
  else if (std::strstr(line, "on"))
    Settings::IcsMode = 1;
  else
    Settings::IcsMode = 2;
}

using namespace Settings;

struct IniKeyword {
  const char* Keyword;
  void (*Apply)(const char* line, const char* keyword);
  // The line is still offered to the keywords after this one.
  bool FallThrough = false;
};

// Tried in this order; the first keyword that begins the line wins, so a
// longer keyword must never follow one that is its prefix.
const IniKeyword IniKeywords[] = {
    {"mainhash",
     [](const char* line, const char* keyword) {
       int value;
       if (!ReadValue(line, keyword, value)) return;
       MainHash = Clamp(value, 1, MaxHashMb);
       if (SettingsHooks::MainHashChanged) SettingsHooks::MainHashChanged();
     }},
    {"cpus",
     [](const char* line, const char* keyword) {
       int value;
       if (!ReadValue(line, keyword, value)) return;
       Cpus = Clamp(value, 1, 32);
       if (SettingsHooks::CpusChanged) SettingsHooks::CpusChanged();
     }},
    {"splitdepth", [](const char* line, const char* keyword) { SetClamped(line, keyword, SplitDepth, 0, 32); }},
    {"minsplit", [](const char* line, const char* keyword) { SetClamped(line, keyword, MinSplit, 2, 12); }},
    {"maxsplit", [](const char* line, const char* keyword) { SetClamped(line, keyword, MaxSplit, 2, 12); }},
    {"gluecores", [](const char* line, const char*) { SetSwitch(line, GlueCores); }},
    {"donullmove", [](const char* line, const char*) { SetSwitch(line, DoNullMove); }},
    {"nullbase", [](const char* line, const char* keyword) { SetClamped(line, keyword, NullBase, 0, MaxNullBase); }},
    {"nullprogress", [](const char* line, const char* keyword) { SetClamped(line, keyword, NullProgress, 0, 16); }},
    {"ucioption", [](const char* line, const char*) { SetSwitch(line, UciOption); }},
    {"doiid", [](const char* line, const char*) { SetSwitch(line, DoIid); }},
    {"singular", [](const char* line, const char*) { SetSwitch(line, Singular); }},
    {"singextension", [](const char* line, const char* keyword) { SetClamped(line, keyword, SingExtension, 0, 4); }},
    {"singmargin", [](const char* line, const char* keyword) { SetClamped(line, keyword, SingMargin, 25, 400); }},
    {"extendlevel",
     [](const char* line, const char* keyword) { SetClamped(line, keyword, ExtendLevel, 0, MaxExtendLevel); }},
    {"lmrpv", [](const char* line, const char* keyword) { SetClamped(line, keyword, LmrPv, 0, MaxLmrPv); }},
    {"lmrextrapv",
     [](const char* line, const char* keyword) { SetClamped(line, keyword, LmrExtraPv, 0, MaxLmrExtraPv); }},
    {"lmrscout", [](const char* line, const char* keyword) { SetClamped(line, keyword, LmrScout, 0, MaxLmrScout); }},
    {"lmrextrascout",
     [](const char* line, const char* keyword) { SetClamped(line, keyword, LmrExtraScout, 0, MaxLmrExtraScout); }},
    {"prunelevel", [](const char* line, const char* keyword) { SetClamped(line, keyword, PruneLevel, 0, 8); }},
    {"prunesecure",
     [](const char* line, const char* keyword) {
       int value;
       if (!ReadValue(line, keyword, value)) return;
       PruneSecure = Clamp(value, 25, 400);
       NotifyPruneMargins();
     }},
    {"prunepv", [](const char* line, const char*) { SetSwitch(line, PrunePv); }},
    {"prunealphamargin", [](const char* line, const char* keyword) { SetPruneMargin(line, keyword, PruneAlphaMargin); }},
    {"prunebetamargin", [](const char* line, const char* keyword) { SetPruneMargin(line, keyword, PruneBetaMargin); }},
    {"timeuse", [](const char* line, const char* keyword) { SetClamped(line, keyword, TimeUse, 1, 200); }},
    {"minremaining", [](const char* line, const char* keyword) { SetClamped(line, keyword, MinRemaining, 1, 100); }},
    {"minmovesmargin", [](const char* line, const char* keyword) { SetTimeMargin(line, keyword, MinMovesMargin); }},
    {"minmatmargin", [](const char* line, const char* keyword) { SetTimeMargin(line, keyword, MinMatMargin); }},
    {"easymove", [](const char* line, const char*) { SetSwitch(line, EasyMove); }},
    {"learning", [](const char* line, const char*) { SetSwitch(line, Learning); }},
    {"savelearningoften", [](const char* line, const char*) { SetSwitch(line, SaveLearningOften); }},
    {"kingsafety", [](const char* line, const char* keyword) { SetClamped(line, keyword, KingSafety, 25, 400); }},
    {"kingshield", [](const char* line, const char* keyword) { SetClamped(line, keyword, KingShield, 25, 400); }},
    {"ponder", [](const char* line, const char*) { SetSwitch(line, Ponder); }},
    {"postoutput",
     [](const char* line, const char* keyword) {
       int value;
       if (!ReadValue(line, keyword, value)) return;
       PostOutput = value < 0 ? 0 : value > 3 ? 1 : value;
     }},
    {"logging", [](const char* line, const char*) { SetSwitch(line, Logging); }},
    {"priolow", [](const char* line, const char*) { SetSwitch(line, PrioLow); }},
    {"icsmode", [](const char* line, const char*) { SetIcsMode(line); }, true},
    {"bookfile", [](const char* line, const char* keyword) { AddConfiguredBook(line, keyword, 1); }},
    {"bookpoly", [](const char* line, const char* keyword) { AddConfiguredBook(line, keyword, 5); }},
    {"bookctg", [](const char* line, const char* keyword) { AddConfiguredBook(line, keyword, 4); }},
    {"bookclient", [](const char* line, const char* keyword) { AddConfiguredBook(line, keyword, 7); }},
    {"bookrandom",
     [](const char* line, const char* keyword) {
       int value;
       if (ReadValue(line, keyword, value)) BookRandom = value;
     }},
    {"ctgbook", [](const char* line, const char* keyword) { SetCtgBook(line, keyword); }},
    {"syzygypath", [](const char* line, const char*) { SetSyzygyPath(line); }},
    {"szqsearch", [](const char* line, const char*) { SetSwitch(line, SzQsearch); }},
    {"szdepth", [](const char* line, const char* keyword) { SetClamped(line, keyword, SzDepth, -1, 256); }},
};

void ApplyIniLine(const char* line) {
  for (const IniKeyword& entry : IniKeywords) {
    if (std::strncmp(line, entry.Keyword, std::strlen(entry.Keyword)) != 0) continue;
    entry.Apply(line, entry.Keyword);
    if (!entry.FallThrough) return;
  }
}

}  // namespace

bool ReadIniFile(const char* baseName) {
  char fileName[256];
  std::snprintf(fileName, sizeof fileName, "%.251s.ini", baseName);
  std::FILE* file = std::fopen(fileName, "r");
  if (!file) return true;
  // 254 characters a read: the rest of a longer line is read as a line of
  // its own, which matches no keyword unless it happens to begin with one.
  char line[255];
  while (std::fgets(line, sizeof line, file)) {
    if (line[0] == '#') continue;
    ApplyIniLine(line);
  }
  std::fclose(file);
  return false;
}

void PrintSettings() {
  using namespace Settings;
  using std::printf;
  printf("\n");
  printf("Number of search threads = %d\n", Cpus);
  printf("Main Hashsize            = %d Mb\n", MainHash);
  printf("Do Position Learning     = %d\n", Learning);
  printf("Do Nullmove              = %d\n", DoNullMove);
  if (DoNullMove) {
    printf("   Base                  = %3.1f\n", NullBase / 4.0);
    printf("   Progressive           = %d\n", NullProgress);
  }
  printf("Do IID                   = %d\n", DoIid);
  printf("Do Singular Extensions   = %d\n", Singular);
  if (Singular) {
    printf("   Extension             = %3.1f\n", SingExtension / 4.0);
    printf("   Margin                = %d%%\n", SingMargin);
  }
  printf("Extend Level             = %d\n", ExtendLevel);
  printf("LMR PV Reduction         = %3.1f\n", LmrPv / 4.0);
  printf("    Extra                = %3.1f\n", LmrExtraPv / 4.0);
  printf("LMR Scout Reduction      = %3.1f\n", LmrScout / 4.0);
  printf("    Extra                = %3.1f\n", LmrExtraScout / 4.0);
  printf("Split Depth              = %d\n", SplitDepth);
  printf("Min Moves Split          = %d\n", MinSplit);
  printf("Max Moves Split          = %d\n", MaxSplit);
  if (GlueCores) printf("Workers glued to cpus\n");
  printf("Post Mode                = %d\n", PostOutput);
  printf("Prune Level              = %d\n", PruneLevel);
  if (PruneLevel > 0) {
    printf("Prune PV                 = %d\n", PrunePv);
    printf("Prune Secure             = %d%%\n", PruneSecure);
    for (int level = 1; level <= PruneLevel && level <= 8; level++) {
      printf("PruneAlpha [%d]           = %d%%\n", level, PruneAlphaMargin[level]);
      printf("PruneBeta [%d]            = %d%%\n", level, PruneBetaMargin[level]);
    }
  }
  printf("King Safety              = %d%%\n", KingSafety);
  printf("King Shield              = %d%%\n", KingShield);
  printf("Time Usage               = %d%%\n", TimeUse);
  printf("ICS Mode                 = %s", IcsMode == 0 ? "off\n" : IcsMode == 1 ? "active\n" : "smart\n");
  printf("Easy Move                = %d\n", EasyMove);
  printf("Bookfile                 = %s\n", ConfiguredBooks.Count > 0 ? ConfiguredBooks.Names[0].c_str() : "");
  if (CtgBookSet) printf("CTG Book                 = %s\n", CtgBook.c_str());
  printf("Variant                  = %d\n", DefaultVariant);
  printf("Syzygy path       = %s\n", SyzygyPath);
  printf("Syzygy probe in quiescense = %d\n", SzQsearch);
  printf("Syzygy probe depth in search = %d quarterplies\n", SzDepth);
  if (PrioLow) printf("Running in below normal priority\n");
  if (!UciOption) printf("Ignoring UCI options\n");
  printf("\n");
  std::fflush(stdout);
}
