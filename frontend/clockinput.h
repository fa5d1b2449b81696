// Clock values as a GUI or a user types them, read in 64 bits and clamped to
// ranges that the time allocation's arithmetic survives: hostile numbers
// ("time 1000000000", "level 0 99999999 0", an increment of 1e300) would
// otherwise wrap in 32 bits and make the engine move at once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace ClockInput {

// The ranges are ours, chosen far beyond any real time control while keeping
// every clock value, with an increment or two added, inside 32 bits:
// a clock or a base time up to 1,000,000,000 ms (about 11.5 days), an
// increment up to one day, and up to 10,000 moves per control.
inline constexpr std::int64_t MaxClockMs = 1000000000;
inline constexpr std::int64_t MaxIncrementMs = 86400000;
inline constexpr std::int64_t MaxMovesPerControl = 10000;

// The number at the start of text like atoi, but saturating in 64 bits
// instead of overflowing; 0 when there is none.
inline std::int64_t Number(const char* text) {
  if (!text) return 0;
  return static_cast<std::int64_t>(std::strtoll(text, nullptr, 10));
}

// A time left on a clock, in ms: a GUI may report a fallen flag as a negative
// time, so the range is symmetric.
inline std::int32_t ClockMs(std::int64_t ms) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(ms, -MaxClockMs, MaxClockMs));
}

// A clock as xboard gives it, in centiseconds.
inline std::int32_t ClockMsOfCentiseconds(std::int64_t centiseconds) {
  return ClockMs(std::clamp<std::int64_t>(centiseconds, -MaxClockMs, MaxClockMs) * 10);
}

// A base time in whole seconds (0 up to the clock's maximum).
inline std::int32_t BaseSeconds(std::int64_t seconds) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(seconds, 0, MaxClockMs / 1000));
}


// An increment given in seconds as a decimal number (xboard allows fractions).
inline std::int32_t IncrementMsOfSeconds(double seconds) {
  if (!(seconds > 0)) return 0;  // also NaN
  return static_cast<std::int32_t>(std::min(seconds * 1000, static_cast<double>(MaxIncrementMs)));
}

// Moves per time control: 0 (sudden death) up to the maximum; a negative
// count would read as a fixed time per move.
inline std::int32_t MovesPerControl(std::int64_t moves) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(moves, 0, MaxMovesPerControl));
}

// "minutes" or "minutes:seconds" as the level commands write a base time.
inline std::int32_t LevelBaseSeconds(const char* text) {
  std::int64_t seconds = std::clamp<std::int64_t>(Number(text), -MaxClockMs, MaxClockMs) * 60;
  for (const char* c = text; *c; ++c)
    if (*c == ':') {
      seconds += std::clamp<std::int64_t>(Number(c + 1), -MaxClockMs, MaxClockMs);
      break;
    }
  return BaseSeconds(seconds);
}

}  // namespace ClockInput
