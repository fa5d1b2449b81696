// The one printer through which every module writes text: standard output,
// standard error, or the log only, each text optionally copied to the log.
#pragma once

#include <atomic>
#include <cstdint>

class Logger;

enum OutputChannel : int { ChannelStdout = 0, ChannelStderr = 1, ChannelLogOnly = 2 };

class Output {
public:
  // Formats like printf. Channel 0 standard output (logged as output, "<--"),
  // 1 standard error (logged as other text), 2 or more the log only.
  void Print(int channel, bool toLog, const char* format, ...) __attribute__((format(printf, 4, 5)));

  // Null turns the copy to the log off.
  void SetLogger(Logger* logger) { ActiveLog.store(logger, std::memory_order_release); }
  Logger* GetLogger() const { return ActiveLog.load(std::memory_order_acquire); }

private:
  std::atomic<std::uint32_t> Lock{0};
  std::atomic<Logger*> ActiveLog{nullptr};
  char Buffer[8192] = {};
};

extern Output Printer;
