// Start-up of the program: the configuration base name, the choice of the
// dialogue from the first piped line, and the work that needs a front end
// (configuration, log, messages, clock defaults, learning, books, tablebases).
#pragma once

#include <string>

// "quelm" unless the first command-line argument names another; ".ini" and
// ".log" are appended to it.
inline constexpr int ConfigBaseNameLength = 32;
extern char ConfigBaseName[ConfigBaseNameLength + 1];
// Set by main once the engine is initialised; the tablebases are then loaded.
extern bool SyzygyEnabled;

// Takes the base name from the first argument (at most 32 characters).
void SetConfigBaseName(int argc, char** argv);

enum class FrontEndChoice { Console, Xboard, Uci };
// The dialogue a GUI asks for with its first line: "xboard" or "uci" as a
// prefix, compared with case; anything else is the console.
FrontEndChoice ChooseFrontEnd(const char* firstLine);

// The directory the running program was started from, with a trailing '/',
// or empty when the system does not tell.
std::string ProgramDirectory();
// A GUI starts the engine from a directory of its own choosing, so a data
// file is taken from the current directory when it is there and otherwise
// from beside the program. Names with a directory part are used as given.
std::string FindDataFile(const std::string& name);

// Reads the messages file "<language>.lng" (looked up as above) into Messages.
// True on failure.
bool ReadMessages(const char* language);

// Everything of start-up that follows the choice of the front end. A missing
// messages file ends the program with exit code 1.
void LoadConfiguration(const char* baseName);
// Closes the learning file and the log at the end of the run.
void CloseConfiguration();
