// The printer: one lock around formatting, the console write and the copy to
// the log, so that texts of different threads never interleave.
#include "support/output.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "support/logger.h"
#include "support/spinlock.h"

Output Printer;

namespace {
// Each print is flushed anyway; unbuffered, a long text also reaches the peer
// in one write instead of buffer-sized pieces.
[[maybe_unused]] const bool ConsoleOutputReady = [] { return std::setvbuf(stdout, nullptr, _IONBF, 0) == 0; }();
}  // namespace

void Output::Print(int channel, bool toLog, const char* format, ...) {
  {
    SpinGuard guard(Lock);
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(Buffer, sizeof Buffer, format, args);
    va_end(args);
    const char* text = Buffer;
    // Texts beyond the fixed buffer are formatted again into one of their size
    // rather than cut: a long PV or settings line must reach the GUI whole.
    std::vector<char> large;
    if (length >= static_cast<int>(sizeof Buffer)) {
      large.resize(static_cast<std::size_t>(length) + 1);
      va_start(args, format);
      std::vsnprintf(large.data(), large.size(), format, args);
      va_end(args);
      text = large.data();
    }
    if (length < 0) {
      // A format the C library refuses prints nothing rather than stale text.
      length = 0;
      Buffer[0] = 0;
    }
    int direction = LogText;
    if (channel == ChannelStdout) {
      std::fwrite(text, 1, static_cast<std::size_t>(length), stdout);
      direction = LogOutput;
    } else if (channel == ChannelStderr) {
      std::fwrite(text, 1, static_cast<std::size_t>(length), stderr);
      std::fflush(stderr);
    }
    Logger* logger = GetLogger();
    if (toLog && logger) logger->Write(direction, text);
  }
  std::fflush(stdout);
}
