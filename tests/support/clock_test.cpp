#include "support/clock.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct FormatCase {
  std::int32_t Ms;
  const char* Text;
};

// The unsigned range test: 0, negative values and more than 100 hours have no text.
const FormatCase FormatCases[] = {
    {0, "--:--:--.---"},          {1, "0:00:00.001"},         {999, "0:00:00.999"},
    {1000, "0:00:01.000"},        {59999, "0:00:59.999"},     {60000, "0:01:00.000"},
    {3723004, "1:02:03.004"},     {36000000, "10:00:00.000"}, {359999999, "99:59:59.999"},
    {360000000, "100:00:00.000"}, {360000001, "--:--:--.---"}, {2147483647, "--:--:--.---"},
};

TEST(ClockFormat, TextOfMilliseconds) {
  Clock clock;
  for (const FormatCase& c : FormatCases) EXPECT_STREQ(clock.Format(c.Ms), c.Text) << c.Ms;
}

TEST(ClockFormat, TextStaysValidForThirtyOneFurtherCalls) {
  Clock clock;
  const char* first = clock.Format(1);
  for (int i = 0; i < 31; i++) clock.Format(3723004);
  EXPECT_STREQ(first, "0:00:00.001");
  clock.Format(3723004);  // the 33rd call reuses the first buffer
  EXPECT_STREQ(first, "1:02:03.004");
}

TEST(ClockFormat, NegativeFormatsTheElapsedTimeAndRemembersIt) {
  Clock clock;
  clock.Start();
  // Set the start back 2.5 s rather than sleeping.
  clock.StartSeconds -= 2;
  clock.StartMilliseconds -= 500;
  std::string text = clock.Format(-1);
  EXPECT_GE(clock.LastElapsed, 2500);
  EXPECT_LT(clock.LastElapsed, 60000);
  EXPECT_EQ(text.substr(0, 6), "0:00:0");
}

}  // namespace
