// The log file: a time stamp and a direction mark at the start of each line.
#include "support/logger.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "support/spinlock.h"

Logger* ActiveLogger = nullptr;

namespace {
constexpr const char* ClosingRule = "-----------------\n\n";
}

Logger::Logger() { Time.Start(); }

Logger::~Logger() = default;

bool Logger::Open(const char* baseName) {
  if (File.IsOpen()) {
    File.WriteString(ClosingRule);
    File.Close();
  }
  std::string name = std::string(baseName) + ".log";
  if (File.Open(name.c_str(), BinFileAppend | BinFileWrite)) return true;
  AtLineStart = true;
  Write(LogText, "-----------------\n");
  return false;
}

void Logger::Write(int direction, const char* text) {
  SpinGuard guard(Lock);
  if (!File.IsOpen() || !*text) return;
  if (AtLineStart) {
    const char* format = direction == LogInput    ? "%-10s --> "
                         : direction == LogOutput ? "%-10s <-- "
                         : direction == LogText   ? "%-10s  |  "
                                                  : "%-10s --- ";
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, format, Time.Format(-1));
    File.WriteString(prefix);
  }
  File.WriteString(text);
  // Only a text that ends its line leaves the log at a line start: a text that
  // goes on after a '\n' leaves that line open, so the next write continues
  // it instead of gluing a stamp onto it, and EndLine can still finish it.
  std::size_t length = std::strlen(text);
  AtLineStart = text[length - 1] == '\n';
  if (std::memchr(text, '\n', length)) File.Flush();
}

void Logger::EndLine() {
  SpinGuard guard(Lock);
  if (!File.IsOpen()) {
    AtLineStart = true;
    return;
  }
  if (!AtLineStart) File.WriteString("\n");
  File.Flush();
  AtLineStart = true;
}

void Logger::Close() {
  SpinGuard guard(Lock);
  if (!File.IsOpen()) return;
  File.WriteString(ClosingRule);
  File.Close();
  AtLineStart = true;
}
