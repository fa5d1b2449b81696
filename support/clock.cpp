// The clock's time base and its text form.
#include "support/clock.h"

#include <chrono>
#include <cstdio>

// A monotonic clock: only differences are ever used, and a wall clock set back
// or forward during a game would wreck the time control.
WallTime NowWallTime() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return {static_cast<std::int32_t>(ms / 1000), static_cast<std::int32_t>(ms % 1000)};
}

std::int64_t NowMicroseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void Clock::Start() {
  WallTime now = NowWallTime();
  StartSeconds = now.Seconds;
  StartMilliseconds = now.Milliseconds;
}

std::int32_t Clock::Elapsed() {
  WallTime now = NowWallTime();
  LastElapsed = (now.Seconds - StartSeconds) * 1000 - StartMilliseconds + now.Milliseconds;
  return LastElapsed;
}

const char* Clock::Format(std::int32_t ms) {
  if (ms < 0) ms = Elapsed();
  char* text = Texts[NextText];
  NextText = (NextText + 1) & 31;
  // One unsigned test rejects 0, negative values and anything past 100 hours.
  if (static_cast<std::uint32_t>(ms) - 1u > 359999999u) {
    std::snprintf(text, 16, "--:--:--.---");
    return text;
  }
  std::snprintf(text, 16, "%ld:%02ld:%02ld.%03ld", static_cast<long>(ms / 3600000),
                static_cast<long>((ms / 60000) % 60), static_cast<long>((ms / 1000) % 60),
                static_cast<long>(ms % 1000));
  return text;
}
