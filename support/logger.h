// The log file: every line starts with the elapsed time and a direction mark
// ("-->" input, "<--" output, " | " other text, "---" trace).
#pragma once

#include <atomic>
#include <cstdint>

#include "support/binfile.h"
#include "support/clock.h"

enum LogDirection : int { LogInput = 0, LogOutput = 1, LogText = 2, LogTrace = 3 };

class Logger {
public:
  Logger();  // starts the clock
  ~Logger();

  // Opens "<baseName>.log" for appending; a log already open is closed first.
  // True on failure (the log then stays closed).
  bool Open(const char* baseName);
  // Writes text as it is; a line gets its stamp and mark from the write that
  // starts it. Any thread may write.
  void Write(int direction, const char* text);
  // Ends an unfinished line and flushes.
  void EndLine();
  // Writes the closing rule and closes the file (end of the run).
  void Close();
  bool IsOpen() const { return File.IsOpen(); }

  Clock Time;
  bool Verbose = false;

private:
  BinFile32 File;
  bool AtLineStart = true;
  std::atomic<std::uint32_t> Lock{0};
};

// The log of the run; null when logging is off.
extern Logger* ActiveLogger;
