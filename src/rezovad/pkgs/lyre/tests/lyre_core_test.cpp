#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "llola_segments.h"
#include "lyre_axis.h"

TEST(LyreAxis, damage_spans_merge_into_their_hull) {
  struct Case {
    int start, extent, x, width, wantStart, wantExtent;
    const char *why;
  } cases[] = {
      {10, 5, 30, 10, 10, 30, "a later span stretches the end"},
      {30, 10, 10, 5, 10, 30, "an earlier span moves the start back"},
      {10, 30, 15, 5, 10, 30, "a span inside changes nothing"},
      {-1, -1, 15, 5, -1, -1, "the whole window stays whole"},
  };
  for (const Case &c : cases) {
    int s = c.start, e = c.extent;
    LyreMergeDamage(&s, &e, c.x, c.width);
    EXPECT_EQ(s, c.wantStart) << c.why;
    EXPECT_EQ(e, c.wantExtent) << c.why;
  }
}

TEST(LyreAxis, scroll_fractions_and_clamping) {
  double lo, hi;
  LyreScrollFractions(100, 400, 1000, &lo, &hi);
  EXPECT_DOUBLE_EQ(lo, 0.1);
  EXPECT_DOUBLE_EQ(hi, 0.5);
  LyreScrollFractions(0, 400, 100, &lo, &hi);  // content narrower than the window
  EXPECT_DOUBLE_EQ(hi, 1.0);
  LyreScrollFractions(0, 400, 0, &lo, &hi);  // empty strip: never NaN
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(hi, 1.0);
  EXPECT_EQ(LyreClampFirst(2000, 400, 1000), 600);
  EXPECT_EQ(LyreClampFirst(2000, 400, 100), 0);
  EXPECT_EQ(LyreClampFirst(-7, 400, 1000), 0);
}

TEST(LyreAxis, ruler_steps_keep_major_ticks_50_to_250_pixels_apart) {
  struct Case {
    double m, major;
    const char *format;
  } cases[] = {
      {1, 100, "%4.0f"},   {10, 1000, "%4.0f"}, {0.1, 10, "%4.0f"},
      {0.01, 1, "%4.0f"},  {0.001, 0.1, "%5.1f"}, {3600, 500000, "%4.0f"},
  };
  for (const Case &c : cases) {
    double major, minor;
    ASSERT_TRUE(LyreTicks(c.m, &major, &minor)) << c.m;
    EXPECT_NEAR(major, c.major, c.major * 1e-9) << c.m;
    EXPECT_NEAR(minor, c.major * 0.1, c.major * 1e-9) << c.m;
    double px = major / c.m;
    EXPECT_GE(px, 50 - 1e-9) << c.m;
    EXPECT_LT(px, 250) << c.m;
    EXPECT_EQ(LyreLabelFormat(major), c.format) << c.m;
  }
  double major, minor;
  for (double bad : {0.0, -1.0, std::numeric_limits<double>::infinity(), std::nan("")})
    EXPECT_FALSE(LyreTicks(bad, &major, &minor)) << bad;
}

// Stored samples are complements: larger values lie lower in the window
// coordinates (y grows downwards), louder positive samples higher.
TEST(LyreAxis, envelope_spans_each_columns_extremes) {
  // Four columns of two samples each.
  int16_t stored[8] = {0, 10, 20, 30, -10, -20, 5, 5};
  std::vector<LyrePoint> pts;
  LyreEnvelope(stored, 8, 2.0, 0, 0, 5, -20, 1.0f, &pts);
  ASSERT_EQ(pts.size(), 8u);  // the fifth column has no samples: the loop stops
  int want[4][2] = {{20, 30}, {40, 50}, {0, 10}, {25, 25}};
  for (int c = 0; c < 4; c++) {
    int lo = std::min(pts[2 * c].y, pts[2 * c + 1].y), hi = std::max(pts[2 * c].y, pts[2 * c + 1].y);
    EXPECT_EQ(pts[2 * c].x, c);
    EXPECT_EQ(lo, want[c][0]) << c;
    EXPECT_EQ(hi, want[c][1]) << c;
  }
  // Falling from column 1 to 2: the high point comes first to join the line.
  EXPECT_EQ(pts[4].y, 10);
  // A later first pixel reads further into the samples.
  LyreEnvelope(stored, 8, 2.0, 2, 0, 0, -20, 1.0f, &pts);
  ASSERT_EQ(pts.size(), 2u);
  EXPECT_EQ(std::min(pts[0].y, pts[1].y), 0);
}

TEST(LyreAxis, columns_before_the_wave_are_skipped) {
  int16_t stored[4] = {0, 0, 0, 0};
  std::vector<LyrePoint> pts;
  LyreEnvelope(stored, 4, 1.0, -3, 0, 10, 0, 1.0f, &pts);
  ASSERT_EQ(pts.size(), 8u);
  EXPECT_EQ(pts[0].x, 3);
}

TEST(LlolaSegments, insert_find_nearest_and_duplicates) {
  LlolaSegments s;
  EXPECT_EQ(s.Nearest(5), -1);
  ASSERT_TRUE(s.Insert(100, "a"));
  ASSERT_TRUE(s.Insert(150, "b"));
  ASSERT_TRUE(s.Insert(0, ""));
  EXPECT_FALSE(s.Insert(100, "again"));
  EXPECT_EQ(s.Count(), 3);
  EXPECT_EQ(s.Find(-1), -1);
  EXPECT_EQ(s.Find(100), 1);
  EXPECT_EQ(s.Find(149.9), 1);
  EXPECT_EQ(s.Nearest(125), 1);  // a tie goes to the earlier segment
  EXPECT_EQ(s.Nearest(126), 2);
  EXPECT_EQ(s.Nearest(-50), 0);
  EXPECT_DOUBLE_EQ(s.End(2, 300), 300);
}

TEST(LlolaSegments, active_segment_follows_inserts_and_erases) {
  LlolaSegments s;
  s.Insert(100, "a");
  s.Insert(200, "b");
  s.active = 1;
  s.Insert(50, "");
  EXPECT_EQ(s.active, 2);
  EXPECT_EQ(s.At(s.active).label, "b");
  s.Erase(0);
  EXPECT_EQ(s.At(s.active).label, "b");
  s.Erase(s.active);
  EXPECT_EQ(s.active, -1);
}
