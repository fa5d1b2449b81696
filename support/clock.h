// The millisecond time base of logs, front ends and time management, with the
// text form "h:mm:ss.mmm" used in log prefixes and reports.
#pragma once

#include <cstdint>

// Milliseconds of a monotonic clock, split as the clock keeps them.
struct WallTime {
  std::int32_t Seconds;
  std::int32_t Milliseconds;
};
WallTime NowWallTime();
// Microseconds of the same monotonic clock, for spans too short to count in
// milliseconds one by one.
std::int64_t NowMicroseconds();

class Clock {
public:
  // Sets the start to now.
  void Start();
  // Milliseconds since Start (also remembered as LastElapsed).
  std::int32_t Elapsed();
  // The text of ms ("--:--:--.---" outside 1..360000000); ms < 0 formats the
  // elapsed time. The text stays valid for 31 further calls on this clock.
  const char* Format(std::int32_t ms);

  std::int32_t StartSeconds = 0;
  std::int32_t StartMilliseconds = 0;
  std::int32_t LastElapsed = 0;

private:
  char Texts[32][16] = {};
  int NextText = 0;
};
