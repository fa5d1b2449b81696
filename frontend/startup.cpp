// Start-up work that needs the front end, in the order the program has always
// done it: the front end greets first, so that configuration messages follow
// the greeting of the console and xboard (UCI greets later, from its loop).
#include "frontend/startup.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "books/booklist.h"
#include "engine/bitboard.h"
#include "engine/frontendport.h"
#include "engine/timeman.h"
#include "frontend/inifile.h"
#include "frontend/learningfile.h"
#include "support/input.h"
#include "support/logger.h"
#include "support/messages.h"
#include "support/output.h"
#include "support/platform.h"
#include "tablebase/probe.h"

char ConfigBaseName[ConfigBaseNameLength + 1] = "quelm";
bool SyzygyEnabled = false;

void SetConfigBaseName(int argc, char** argv) {
  std::strcpy(ConfigBaseName, "quelm");
  if (argc < 2 || !argv[1]) return;
  std::strncpy(ConfigBaseName, argv[1], ConfigBaseNameLength);
  ConfigBaseName[ConfigBaseNameLength] = '\0';
}

FrontEndChoice ChooseFrontEnd(const char* firstLine) {
  if (std::strncmp(firstLine, "xboard", 6) == 0) return FrontEndChoice::Xboard;
  if (std::strncmp(firstLine, "uci", 3) == 0) return FrontEndChoice::Uci;
  return FrontEndChoice::Console;
}

std::string ProgramDirectory() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  path[length] = '\0';
  char* slash = std::strrchr(path, '/');
  if (!slash) return {};
  slash[1] = '\0';
  return path;
}

namespace {

bool IsReadableFile(const std::string& name) { return access(name.c_str(), R_OK) == 0; }

// The base name to hand to the configuration reader: as given, or with the
// program's directory in front when only that directory holds the file.
std::string IniBaseName(const char* baseName) {
  std::string ini = FindDataFile(std::string(baseName) + ".ini");
  return ini.substr(0, ini.size() - 4);
}

void OpenLog(const char* baseName) {
  auto* logger = new Logger;
  logger->Open(baseName);
  ActiveLogger = logger;
  Printer.SetLogger(logger);
  Input::SetLogger(logger);
}

}  // namespace

std::string FindDataFile(const std::string& name) {
  if (name.find('/') != std::string::npos || IsReadableFile(name)) return name;
  std::string besideProgram = ProgramDirectory() + name;
  if (!ProgramDirectory().empty() && IsReadableFile(besideProgram)) return besideProgram;
  return name;
}

bool ReadMessages(const char* language) {
  std::string path = FindDataFile(std::string(language) + ".lng");
  return !LoadMessagesFile(path.substr(0, path.size() - 4).c_str());
}

void LoadConfiguration(const char* baseName) {
  ActiveFrontEnd->StartUp();
  ReadIniFile(IniBaseName(baseName).c_str());
  if (Settings::PrioLow) LowerProcessPriority();
  if (Settings::Logging) OpenLog(baseName);
  if (PopcntAvailable) ActiveFrontEnd->Info("CPU has POPCNT");

  if (ReadMessages("english")) {
    std::fprintf(stderr, "FATAL ERROR: Cannot read the %s messages file\n", "english");
    std::exit(1);
  }

  ClockSettings::Reset();
  if (Settings::Learning) OpenLearning();
  OpenConfiguredBooks();
  if (SyzygyEnabled) InitTablebases(Settings::SyzygyPath);
}

void CloseConfiguration() {
  if (ActiveLearning) {
    ActiveLearning->Close();
    delete ActiveLearning;
    ActiveLearning = nullptr;
  }
  // Books may still write to the log as they close.
  CloseBooks();
  if (ActiveLogger) {
    Printer.SetLogger(nullptr);
    Input::SetLogger(nullptr);
    if (ActiveLogger->IsOpen()) ActiveLogger->Close();
    delete ActiveLogger;
    ActiveLogger = nullptr;
  }
}
