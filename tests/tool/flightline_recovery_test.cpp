#include "tool/flightline_recovery.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Span {
  F64 from, to;
};

TEST(FlightlineRecovery, NumbersLinesByGaps) {
  struct Case {
    std::vector<Span> spans;
    U32 lines;
    std::string warnings;
  } cases[] = {
      // A gap of four intervals is a plain new line.
      {{{0.0, 95.0}, {130.0, 200.0}}, 2, ""},
      // A gap of three intervals warns, naming the numbers, the gap and the interval.
      {{{0.0, 95.0}, {120.0, 200.0}},
       2,
       "WARNING: flight lines 1 and 2 seperated by only 3 GPS time intervals of 10\n"},
      {{{0.0, 9.0}}, 1, ""},
      {{{0.0, 0.0}},
       1,
       "WARNING: cannot recover flightlines because all GPS time stamps are zero in 'f.las'\n"},
      {{{5.0, 5.0}, {100.0, 100.0}, {300.0, 305.0}}, 3, ""},
  };
  for (const Case& c : cases) {
    FlightlineRecovery r(10.0f);
    F64 last = 0.0;
    for (const Span& s : c.spans) {
      for (F64 t = s.from; t <= s.to; t += 1.0) {
        ASSERT_TRUE(r.add(t));
        last = t;
      }
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(r.finish("f.las", last, false), c.lines);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.warnings);
    U32 line = 0;
    ASSERT_TRUE(r.lookup(c.spans.front().from, &line));
    EXPECT_EQ(line, 1u);
    ASSERT_TRUE(r.lookup(c.spans.back().to, &line));
    EXPECT_EQ(line, c.lines);
  }
}

TEST(FlightlineRecovery, KeysAndMissingIntervals) {
  FlightlineRecovery r(10.0f);
  I32 key;
  ASSERT_TRUE(r.key_of(-0.5, &key));
  EXPECT_EQ(key, -1);
  EXPECT_FALSE(r.key_of(1e300, &key));
  EXPECT_FALSE(r.key_of(std::nan(""), &key));
  EXPECT_FALSE(r.add(1e300));

  ASSERT_TRUE(r.add(3.0));
  r.finish("f.las", 3.0, false);
  U32 line;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(r.lookup(25.0, &line));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: could not find interval 2 for GPS time 25 in map\n");
}

TEST(FlightlineRecovery, VerboseCountAndCustomInterval) {
  FlightlineRecovery r(5.0f);
  for (F64 t : {0.0, 4.0, 12.0, 30.0}) ASSERT_TRUE(r.add(t));
  testing::internal::CaptureStderr();
  EXPECT_EQ(r.finish("f.las", 30.0, true), 3u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: flight lines 1 and 2 seperated by only 2 GPS time intervals of 5\n"
            "recovered 3 flight lines\n");
}

}  // namespace
