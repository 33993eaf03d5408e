#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "ltwod_colors.h"

TEST(LtwodColors, colour_lists_scale_each_token_into_16_bits) {
  struct Case {
    const char *list;
    std::vector<uint16_t> reds;
    const char *error;
  } cases[] = {
      {"#f00 #00f", {0xF000, 0x0000}, ""},
      {"ff0000", {0xFF00}, ""},
      {"#fff000000fff", {0xFFF0}, ""},
      {"ffff00000000", {0xFFFF}, ""},
      {"  #f00##0f0  ", {0xF000, 0x0000}, ""},
      {"#f00 #abcd", {}, "Unknown color spec abcd"},
      {"#xyz", {}, "Unknown color spec xyz"},
      {"#fffffffffffffff", {}, "Unknown color spec fffffffffffffff"},
  };
  for (const Case &c : cases) {
    std::vector<LtwodRgb16> out;
    std::string err;
    bool ok = LtwodParseColorList(c.list, &out, &err);
    EXPECT_EQ(ok, !*c.error) << c.list;
    EXPECT_EQ(err, c.error) << c.list;
    if (!ok) continue;
    ASSERT_EQ(out.size(), c.reds.size()) << c.list;
    for (size_t i = 0; i < out.size(); i++) EXPECT_EQ(out[i].r, c.reds[i]) << c.list;
  }
}

TEST(LtwodColors, ramp_runs_from_low_to_high_with_gamma) {
  LtwodRgb16 lo{0, 0, 65535}, hi{65535, 0, 0};
  EXPECT_EQ(LtwodRampColor(0, 5, 1.0, lo, hi).r, 0);
  EXPECT_EQ(LtwodRampColor(4, 5, 1.0, lo, hi).r, 65535);
  EXPECT_EQ(LtwodRampColor(4, 5, 1.0, lo, hi).b, 0);
  EXPECT_EQ(LtwodRampColor(2, 5, 1.0, lo, hi).r, 32767);
  EXPECT_EQ(LtwodRampColor(2, 5, 2.0, lo, hi).r, 16383);
}

TEST(LtwodColors, peak_colours_fade_towards_white_with_grey_ridges) {
  // 1 3 5 4 2 3 6 1: peak 1 (rows 0-4, top row 2) ranks 1, peak 2 ranks 0.
  std::vector<LtwodPeak> peaks = LtwodPeaks::Split(0, {1, 3, 5, 4, 2, 3, 6, 1});
  LtwodRgb pure, shaded;
  EXPECT_EQ(LtwodPeakColor(peaks, 1, 5.0f, 0, 10, &pure, &shaded), 1);
  EXPECT_FLOAT_EQ(pure.g, 0.5f);  // orange
  EXPECT_FLOAT_EQ(shaded.r, 1.0f);
  EXPECT_FLOAT_EQ(shaded.g, 0.75f);  // half way to white
  EXPECT_FLOAT_EQ(shaded.b, 0.5f);
  EXPECT_EQ(LtwodPeakColor(peaks, 2, 5.0f, 0, 10, &pure, &shaded), 1);  // the top plateau is grey
  EXPECT_FLOAT_EQ(pure.r, 0.5f);
  EXPECT_FLOAT_EQ(pure.g, 0.5f);
  EXPECT_EQ(LtwodPeakColor(peaks, 1, 0.0f, 0, 10, &pure, &shaded), -1);  // not above low
  EXPECT_EQ(LtwodPeakColor(peaks, 9, 5.0f, 0, 10, &pure, &shaded), -1);  // no peak holds row 9
  LtwodRgb cls;
  EXPECT_FALSE(LtwodClassColor({0, 0, 1}, 0.0f, 0, 10, &cls));
  ASSERT_TRUE(LtwodClassColor({0, 0, 1}, 10.0f, 0, 10, &cls));
  EXPECT_FLOAT_EQ(cls.r, 0.0f);
  EXPECT_FLOAT_EQ(cls.b, 1.0f);
  EXPECT_FLOAT_EQ(LtwodValueShade(5.0f, 5, 5), 1.0f);  // an empty range does not divide by zero
}

TEST(LtwodColors, colour_map_files_replace_entries_in_order) {
  std::string path = testing::TempDir() + "ltwod_colormap.txt";
  {
    std::ofstream f(path);
    f << "0 0 0.5\nnot a colour\n2 -1 0.25\n";
  }
  ASSERT_TRUE(LtwodLoadPeakColors(path));
  EXPECT_FLOAT_EQ(LtwodPeakColors[0].b, 0.5f);
  EXPECT_FLOAT_EQ(LtwodPeakColors[1].r, 1.0f);  // clamped
  EXPECT_FLOAT_EQ(LtwodPeakColors[1].g, 0.0f);
  EXPECT_FLOAT_EQ(LtwodPeakColors[2].g, 1.0f);  // no line: keeps yellow
  EXPECT_FALSE(LtwodLoadPeakColors(path + ".missing"));
  EXPECT_FLOAT_EQ(LtwodPeakColors[0].r, 1.0f);  // defaults restored
  ASSERT_TRUE(LtwodLoadPeakColors(path));
  ASSERT_TRUE(LtwodLoadPeakColors("normal"));
  EXPECT_FLOAT_EQ(LtwodPeakColors[1].g, 0.5f);
}
